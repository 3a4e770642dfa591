#include <fcntl.h>
#include <gcuproto/platform/file.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <climits>
#include <utility>

#include "common.h"
#include "win32_util.h"

namespace gcuproto::platform {

using win32::HandleOf;
using win32::LastError;

namespace {

std::error_code errno_error() { return std::error_code(errno, std::generic_category()); }

// The C runtime reads and writes at most INT_MAX bytes a call.
constexpr std::size_t kMaxCall = std::size_t{1} << 30;

}  // namespace

std::error_code StatPath(const std::string& path, FileInfo* info) {
  std::error_code error;
  const HANDLE handle = win32::OpenHandle(path, FILE_READ_ATTRIBUTES, OPEN_EXISTING,
                                          FILE_FLAG_BACKUP_SEMANTICS, &error);
  if (handle == INVALID_HANDLE_VALUE) {
    if (error == std::errc::no_such_file_or_directory || error == std::errc::not_a_directory) {
      *info = FileInfo{};
      return {};
    }
    return error;
  }
  *info = win32::HandleInfo(handle);
  ::CloseHandle(handle);
  return {};
}

void os::DropDescriptor(int fd) { (void)::_close(fd); }

File File::Open(const std::string& path, Mode mode, std::error_code* error) {
  DWORD access = GENERIC_READ;
  DWORD disposition = OPEN_EXISTING;
  int flags = _O_BINARY;
  switch (mode) {
    case Mode::kRead:
      flags |= _O_RDONLY;
      break;
    case Mode::kWrite:
      access = GENERIC_WRITE;
      disposition = CREATE_ALWAYS;
      break;
    // The C runtime moves to the end before every write of an _O_APPEND
    // descriptor; the handle can still truncate a torn tail.
    case Mode::kAppend:
      access = GENERIC_WRITE;
      disposition = OPEN_ALWAYS;
      flags |= _O_APPEND;
      break;
    case Mode::kReadWrite:
      access = GENERIC_READ | GENERIC_WRITE;
      disposition = OPEN_ALWAYS;
      break;
  }
  const HANDLE handle = win32::OpenHandle(path, access, disposition, FILE_ATTRIBUTE_NORMAL, error);
  if (handle == INVALID_HANDLE_VALUE) return File();
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), flags);
  if (fd < 0) {
    *error = errno_error();
    ::CloseHandle(handle);
    return File();
  }
  *error = {};
  return File(fd, true);
}

File File::Scratch(const std::string& directory, std::error_code* error) {
  std::wstring dir;
  if (directory.empty()) {
    wchar_t temp[MAX_PATH + 1];
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
    if (length == 0 || length > MAX_PATH) {
      *error = LastError();
      return File();
    }
    dir.assign(temp, length);
  } else if (!win32::Widen(directory, &dir)) {
    *error = std::make_error_code(std::errc::invalid_argument);
    return File();
  }
  wchar_t name[MAX_PATH];
  if (::GetTempFileNameW(dir.c_str(), L"gcu", 0, name) == 0) {
    *error = LastError();
    return File();
  }
  // Deleted by the system when the last handle goes, whatever ends the
  // process; GetTempFileNameW has created it empty.
  const HANDLE handle = ::CreateFileW(
      name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, TRUNCATE_EXISTING,
      FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    *error = LastError();
    ::DeleteFileW(name);
    return File();
  }
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY);
  if (fd < 0) {
    *error = errno_error();
    ::CloseHandle(handle);
    return File();
  }
  *error = {};
  return File(fd, true);
}

File File::StandardInput() { return File(0, false); }
File File::StandardOutput() { return File(1, false); }
File File::StandardError() { return File(2, false); }

std::size_t File::Read(void* buffer, std::size_t size, std::error_code* error) {
  *error = {};
  const int n = ::_read(fd_, buffer, static_cast<unsigned>(std::min(size, kMaxCall)));
  if (n >= 0) return static_cast<std::size_t>(n);
  *error = errno_error();
  return 0;
}

std::size_t File::ReadAt(void* buffer, std::size_t size, std::uint64_t offset,
                         std::error_code* error) {
  // A positioned ReadFile moves a synchronous handle's position; put it back.
  const HANDLE handle = HandleOf(fd_);
  LARGE_INTEGER here{};
  LARGE_INTEGER zero{};
  if (!::SetFilePointerEx(handle, zero, &here, FILE_CURRENT)) {
    *error = LastError();
    return 0;
  }
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD got = 0;
  const BOOL ok =
      ::ReadFile(handle, buffer, static_cast<DWORD>(std::min(size, kMaxCall)), &got, &at);
  const DWORD code = ok ? ERROR_SUCCESS : ::GetLastError();
  ::SetFilePointerEx(handle, here, nullptr, FILE_BEGIN);
  *error = {};
  if (ok || code == ERROR_HANDLE_EOF) return ok ? got : 0;
  *error = win32::ToError(code);
  return 0;
}

std::error_code File::WriteAll(std::string_view data) {
  while (!data.empty()) {
    const int n =
        ::_write(fd_, data.data(), static_cast<unsigned>(std::min(data.size(), kMaxCall)));
    if (n < 0) return errno_error();
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return {};
}

std::error_code File::Seek(std::uint64_t offset) {
  if (::_lseeki64(fd_, static_cast<__int64>(offset), SEEK_SET) < 0) return errno_error();
  return {};
}

void File::ForgetEnd() {
  if (fd_ >= 0) ::_lseeki64(fd_, 0, SEEK_CUR);
}

std::error_code File::Info(FileInfo* info) const {
  const HANDLE handle = HandleOf(fd_);
  if (handle == INVALID_HANDLE_VALUE) return std::make_error_code(std::errc::bad_file_descriptor);
  *info = win32::HandleInfo(handle);
  return {};
}

std::error_code File::Truncate(std::uint64_t size) {
  const HANDLE handle = HandleOf(fd_);
  LARGE_INTEGER here{};
  LARGE_INTEGER zero{};
  LARGE_INTEGER end{};
  end.QuadPart = static_cast<LONGLONG>(size);
  if (!::SetFilePointerEx(handle, zero, &here, FILE_CURRENT) ||
      !::SetFilePointerEx(handle, end, nullptr, FILE_BEGIN)) {
    return LastError();
  }
  const BOOL ok = ::SetEndOfFile(handle);
  const DWORD code = ok ? ERROR_SUCCESS : ::GetLastError();
  ::SetFilePointerEx(handle, here, nullptr, FILE_BEGIN);
  return ok ? std::error_code() : win32::ToError(code);
}

std::error_code File::Sync() {
  if (!::FlushFileBuffers(HandleOf(fd_))) return LastError();
  return {};
}

// _isatty says yes to every character device, NUL included; only a console
// has a console mode.
bool File::IsTerminal() const {
  DWORD mode = 0;
  return fd_ >= 0 && ::_isatty(fd_) != 0 && ::GetConsoleMode(HandleOf(fd_), &mode) != 0;
}

std::error_code File::Close() {
  const int fd = std::exchange(fd_, -1);
  if (fd < 0 || !std::exchange(owned_, false)) return {};
  if (::_close(fd) != 0) return errno_error();
  return {};
}

std::string DirectoryOf(const std::string& path) {
  const std::size_t separator = path.find_last_of("/\\:");
  if (separator == std::string::npos) return ".";
  // A drive's current directory "C:" and its root keep their separator.
  if (path[separator] == ':' || separator == 0 || (separator == 2 && path[1] == ':')) {
    return path.substr(0, separator + 1);
  }
  return path.substr(0, separator);
}

// Text mode would turn "\n" into "\r\n" on the way out and back on the way
// in, and stop reading at a Ctrl-Z.
void SetBinaryStdio() {
  ::_setmode(0, _O_BINARY);
  ::_setmode(1, _O_BINARY);
  ::_setmode(2, _O_BINARY);
}

}  // namespace gcuproto::platform
