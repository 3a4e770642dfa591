// Every registered message type through the installed tool: the tool knows its
// name, encodes a fully populated instance from text into exactly the bytes the
// library writes, decodes them back to the same text, and carries them through
// JSON unchanged.
#include <gcuproto/library.h>
#include <google/protobuf/descriptor.h>
#include <google/protobuf/message.h>
#include <google/protobuf/text_format.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "tool_run.h"

namespace {

namespace fs = std::filesystem;
namespace pb = google::protobuf;

using gcuproto_test::read_file;
using gcuproto_test::run_tool;
using gcuproto_test::ToolRun;
using gcuproto_test::write_file;

void collect(const pb::Descriptor* type, std::vector<std::string>* names) {
  names->push_back(type->full_name());
  for (int i = 0; i < type->nested_type_count(); ++i) collect(type->nested_type(i), names);
}

std::vector<std::string> registered_messages() {
  std::vector<std::string> names;
  for (const pb::FileDescriptor* file : gcuproto::schema_files()) {
    for (int i = 0; i < file->message_type_count(); ++i) collect(file->message_type(i), &names);
  }
  return names;
}

// Enough variants to put each member of the widest oneof in turn, and at
// least two: the second puts numbers that no enumerator names into enums.
int variant_count(const pb::Descriptor& type) {
  int count = 2;
  for (int i = 0; i < type.oneof_decl_count(); ++i) {
    count = std::max(count, type.oneof_decl(i)->field_count());
  }
  return count;
}

// Sets `element` (for repeated fields, appends it) to a value unlike the
// default and unlike the other fields' values.
void put_value(pb::Message* message, const pb::FieldDescriptor* field, int element, int variant,
               int depth);

// Every field set (of a oneof, the member the variant picks), repeated fields
// with two elements, sub-messages filled in turn.
void fill(pb::Message* message, int variant, int depth) {
  const pb::Descriptor* type = message->GetDescriptor();
  for (int i = 0; i < type->field_count(); ++i) {
    const pb::FieldDescriptor* field = type->field(i);
    if (const pb::OneofDescriptor* oneof = field->real_containing_oneof()) {
      if (field->index_in_oneof() != variant % oneof->field_count()) continue;
    }
    if (field->message_type() != nullptr && depth >= 4) continue;
    const int elements = field->is_repeated() ? 2 : 1;
    for (int element = 0; element < elements; ++element) put_value(message, field, element, variant, depth);
  }
}

void put_value(pb::Message* message, const pb::FieldDescriptor* field, int element, int variant,
               int depth) {
  const pb::Reflection* reflection = message->GetReflection();
  const bool repeated = field->is_repeated();
  const int k = field->number() + 3 * element + 50 * variant;
  switch (field->cpp_type()) {
    case pb::FieldDescriptor::CPPTYPE_INT32: {
      const std::int32_t value = -1000 * k - 7;
      repeated ? reflection->AddInt32(message, field, value) : reflection->SetInt32(message, field, value);
      break;
    }
    case pb::FieldDescriptor::CPPTYPE_INT64: {
      const std::int64_t value = -(std::int64_t{1} << 40) - k;
      repeated ? reflection->AddInt64(message, field, value) : reflection->SetInt64(message, field, value);
      break;
    }
    case pb::FieldDescriptor::CPPTYPE_UINT32: {
      const std::uint32_t value = 4000000000u - static_cast<std::uint32_t>(k);
      repeated ? reflection->AddUInt32(message, field, value) : reflection->SetUInt32(message, field, value);
      break;
    }
    case pb::FieldDescriptor::CPPTYPE_UINT64: {
      const std::uint64_t value = (std::uint64_t{1} << 63) + static_cast<std::uint64_t>(k);
      repeated ? reflection->AddUInt64(message, field, value) : reflection->SetUInt64(message, field, value);
      break;
    }
    case pb::FieldDescriptor::CPPTYPE_FLOAT: {
      const float value = 0.5f + static_cast<float>(k);
      repeated ? reflection->AddFloat(message, field, value) : reflection->SetFloat(message, field, value);
      break;
    }
    case pb::FieldDescriptor::CPPTYPE_DOUBLE: {
      const double value = 0.25 + k;
      repeated ? reflection->AddDouble(message, field, value) : reflection->SetDouble(message, field, value);
      break;
    }
    case pb::FieldDescriptor::CPPTYPE_BOOL:
      repeated ? reflection->AddBool(message, field, true) : reflection->SetBool(message, field, true);
      break;
    case pb::FieldDescriptor::CPPTYPE_ENUM: {
      const pb::EnumDescriptor* type = field->enum_type();
      // A declared non-zero value, or on odd variants a number no enumerator has.
      int value = type->value(type->value_count() > 1 ? 1 + k % (type->value_count() - 1) : 0)->number();
      if (variant % 2 == 1) value = 1000 + k;
      repeated ? reflection->AddEnumValue(message, field, value)
               : reflection->SetEnumValue(message, field, value);
      break;
    }
    case pb::FieldDescriptor::CPPTYPE_STRING: {
      std::string value = field->type() == pb::FieldDescriptor::TYPE_STRING
                              ? "t\xC3\xA4xt " + field->name() + " " + std::to_string(k)
                              : std::string("\0\xFF\x01", 3) + field->name() + std::to_string(k);
      repeated ? reflection->AddString(message, field, value)
               : reflection->SetString(message, field, value);
      break;
    }
    case pb::FieldDescriptor::CPPTYPE_MESSAGE:
      fill(repeated ? reflection->AddMessage(message, field) : reflection->MutableMessage(message, field),
           variant, depth + 1);
      break;
  }
}

std::string text_of(const pb::Message& message) {
  pb::TextFormat::Printer printer;
  printer.SetUseUtf8StringEscaping(true);
  std::string text;
  printer.PrintToString(message, &text);
  return text;
}

class EveryMessageType : public testing::TestWithParam<std::string> {
 protected:
  // A directory of its own: several builds' test runs may share the temp dir.
  void SetUp() override {
    std::string pattern = (fs::path(testing::TempDir()) / "gcuproto_cli_types.XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path dir_;
};

TEST_P(EveryMessageType, IsNamedEncodedFromTextAndDecodedBack) {
  const std::string name = GetParam();
  const pb::Descriptor* type = pb::DescriptorPool::generated_pool()->FindMessageTypeByName(name);
  ASSERT_NE(type, nullptr);

  const ToolRun types = run_tool(dir_, "types " + name);
  EXPECT_EQ(types.status, 0);
  EXPECT_EQ(types.err, "");
  EXPECT_EQ(types.out.substr(0, types.out.find('\n')),
            "message " + name + " (" + type->file()->name() + ")");

  const pb::Message* prototype = pb::MessageFactory::generated_factory()->GetPrototype(type);
  for (int variant = 0; variant < variant_count(*type); ++variant) {
    SCOPED_TRACE("variant " + std::to_string(variant));
    const std::unique_ptr<pb::Message> message(prototype->New());
    fill(message.get(), variant, 0);
    const std::string text = text_of(*message);
    write_file(dir_ / "in.txt", text);

    const ToolRun encode = run_tool(dir_, "encode " + name + " in.txt -o out.bin");
    ASSERT_EQ(encode.status, 0) << encode.err;
    EXPECT_EQ(encode.err, "");
    EXPECT_EQ(read_file(dir_ / "out.bin"), message->SerializeAsString()) << text;

    const ToolRun decode = run_tool(dir_, "decode " + name + " out.bin");
    EXPECT_EQ(decode.status, 0) << decode.err;
    EXPECT_EQ(decode.err, "");
    EXPECT_EQ(decode.out, text);

    // Through JSON for the first two variants: every field type and both
    // kinds of enum value; the further variants only turn the oneofs, whose
    // member types are each carried through JSON as types of their own.
    if (variant >= 2) continue;
    const ToolRun json = run_tool(dir_, "decode " + name + " --json out.bin -o out.json");
    ASSERT_EQ(json.status, 0) << json.err;
    const ToolRun back = run_tool(dir_, "encode " + name + " --json out.json -o back.bin");
    ASSERT_EQ(back.status, 0) << back.err << read_file(dir_ / "out.json");
    EXPECT_EQ(read_file(dir_ / "back.bin"), message->SerializeAsString()) << read_file(dir_ / "out.json");
  }
}

INSTANTIATE_TEST_SUITE_P(Registered, EveryMessageType, testing::ValuesIn(registered_messages()),
                         [](const testing::TestParamInfo<std::string>& info) {
                           std::string name = info.param;
                           std::replace(name.begin(), name.end(), '.', '_');
                           return name;
                         });

TEST(RegisteredMessages, AreAll117) { EXPECT_EQ(registered_messages().size(), 117u); }

}  // namespace
