// Converting messages between their wire bytes and the readable forms the tool
// prints and reads (protobuf text format and JSON), with errors that say
// where the input went wrong.
#ifndef GCUPROTO_TOOLS_MESSAGE_IO_H
#define GCUPROTO_TOOLS_MESSAGE_IO_H

#include <google/protobuf/message.h>
#include <google/protobuf/unknown_field_set.h>

#include <memory>
#include <string>
#include <string_view>

#include "input.h"

namespace gcuproto::cli {

// A new, empty message of `type` from the runtime's generated factory.
std::unique_ptr<google::protobuf::Message> NewMessage(const google::protobuf::Descriptor& type);

// Parses `input` into `message`; throws InputError naming the type, the
// input's size and, where the wire walk finds it, the byte offset of the fault.
void ParseBinary(const Input& input, google::protobuf::Message* message);

// The message's wire bytes; throws InputError when the runtime reports a fault
// on the way (a string field that is not UTF-8).
std::string Serialize(const google::protobuf::Message& message);

// True when the message or any message inside it holds fields that its type
// does not declare.
bool HasUnknownFields(const google::protobuf::Message& message);

// Text format: strings as UTF-8, bytes escaped, unknown fields by number,
// enum values outside their enum as numbers. One line when `one_line`.
std::string PrintText(const google::protobuf::Message& message, bool one_line);
std::string PrintUnknownFields(const google::protobuf::UnknownFieldSet& fields, bool one_line);

// JSON with the field names as the schema declares them. Throws InputError if
// the message holds unknown fields, which JSON cannot show.
std::string PrintJson(const google::protobuf::Message& message, bool one_line,
                      const std::string& source);

// Both throw InputError as "NAME:LINE:COLUMN: what (reading TYPE from ...)".
void ParseText(std::string_view text, const std::string& name, google::protobuf::Message* message);
void ParseJson(std::string_view text, const std::string& name, google::protobuf::Message* message);

}  // namespace gcuproto::cli

#endif  // GCUPROTO_TOOLS_MESSAGE_IO_H
