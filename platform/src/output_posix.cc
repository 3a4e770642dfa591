#include <fcntl.h>
#include <gcuproto/platform/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <utility>
#include <vector>

#include "common.h"
#include "posix_util.h"

namespace gcuproto::platform {

using posix::LastError;

namespace {

// Follows symbolic links to the path that is finally written, which may not
// exist yet (a dangling link creates its target, as open() would).
std::error_code resolve_links(std::string path, std::string* resolved, struct stat* st,
                              bool* exists) {
  for (int hops = 0; hops < 40; ++hops) {
    if (::lstat(path.c_str(), st) != 0) {
      if (errno != ENOENT) return LastError();
      *exists = false;
      *resolved = path;
      return {};
    }
    if (!S_ISLNK(st->st_mode)) {
      *exists = true;
      *resolved = path;
      return {};
    }
    std::vector<char> link(static_cast<std::size_t>(st->st_size > 0 ? st->st_size : PATH_MAX) + 1);
    const ssize_t n = ::readlink(path.c_str(), link.data(), link.size());
    if (n < 0) return LastError();
    if (static_cast<std::size_t>(n) >= link.size())
      return std::make_error_code(std::errc::filename_too_long);
    std::string target(link.data(), static_cast<std::size_t>(n));
    path = target.front() == '/' ? target : DirectoryOf(path) + "/" + target;
  }
  return std::error_code(ELOOP, std::generic_category());
}

// Gives the replacement the old file's owner, group and mode. Returns false
// when the owner or group could not be kept (the caller then rewrites the old
// file in place, which keeps them).
bool copy_attributes(int fd, const struct stat& old) {
  bool kept = true;
  struct stat now;
  if (::fstat(fd, &now) == 0 && (now.st_uid != old.st_uid || now.st_gid != old.st_gid)) {
    if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
      kept = false;
      if (now.st_gid != old.st_gid) (void)::fchown(fd, static_cast<uid_t>(-1), old.st_gid);
    }
  }
  // After the owner: chown clears the set-user-ID bit.
  (void)::fchmod(fd, old.st_mode & 07777);
  return kept;
}

void sync_directory(const std::string& path) {
  const int fd = ::open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  (void)::fsync(fd);  // best effort: not every file system syncs directories
  ::close(fd);
}

}  // namespace

namespace os {

void RemoveFile(const std::string& path) { ::unlink(path.c_str()); }

std::error_code ReplaceTarget(const std::string& temporary, const std::string& target) {
  if (std::rename(temporary.c_str(), target.c_str()) != 0) return LastError();
  sync_directory(target);
  return {};
}

}  // namespace os

Output Output::Open(const std::string& path, std::error_code* error) {
  Output output;
  struct stat st;
  bool exists = false;
  *error = resolve_links(path, &output.target_, &st, &exists);
  if (*error) return Output();
  if (exists && S_ISDIR(st.st_mode)) {
    *error = std::make_error_code(std::errc::is_a_directory);
    return Output();
  }
  if (exists && !S_ISREG(st.st_mode)) {
    // Devices, FIFOs, sockets: written directly, never created or truncated.
    int fd;
    do {
      fd = ::open(output.target_.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
      *error = LastError();
      return Output();
    }
    output.file_ = File(fd, true);
    return output;
  }
  if (exists && ::access(output.target_.c_str(), W_OK) != 0) {
    // Renaming over a file we may not write would bypass its permissions.
    *error = LastError();
    return Output();
  }
  std::string temporary = output.target_ + ".XXXXXX";
  const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) {
    *error = LastError();
    return Output();
  }
  output.temporary_ = temporary;
  output.file_ = File(fd, true);
  if (exists) {
    const bool owner_kept = copy_attributes(fd, st);
    output.copy_in_place_ = st.st_nlink > 1 || !owner_kept;
  } else {
    // mkostemp gives the owner alone access; a new file gets what open()
    // would have given it.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    (void)::fchmod(fd, 0666 & ~mask);
  }
  *error = {};
  return output;
}

}  // namespace gcuproto::platform
