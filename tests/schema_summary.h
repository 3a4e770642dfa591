// One-line summaries of a message's fields, so schema tests compare whole
// declarations at once.
#ifndef GCUPROTO_TESTS_SCHEMA_SUMMARY_H
#define GCUPROTO_TESTS_SCHEMA_SUMMARY_H

#include <google/protobuf/descriptor.h>

#include <string>

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

}  // namespace gcuproto_test

#endif  // GCUPROTO_TESTS_SCHEMA_SUMMARY_H
