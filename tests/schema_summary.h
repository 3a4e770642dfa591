// One-line summaries of a message's fields, so schema tests compare whole
// declarations at once.
#ifndef GCUPROTO_TESTS_SCHEMA_SUMMARY_H
#define GCUPROTO_TESTS_SCHEMA_SUMMARY_H

#include <google/protobuf/descriptor.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace gcuproto_test {

// "name=number [repeated [packed]] type [enum or message name]; ..." in
// declaration order.
inline std::string Fields(const google::protobuf::Descriptor* message) {
  std::string out;
  for (int i = 0; i < message->field_count(); ++i) {
    const google::protobuf::FieldDescriptor* field = message->field(i);
    if (i != 0) out += "; ";
    out += field->name() + "=" + std::to_string(field->number()) + " ";
    if (field->is_repeated()) out += field->is_packed() ? "repeated packed " : "repeated ";
    out += field->type_name();
    if (field->enum_type() != nullptr) out += " " + field->enum_type()->full_name();
    if (field->message_type() != nullptr) out += " " + field->message_type()->full_name();
  }
  return out;
}

struct MessageShape {
  const google::protobuf::Descriptor* message;
  const char* fields;  // as Fields() writes them
};

// The file declares exactly these messages, in this order, with these fields
// and no oneofs.
inline void ExpectMessages(const google::protobuf::FileDescriptor* file,
                           const std::vector<MessageShape>& messages) {
  ASSERT_EQ(file->message_type_count(), static_cast<int>(messages.size()));
  for (std::size_t i = 0; i < messages.size(); ++i) {
    SCOPED_TRACE(messages[i].message->name());
    EXPECT_EQ(file->message_type(static_cast<int>(i)), messages[i].message) << "declaration order";
    EXPECT_EQ(Fields(messages[i].message), messages[i].fields);
    EXPECT_EQ(messages[i].message->oneof_decl_count(), 0);
  }
}

}  // namespace gcuproto_test

#endif  // GCUPROTO_TESTS_SCHEMA_SUMMARY_H
