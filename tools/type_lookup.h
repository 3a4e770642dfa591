// Resolving message and enum names given on the command line against the
// library's schema files, with suggestions for names that do not resolve.
#ifndef GCUPROTO_TOOLS_TYPE_LOOKUP_H
#define GCUPROTO_TOOLS_TYPE_LOOKUP_H

#include <google/protobuf/descriptor.h>

#include <string>
#include <vector>

namespace gcuproto::cli {

// The library's schema files, in link order.
const std::vector<const google::protobuf::FileDescriptor*>& SchemaFiles();

// Every message and enum of the schema files by full name, nested ones
// included, messages first, each group in file and declaration order.
std::vector<std::string> RegisteredMessageNames();
std::vector<std::string> RegisteredEnumNames();

// A message or enum of the schema files by full name ("Ping",
// "GetSerialNumberResp.DeviceMode"), or null.
const google::protobuf::Descriptor* FindMessage(const std::string& name);
const google::protobuf::EnumDescriptor* FindEnum(const std::string& name);

// The message named `name`; throws UsageError naming the nearest message names
// when there is none.
const google::protobuf::Descriptor& RequireMessage(const std::string& name);

// Up to `limit` names among `candidates` closest to `name`, best first: those
// containing it (ignoring case), then those within a few edits of it.
std::vector<std::string> NearestNames(const std::string& name,
                                      const std::vector<std::string>& candidates,
                                      std::size_t limit = 3);

// "unknown message type 'X'; nearest: A, B", or, when no name is close,
// "unknown message type 'X'; 'LISTER' lists them".
std::string UnknownNameMessage(const std::string& kind, const std::string& name,
                               const std::vector<std::string>& candidates,
                               const std::string& lister);

}  // namespace gcuproto::cli

#endif  // GCUPROTO_TOOLS_TYPE_LOOKUP_H
