// Round trip of random messages of every type of the library: serialised,
// parsed back, compared field by field (unknown fields included) and written
// again to the same bytes.
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

using google::protobuf::Descriptor;
using google::protobuf::FieldDescriptor;
using google::protobuf::Message;
using google::protobuf::MessageFactory;
using google::protobuf::util::MessageDifferencer;
using gcuproto_test::AllMessageTypes;
using gcuproto_test::Hex;

constexpr std::uint32_t kSeed = 20240611;

std::unique_ptr<Message> NewMessage(const Descriptor* type) {
  return std::unique_ptr<Message>(MessageFactory::generated_factory()->GetPrototype(type)->New());
}

// Enough messages that every member of the widest oneof is drawn.
int MessageCount(const Descriptor* type) {
  int widest = 0;
  for (int i = 0; i < type->oneof_decl_count(); ++i) {
    widest = std::max(widest, type->oneof_decl(i)->field_count());
  }
  return 64 + 8 * widest;
}

std::vector<std::unique_ptr<Message>> RandomMessages(std::size_t type_index) {
  const Descriptor* type = AllMessageTypes()[type_index];
  gcuproto_test::RandomMessageFiller filler(kSeed + static_cast<std::uint32_t>(type_index));
  std::vector<std::unique_ptr<Message>> messages;
  for (int i = MessageCount(type); i > 0; --i) {
    messages.push_back(NewMessage(type));
    filler.Fill(messages.back().get());
  }
  return messages;
}

TEST(RoundTripProperty, LibraryHasAllMessageTypes) {
  EXPECT_EQ(AllMessageTypes().size(), 117u);
}

TEST(RoundTripProperty, RandomMessagesOfEveryTypeSurviveTheWire) {
  for (std::size_t t = 0; t < AllMessageTypes().size(); ++t) {
    const Descriptor* type = AllMessageTypes()[t];
    SCOPED_TRACE(type->full_name());
    for (const auto& original : RandomMessages(t)) {
      std::string bytes;
      ASSERT_TRUE(original->SerializeToString(&bytes));
      EXPECT_EQ(bytes.size(), original->ByteSizeLong());

      auto parsed = NewMessage(type);
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

// The property above is only as strong as the messages it is given: every
// field and every oneof member of each type is set in some message, and
// unknown fields come along.
TEST(RoundTripProperty, RandomMessagesReachEveryField) {
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

// The comparison counts unknown fields: a round trip that lost or changed one
// would be caught.
TEST(RoundTripProperty, ComparisonSeesUnknownFields) {
  const std::size_t t = 0;
  for (const auto& original : RandomMessages(t)) {
    if (original->GetReflection()->GetUnknownFields(*original).empty()) continue;
    auto changed = NewMessage(original->GetDescriptor());
    changed->CopyFrom(*original);
    EXPECT_TRUE(MessageDifferencer::Equals(*original, *changed));
    changed->GetReflection()->MutableUnknownFields(changed.get())->AddVarint(536870911, 1);
    EXPECT_FALSE(MessageDifferencer::Equals(*original, *changed));
    return;
  }
  FAIL() << "no message with unknown fields";
}

}  // namespace
