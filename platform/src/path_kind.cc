#include <gcuproto/platform/file.h>

namespace gcuproto::platform {

const char* path_kind_name(PathKind kind) {
  switch (kind) {
    case PathKind::kMissing:
      return "missing";
    case PathKind::kRegular:
      return "regular file";
    case PathKind::kDirectory:
      return "directory";
    case PathKind::kFifo:
      return "FIFO";
    case PathKind::kCharDevice:
      return "character device";
    case PathKind::kBlockDevice:
      return "block device";
    case PathKind::kSocket:
      return "socket";
    case PathKind::kOther:
      break;
  }
  return "special file";
}

}  // namespace gcuproto::platform
