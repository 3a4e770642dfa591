// Finding where the wire format of an input stops making sense, so that a
// failed parse can say at which byte it broke.
#ifndef GCUPROTO_TOOLS_WIRE_WALK_H
#define GCUPROTO_TOOLS_WIRE_WALK_H

#include <google/protobuf/descriptor.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace gcuproto::cli {

struct WireBreak {
  std::size_t offset = 0;  // of the field key (or packed value) at fault
  std::string what;        // what is wrong there, naming the field
};

// Walks `bytes` as a message of `type` and returns the first place where the
// runtime's parser would fail: a malformed key or varint, a length or fixed
// value running past its end, an unclosed group, a string field that is not
// UTF-8, or nesting past the runtime's limit. Length-delimited fields of
// message type are walked into; other fields are skipped as the wire format
// says. With a null `type`, only the outer sequence of fields is walked.
std::optional<WireBreak> FindWireBreak(std::string_view bytes,
                                       const google::protobuf::Descriptor* type);

// A size as the runtime's int-sized interfaces take it. The tool's inputs are
// bounded below 2 GiB, so a larger one is a bug: it throws InternalError
// rather than wrap around.
int RuntimeSize(std::size_t size);

}  // namespace gcuproto::cli

#endif  // GCUPROTO_TOOLS_WIRE_WALK_H
