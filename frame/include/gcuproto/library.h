// Library-level facts for programs that enumerate the protocol at run time.
#ifndef GCUPROTO_LIBRARY_H
#define GCUPROTO_LIBRARY_H

#include <gcuproto/export.h>

#include <string>
#include <vector>

namespace google {
namespace protobuf {
class FileDescriptor;
}  // namespace protobuf
}  // namespace google

namespace gcuproto {

// The library's version as "major.minor.patch"; compare with GCUPROTO_VERSION
// from <gcuproto/version.h> to detect a header/library mismatch.
GCUPROTO_EXPORT const char* version();

// Registered names of the library's schema files, in link order.
GCUPROTO_EXPORT const std::vector<std::string>& schema_file_names();

// The library's schema files as found in the runtime's generated pool, in the
// order of schema_file_names(). Building them binds their descriptors.
GCUPROTO_EXPORT std::vector<const google::protobuf::FileDescriptor*> schema_files();

}  // namespace gcuproto

#endif  // GCUPROTO_LIBRARY_H
