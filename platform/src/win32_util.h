// Shared by the Windows implementation files.
#ifndef GCUPROTO_PLATFORM_WIN32_UTIL_H
#define GCUPROTO_PLATFORM_WIN32_UTIL_H

#include <gcuproto/platform/file.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <string>
#include <system_error>

namespace gcuproto::platform::win32 {

// Win32 errors that have an errno twin come back as it, so that callers
// compare against std::errc and users read the same messages on every system.
inline std::error_code ToError(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_PATHNAME:
      return std::make_error_code(std::errc::no_such_file_or_directory);
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return std::make_error_code(std::errc::permission_denied);
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return std::make_error_code(std::errc::file_exists);
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return std::make_error_code(std::errc::no_space_on_device);
    case ERROR_DIRECTORY:
      return std::make_error_code(std::errc::not_a_directory);
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA:
      return std::make_error_code(std::errc::broken_pipe);
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return std::make_error_code(std::errc::not_enough_memory);
    case ERROR_WRITE_PROTECT:
      return std::make_error_code(std::errc::read_only_file_system);
    case ERROR_FILENAME_EXCED_RANGE:
      return std::make_error_code(std::errc::filename_too_long);
    case ERROR_INVALID_NAME:
    case ERROR_INVALID_PARAMETER:
    case ERROR_NO_UNICODE_TRANSLATION:
      return std::make_error_code(std::errc::invalid_argument);
    case ERROR_NEGATIVE_SEEK:
    case ERROR_SEEK:
      return std::make_error_code(std::errc::invalid_seek);
    default:
      return std::error_code(static_cast<int>(code), std::system_category());
  }
}

inline std::error_code LastError() { return ToError(::GetLastError()); }

// UTF-8 to the UTF-16 the wide API takes; false on bytes that are not UTF-8.
inline bool Widen(const std::string& utf8, std::wstring* wide) {
  wide->clear();
  if (utf8.empty()) return true;
  const int size = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(),
                                         static_cast<int>(utf8.size()), nullptr, 0);
  if (size <= 0) return false;
  wide->resize(static_cast<std::size_t>(size));
  ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()),
                        wide->data(), size);
  return true;
}

inline std::string Narrow(const std::wstring& wide) {
  if (wide.empty()) return {};
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                         nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), size,
                        nullptr, nullptr);
  return utf8;
}

inline HANDLE HandleOf(int fd) { return reinterpret_cast<HANDLE>(::_get_osfhandle(fd)); }

// Opens `path` for `access` with every sharing mode, so that, as on POSIX,
// others may read, write, rename or delete the file while it is open.
inline HANDLE OpenHandle(const std::string& path, DWORD access, DWORD disposition, DWORD flags,
                         std::error_code* error) {
  std::wstring wide;
  if (!Widen(path, &wide)) {
    *error = std::make_error_code(std::errc::invalid_argument);
    return INVALID_HANDLE_VALUE;
  }
  const HANDLE handle =
      ::CreateFileW(wide.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, disposition, flags, nullptr);
  *error = handle == INVALID_HANDLE_VALUE ? LastError() : std::error_code();
  return handle;
}

// What an open handle names. Disk files and directories get their identity
// (volume serial number and file index); consoles, NUL and pipes have none.
inline FileInfo HandleInfo(HANDLE handle, DWORD* links = nullptr) {
  FileInfo info;
  if (links != nullptr) *links = 1;
  switch (::GetFileType(handle)) {
    case FILE_TYPE_CHAR:
      info.kind = PathKind::kCharDevice;
      return info;
    case FILE_TYPE_PIPE:
      info.kind = PathKind::kFifo;
      return info;
    case FILE_TYPE_DISK:
      break;
    default:
      info.kind = PathKind::kOther;
      return info;
  }
  BY_HANDLE_FILE_INFORMATION by_handle;
  if (!::GetFileInformationByHandle(handle, &by_handle)) {
    info.kind = PathKind::kOther;
    return info;
  }
  info.kind = (by_handle.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? PathKind::kDirectory
                                                                           : PathKind::kRegular;
  info.id.device = by_handle.dwVolumeSerialNumber;
  info.id.inode = (std::uint64_t{by_handle.nFileIndexHigh} << 32) | by_handle.nFileIndexLow;
  info.id.valid = true;
  if (info.kind == PathKind::kRegular) {
    info.size = (std::uint64_t{by_handle.nFileSizeHigh} << 32) | by_handle.nFileSizeLow;
  }
  if (links != nullptr) *links = by_handle.nNumberOfLinks;
  return info;
}

}  // namespace gcuproto::platform::win32

#endif  // GCUPROTO_PLATFORM_WIN32_UTIL_H
