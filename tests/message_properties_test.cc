// Properties every message type of the library has, checked by reflection over
// all of them: random messages survive the wire, text fields take only UTF-8,
// bytes fields take any bytes, and unknown fields and undeclared enum values
// are kept and written back.
#include <google/protobuf/message.h>
#include <google/protobuf/unknown_field_set.h>
#include <google/protobuf/util/message_differencer.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "random_message.h"
#include "wire.h"

namespace {

using gcuproto_test::AllMessageTypes;
using gcuproto_test::Hex;
using gcuproto_test::NewMessage;
using gcuproto_test::Varint;
using google::protobuf::Descriptor;
using google::protobuf::FieldDescriptor;
using google::protobuf::Message;
using google::protobuf::util::MessageDifferencer;

constexpr std::uint32_t kSeed = 20240611;

std::string Key(const FieldDescriptor* field, int wire_type) {
  return Varint(gcuproto::wire::MakeKey(field->number(), wire_type));
}

// Enough messages that every member of the widest oneof is drawn.
std::vector<std::unique_ptr<Message>> RandomMessages(std::size_t type_index) {
  const Descriptor* type = AllMessageTypes()[type_index];
  int widest = 0;
  for (int i = 0; i < type->oneof_decl_count(); ++i) {
    widest = std::max(widest, type->oneof_decl(i)->field_count());
  }
  gcuproto_test::RandomMessageFiller filler(kSeed + static_cast<std::uint32_t>(type_index));
  std::vector<std::unique_ptr<Message>> messages;
  for (int i = 64 + 8 * widest; i > 0; --i) {
    messages.push_back(NewMessage(type));
    filler.Fill(messages.back().get());
  }
  return messages;
}

// Calls check(type, field) for every field of every type, traced by name.
template <typename Check>
void ForEveryField(Check check) {
  for (const Descriptor* type : AllMessageTypes()) {
    for (int i = 0; i < type->field_count(); ++i) {
      SCOPED_TRACE(type->field(i)->full_name());
      check(type, type->field(i));
    }
  }
}

TEST(EveryType, RandomMessagesSurviveTheWire) {
  for (std::size_t t = 0; t < AllMessageTypes().size(); ++t) {
    SCOPED_TRACE(AllMessageTypes()[t]->full_name());
    for (const auto& original : RandomMessages(t)) {
      std::string bytes;
      ASSERT_TRUE(original->SerializeToString(&bytes));
      EXPECT_EQ(bytes.size(), original->ByteSizeLong());
      auto parsed = NewMessage(original->GetDescriptor());
      ASSERT_TRUE(parsed->ParseFromString(bytes)) << Hex(bytes);
      std::string differences;
      MessageDifferencer differencer;
      differencer.ReportDifferencesToString(&differences);
      EXPECT_TRUE(differencer.Compare(*original, *parsed)) << Hex(bytes) << "\n" << differences;
      EXPECT_EQ(Hex(parsed->SerializeAsString()), Hex(bytes));
      if (HasFailure()) return;  // one broken type would otherwise flood the log
    }
  }
}

// The property above is only as strong as its messages: every field of each
// type is set in some message, and unknown fields come along.
TEST(EveryType, RandomMessagesReachEveryField) {
  for (std::size_t t = 0; t < AllMessageTypes().size(); ++t) {
    const Descriptor* type = AllMessageTypes()[t];
    SCOPED_TRACE(type->full_name());
    std::set<const FieldDescriptor*> seen;
    bool unknown_seen = false;
    for (const auto& message : RandomMessages(t)) {
      std::vector<const FieldDescriptor*> set_fields;
      message->GetReflection()->ListFields(*message, &set_fields);
      seen.insert(set_fields.begin(), set_fields.end());
      unknown_seen |= !message->GetReflection()->GetUnknownFields(*message).empty();
    }
    for (int i = 0; i < type->field_count(); ++i) {
      EXPECT_EQ(seen.count(type->field(i)), 1u) << "never set: " << type->field(i)->name();
    }
    EXPECT_TRUE(unknown_seen);
  }
}

TEST(EveryType, TextFieldsRejectInvalidUtf8) {
  int checked = 0;
  ForEveryField([&](const Descriptor* type, const FieldDescriptor* field) {
    if (field->type() != FieldDescriptor::TYPE_STRING) return;
    ++checked;
    for (const char* bad : {"\xC3\x28", "ok\xFF", "\xED\xA0\x80"}) {
      const std::string wire = Key(field, 2) + Varint(std::string(bad).size()) + bad;
      EXPECT_FALSE(NewMessage(type)->ParseFromString(wire)) << Hex(wire);
    }
    const std::string good = "t\xC3\xA4xt";
    EXPECT_TRUE(NewMessage(type)->ParseFromString(Key(field, 2) + Varint(good.size()) + good));
  });
  EXPECT_GT(checked, 0);
}

TEST(EveryType, BytesFieldsTakeAnyBytes) {
  std::string every_byte;
  for (int b = 0; b < 256; ++b) every_byte.push_back(static_cast<char>(b));
  int checked = 0;
  ForEveryField([&](const Descriptor* type, const FieldDescriptor* field) {
    if (field->type() != FieldDescriptor::TYPE_BYTES) return;
    ++checked;
    const std::string wire = Key(field, 2) + Varint(every_byte.size()) + every_byte;
    auto message = NewMessage(type);
    ASSERT_TRUE(message->ParseFromString(wire));
    const auto* r = message->GetReflection();
    EXPECT_EQ(field->is_repeated() ? r->GetRepeatedString(*message, field, 0)
                                   : r->GetString(*message, field),
              every_byte);
    EXPECT_EQ(Hex(message->SerializeAsString()), Hex(wire));
  });
  EXPECT_GT(checked, 0);
}

TEST(EveryType, UndeclaredEnumValuesAreKept) {
  int checked = 0;
  ForEveryField([&](const Descriptor* type, const FieldDescriptor* field) {
    if (field->type() != FieldDescriptor::TYPE_ENUM) return;
    ++checked;
    for (const int value : {12345, -7}) {
      ASSERT_EQ(field->enum_type()->FindValueByNumber(value), nullptr);
      const std::string number =
          Varint(static_cast<std::uint64_t>(static_cast<std::int64_t>(value)));
      const std::string wire = field->is_packed() ? Key(field, 2) + Varint(number.size()) + number
                                                  : Key(field, 0) + number;
      auto message = NewMessage(type);
      ASSERT_TRUE(message->ParseFromString(wire));
      const auto* r = message->GetReflection();
      EXPECT_EQ(field->is_repeated() ? r->GetRepeatedEnumValue(*message, field, 0)
                                     : r->GetEnumValue(*message, field),
                value);
      EXPECT_TRUE(r->GetUnknownFields(*message).empty());
      EXPECT_EQ(Hex(message->SerializeAsString()), Hex(wire));
    }
  });
  EXPECT_GT(checked, 0);
}

// Unknown fields of every wire type, before and after a known field, are kept
// and written back after the known fields, in the order they came.
TEST(EveryType, UnknownFieldsAreKept) {
  for (const Descriptor* type : AllMessageTypes()) {
    SCOPED_TRACE(type->full_name());
    int unused = 1;
    while (type->FindFieldByNumber(unused) != nullptr) ++unused;
    const auto key = [&](int wire_type) {
      return Varint(gcuproto::wire::MakeKey(unused, wire_type));
    };
    const std::string unknown = key(0) + Varint(300) + key(1) + "12345678" + key(2) + Varint(3) +
                                "abc" + key(3) + Varint(8) + Varint(1) + key(4) + key(5) + "1234" +
                                Varint(536870911ull << 3) + Varint(1);
    auto message = NewMessage(type);
    ASSERT_TRUE(message->ParseFromString(unknown));
    EXPECT_EQ(message->GetReflection()->GetUnknownFields(*message).field_count(), 6);
    EXPECT_EQ(Hex(message->SerializeAsString()), Hex(unknown));

    // With a known field in front or behind, the known one is written first.
    if (type->field_count() == 0) continue;
    const FieldDescriptor* field = type->field(0);
    std::string known;
    if (field->is_packed()) continue;  // covered by the vectors of packed lists
    if (field->cpp_type() == FieldDescriptor::CPPTYPE_MESSAGE) {
      known = Key(field, 2) + Varint(0);
    } else if (field->cpp_type() == FieldDescriptor::CPPTYPE_STRING) {
      known = Key(field, 2) + Varint(1) + "x";
    } else if (field->type() == FieldDescriptor::TYPE_FIXED32 ||
               field->type() == FieldDescriptor::TYPE_SFIXED32) {
      known = Key(field, 5) + "\x01\x02\x03\x04";
    } else if (field->type() == FieldDescriptor::TYPE_FIXED64 ||
               field->type() == FieldDescriptor::TYPE_SFIXED64) {
      known = Key(field, 1) + "12345678";
    } else {
      known = Key(field, 0) + Varint(1);
    }
    auto mixed = NewMessage(type);
    ASSERT_TRUE(mixed->ParseFromString(unknown + known));
    EXPECT_EQ(Hex(mixed->SerializeAsString()), Hex(known + unknown));
  }
}

}  // namespace
