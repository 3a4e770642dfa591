// Resolving message and enum names given on the command line against the
// library's schema files, with suggestions for names that do not resolve.
#ifndef GCUPROTO_TOOLS_TYPE_LOOKUP_H
#define GCUPROTO_TOOLS_TYPE_LOOKUP_H

#include <google/protobuf/descriptor.h>

#include <string>
#include <vector>

namespace gcuproto::cli {

// The library's schema files, in link order.
const std::vector<const google::protobuf::FileDescriptor*>& schema_files();

// Every message and enum of the schema files by full name, nested ones
// included, messages first, each group in file and declaration order.
std::vector<std::string> registered_message_names();
std::vector<std::string> registered_enum_names();

// A message or enum of the schema files by full name ("Ping",
// "GetSerialNumberResp.DeviceMode"), or null.
const google::protobuf::Descriptor* find_message(const std::string& name);
const google::protobuf::EnumDescriptor* find_enum(const std::string& name);

// The message named `name`; throws UsageError naming the nearest message names
// when there is none.
const google::protobuf::Descriptor& require_message(const std::string& name);

// Up to `limit` names among `candidates` closest to `name`, best first: those
// containing it (ignoring case), then those within a few edits of it.
std::vector<std::string> nearest_names(const std::string& name,
                                       const std::vector<std::string>& candidates,
                                       std::size_t limit = 3);

// "unknown message type 'X'; nearest: A, B", or, when no name is close,
// "unknown message type 'X'; 'LISTER' lists them".
std::string unknown_name_message(const std::string& kind, const std::string& name,
                                 const std::vector<std::string>& candidates,
                                 const std::string& lister);

}  // namespace gcuproto::cli

#endif  // GCUPROTO_TOOLS_TYPE_LOOKUP_H
