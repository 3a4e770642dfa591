#include <fcntl.h>
#include <gcuproto/platform/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <utility>

#include "common.h"
#include "posix_util.h"

namespace gcuproto::platform {

using posix::LastError;

std::error_code StatPath(const std::string& path, FileInfo* info) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) {
      *info = FileInfo{};
      return {};
    }
    return LastError();
  }
  *info = posix::ToInfo(st);
  return {};
}

void os::DropDescriptor(int fd) { (void)::close(fd); }

File File::Open(const std::string& path, Mode mode, std::error_code* error) {
  int flags = O_CLOEXEC | O_NOCTTY;
  switch (mode) {
    case Mode::kRead:
      flags |= O_RDONLY;
      break;
    case Mode::kWrite:
      flags |= O_WRONLY | O_CREAT | O_TRUNC;
      break;
    case Mode::kAppend:
      flags |= O_WRONLY | O_CREAT | O_APPEND;
      break;
    case Mode::kReadWrite:
      flags |= O_RDWR | O_CREAT;
      break;
  }
  int fd;
  do {
    fd = ::open(path.c_str(), flags, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    *error = LastError();
    return File();
  }
  *error = {};
  return File(fd, true);
}

File File::Scratch(const std::string& directory, std::error_code* error) {
  std::string dir = directory;
  if (dir.empty()) {
    const char* tmp = std::getenv("TMPDIR");
    dir = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
  }
  std::string name = dir + "/.gcuproto-scratch-XXXXXX";
  const int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) {
    *error = LastError();
    return File();
  }
  // Unlinked at once: nothing stays behind, whatever ends the process.
  ::unlink(name.c_str());
  *error = {};
  return File(fd, true);
}

File File::StandardInput() { return File(STDIN_FILENO, false); }
File File::StandardOutput() { return File(STDOUT_FILENO, false); }
File File::StandardError() { return File(STDERR_FILENO, false); }

std::size_t File::Read(void* buffer, std::size_t size, std::error_code* error) {
  *error = {};
  for (;;) {
    const ssize_t n = ::read(fd_, buffer, size);
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno != EINTR) break;
  }
  *error = LastError();
  return 0;
}

std::size_t File::ReadAt(void* buffer, std::size_t size, std::uint64_t offset,
                         std::error_code* error) {
  *error = {};
  for (;;) {
    const ssize_t n = ::pread(fd_, buffer, size, static_cast<off_t>(offset));
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno != EINTR) break;
  }
  *error = LastError();
  return 0;
}

std::error_code File::WriteAll(std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd_, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return LastError();
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return {};
}

std::error_code File::Seek(std::uint64_t offset) {
  if (::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0) return LastError();
  return {};
}

// A read past the end sees whatever was appended since.
void File::ForgetEnd() {}

std::error_code File::Info(FileInfo* info) const {
  struct stat st;
  if (::fstat(fd_, &st) != 0) return LastError();
  *info = posix::ToInfo(st);
  return {};
}

std::error_code File::Truncate(std::uint64_t size) {
  while (::ftruncate(fd_, static_cast<off_t>(size)) != 0) {
    if (errno != EINTR) return LastError();
  }
  return {};
}

std::error_code File::Sync() {
  while (::fsync(fd_) != 0) {
    if (errno != EINTR) return LastError();
  }
  return {};
}

bool File::IsTerminal() const { return fd_ >= 0 && ::isatty(fd_) == 1; }

std::error_code File::Close() {
  const int fd = std::exchange(fd_, -1);
  if (fd < 0 || !std::exchange(owned_, false)) return {};
  // Linux closes the descriptor even when close() reports EINTR: never retry.
  if (::close(fd) != 0 && errno != EINTR) return LastError();
  return {};
}

std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

void SetBinaryStdio() {}  // POSIX streams carry bytes unchanged

}  // namespace gcuproto::platform
