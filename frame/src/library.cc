#include <gcuproto/library.h>
#include <gcuproto/version.h>
#include <google/protobuf/descriptor.h>

#include <iterator>

#include "schema_list.h"

namespace gcuproto {

const char* version() { return GCUPROTO_VERSION; }

const std::vector<std::string>& schema_file_names() {
  static const std::vector<std::string> names(std::begin(kSchemaFileNames),
                                              std::end(kSchemaFileNames));
  return names;
}

std::vector<const google::protobuf::FileDescriptor*> schema_files() {
  const google::protobuf::DescriptorPool* pool = google::protobuf::DescriptorPool::generated_pool();
  std::vector<const google::protobuf::FileDescriptor*> files;
  files.reserve(schema_file_names().size());
  for (const std::string& name : schema_file_names()) {
    // Every listed file is compiled into this library and registered at load
    // time, so the lookup cannot miss.
    files.push_back(pool->FindFileByName(name));
  }
  return files;
}

}  // namespace gcuproto
