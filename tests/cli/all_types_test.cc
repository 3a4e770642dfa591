// Every registered message type through the installed tool: the tool knows its
// name, encodes a fully populated instance from text into exactly the bytes the
// library writes, decodes them back to the same text, and carries them through
// JSON unchanged.
#include <google/protobuf/descriptor.h>
#include <google/protobuf/message.h>
#include <google/protobuf/text_format.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "random_message.h"
#include "scratch_dir.h"
#include "tool_run.h"

namespace {

namespace pb = google::protobuf;

using gcuproto_test::ReadFile;
using gcuproto_test::run_tool;
using gcuproto_test::ToolRun;
using gcuproto_test::WriteFile;

// Enough variants to put each member of the widest oneof in turn, and at
// least two: odd variants put numbers that no enumerator names into enums.
int VariantCount(const pb::Descriptor& type) {
  int count = 2;
  for (int i = 0; i < type.oneof_decl_count(); ++i) {
    count = std::max(count, type.oneof_decl(i)->field_count());
  }
  return count;
}

std::string TextOf(const pb::Message& message) {
  pb::TextFormat::Printer printer;
  printer.SetUseUtf8StringEscaping(true);
  std::string text;
  printer.PrintToString(message, &text);
  return text;
}

class EveryMessageType : public testing::TestWithParam<std::string> {
 protected:
  gcuproto_test::ScratchDir dir_{"gcuproto_cli_types"};
};

TEST_P(EveryMessageType, IsNamedEncodedFromTextAndDecodedBack) {
  const std::string name = GetParam();
  const pb::Descriptor* type = pb::DescriptorPool::generated_pool()->FindMessageTypeByName(name);
  ASSERT_NE(type, nullptr);
  const ToolRun types = run_tool(dir_.path(), "types " + name);
  EXPECT_EQ(types.status, 0);
  EXPECT_EQ(types.err, "");
  EXPECT_EQ(types.out.substr(0, types.out.find('\n')),
            "message " + name + " (" + type->file()->name() + ")");

  const pb::Message* prototype = pb::MessageFactory::generated_factory()->GetPrototype(type);
  gcuproto_test::RandomMessageFiller filler(static_cast<std::uint32_t>(type->index()) + 17);
  for (int variant = 0; variant < VariantCount(*type); ++variant) {
    SCOPED_TRACE("variant " + std::to_string(variant));
    const std::unique_ptr<pb::Message> message(prototype->New());
    filler.FillEvery(message.get(), variant);
    const std::string text = TextOf(*message);
    WriteFile(dir_ / "in.txt", text);

    const ToolRun encode = run_tool(dir_.path(), "encode " + name + " in.txt -o out.bin");
    ASSERT_EQ(encode.status, 0) << encode.err;
    EXPECT_EQ(encode.err, "");
    EXPECT_EQ(ReadFile(dir_ / "out.bin"), message->SerializeAsString()) << text;

    const ToolRun decode = run_tool(dir_.path(), "decode " + name + " out.bin");
    EXPECT_EQ(decode.status, 0) << decode.err;
    EXPECT_EQ(decode.err, "");
    EXPECT_EQ(decode.out, text);

    // Through JSON for the first two variants: every field type and both
    // kinds of enum value; the further variants only turn the oneofs, whose
    // member types are each carried through JSON as types of their own.
    if (variant >= 2) continue;
    const ToolRun json = run_tool(dir_.path(), "decode " + name + " --json out.bin -o out.json");
    ASSERT_EQ(json.status, 0) << json.err;
    const ToolRun back = run_tool(dir_.path(), "encode " + name + " --json out.json -o back.bin");
    ASSERT_EQ(back.status, 0) << back.err << ReadFile(dir_ / "out.json");
    EXPECT_EQ(ReadFile(dir_ / "back.bin"), message->SerializeAsString())
        << ReadFile(dir_ / "out.json");
  }
}

std::vector<std::string> TypeNames() {
  std::vector<std::string> names;
  for (const auto* type : gcuproto_test::AllMessageTypes()) names.push_back(type->full_name());
  return names;
}

INSTANTIATE_TEST_SUITE_P(Registered, EveryMessageType, testing::ValuesIn(TypeNames()),
                         [](const testing::TestParamInfo<std::string>& info) {
                           std::string name = info.param;
                           std::replace(name.begin(), name.end(), '.', '_');
                           return name;
                         });

}  // namespace
