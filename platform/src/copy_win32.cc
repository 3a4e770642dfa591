#include <gcuproto/platform/file.h>

#include "common.h"

namespace gcuproto::platform {

// Windows has no in-kernel copy between arbitrary handles.
CopyResult CopyRange(File& from, std::uint64_t offset, std::uint64_t length, File& to) {
  CopyResult result;
  CopyByBlocks(from, offset, length, to, &result);
  return result;
}

}  // namespace gcuproto::platform
