// Placing the protobuf runtime's JSON parse errors in the text. The runtime
// reports a syntax error with a snippet of the text and a caret under the
// fault, and a value error (a wrong value, an unknown field) with the path of
// the field ("commands[1].index") but no position; both are turned into an
// offset here.
#ifndef GCUPROTO_TOOLS_JSON_LOCATE_H
#define GCUPROTO_TOOLS_JSON_LOCATE_H

#include <google/protobuf/descriptor.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace gcuproto::cli {

struct JsonFault {
  std::optional<std::size_t> offset;  // into the JSON text, when found
  std::string what;                   // the runtime's message on one line
};

// `message` is the runtime's status message for `json` parsed as `type`.
JsonFault LocateJsonFault(std::string_view json, const google::protobuf::Descriptor& type,
                          std::string_view message);

}  // namespace gcuproto::cli

#endif  // GCUPROTO_TOOLS_JSON_LOCATE_H
