// Shared by the POSIX implementation files.
#ifndef GCUPROTO_PLATFORM_POSIX_UTIL_H
#define GCUPROTO_PLATFORM_POSIX_UTIL_H

#include <gcuproto/platform/file.h>
#include <sys/stat.h>

#include <cerrno>
#include <system_error>

namespace gcuproto::platform::posix {

inline std::error_code LastError() { return std::error_code(errno, std::generic_category()); }

inline FileInfo ToInfo(const struct stat& st) {
  FileInfo info;
  if (S_ISREG(st.st_mode))
    info.kind = PathKind::kRegular;
  else if (S_ISDIR(st.st_mode))
    info.kind = PathKind::kDirectory;
  else if (S_ISFIFO(st.st_mode))
    info.kind = PathKind::kFifo;
  else if (S_ISCHR(st.st_mode))
    info.kind = PathKind::kCharDevice;
  else if (S_ISBLK(st.st_mode))
    info.kind = PathKind::kBlockDevice;
  else if (S_ISSOCK(st.st_mode))
    info.kind = PathKind::kSocket;
  else
    info.kind = PathKind::kOther;
  info.id.device = static_cast<std::uint64_t>(st.st_dev);
  info.id.inode = static_cast<std::uint64_t>(st.st_ino);
  info.id.valid = true;
  info.size = info.kind == PathKind::kRegular ? static_cast<std::uint64_t>(st.st_size) : 0;
  return info;
}

}  // namespace gcuproto::platform::posix

#endif  // GCUPROTO_PLATFORM_POSIX_UTIL_H
