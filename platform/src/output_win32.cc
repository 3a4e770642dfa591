#include <fcntl.h>
#include <gcuproto/platform/file.h>
#include <io.h>
#include <windows.h>

#include <utility>
#include <vector>

#include "common.h"
#include "win32_util.h"

namespace gcuproto::platform {

using win32::LastError;

namespace os {

void RemoveFile(const std::string& path) {
  std::wstring wide;
  if (win32::Widen(path, &wide)) ::DeleteFileW(wide.c_str());
}

std::error_code ReplaceTarget(const std::string& temporary, const std::string& target) {
  std::wstring from;
  std::wstring to;
  if (!win32::Widen(temporary, &from) || !win32::Widen(target, &to)) {
    return std::make_error_code(std::errc::invalid_argument);
  }
  // Write-through: the call returns once the rename is on the disk.
  if (!::MoveFileExW(from.c_str(), to.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return LastError();
  }
  return {};
}

}  // namespace os

namespace {

// The file a symbolic link finally names, by opening it. The \\?\ prefix
// GetFinalPathNameByHandleW gives is dropped where the path does not need it.
std::error_code final_path(HANDLE handle, std::string* path) {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD n = ::GetFinalPathNameByHandleW(
        handle, buffer.data(), static_cast<DWORD>(buffer.size()), FILE_NAME_NORMALIZED);
    if (n == 0) return LastError();
    if (n < buffer.size()) {
      std::wstring wide(buffer.data(), n);
      if (wide.rfind(L"\\\\?\\", 0) == 0 && wide.size() < MAX_PATH + 4 &&
          wide.rfind(L"\\\\?\\UNC\\", 0) != 0) {
        wide.erase(0, 4);
      }
      *path = win32::Narrow(wide);
      return {};
    }
    buffer.resize(n + 1);
  }
}

}  // namespace

Output Output::Open(const std::string& path, std::error_code* error) {
  Output output;
  output.target_ = path;
  // What is there now, through any symbolic link.
  HANDLE existing = win32::OpenHandle(path, FILE_READ_ATTRIBUTES, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, error);
  const bool exists = existing != INVALID_HANDLE_VALUE;
  if (!exists && *error != std::errc::no_such_file_or_directory) return Output();
  DWORD links = 1;
  DWORD attributes = FILE_ATTRIBUTE_NORMAL;
  if (exists) {
    const FileInfo info = win32::HandleInfo(existing, &links);
    BY_HANDLE_FILE_INFORMATION by_handle;
    if (info.kind == PathKind::kRegular && ::GetFileInformationByHandle(existing, &by_handle)) {
      attributes = by_handle.dwFileAttributes;
    }
    std::wstring wide;
    win32::Widen(path, &wide);
    const DWORD own = ::GetFileAttributesW(wide.c_str());
    if (info.kind == PathKind::kRegular && own != INVALID_FILE_ATTRIBUTES &&
        (own & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      *error = final_path(existing, &output.target_);
    }
    ::CloseHandle(existing);
    if (*error) return Output();
    if (info.kind == PathKind::kDirectory) {
      *error = std::make_error_code(std::errc::is_a_directory);
      return Output();
    }
    if (info.kind != PathKind::kRegular) {
      // Devices, consoles, pipes: written directly, never created or truncated.
      const HANDLE handle =
          win32::OpenHandle(output.target_, GENERIC_WRITE, OPEN_EXISTING, 0, error);
      if (handle == INVALID_HANDLE_VALUE) return Output();
      const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY);
      if (fd < 0) {
        ::CloseHandle(handle);
        *error = std::error_code(errno, std::generic_category());
        return Output();
      }
      output.file_ = File(fd, true);
      *error = {};
      return output;
    }
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
      // MoveFileExW would refuse at the end; say so before any work is done.
      *error = std::make_error_code(std::errc::permission_denied);
      return Output();
    }
  }
  // The temporary takes the old file's attributes (hidden, archive, ...); a
  // new file gets the default ones.
  const DWORD keep = attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                   FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
  const DWORD stamp = ::GetCurrentProcessId() ^ ::GetTickCount();
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    char suffix[16];
    static const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::uint64_t value = (std::uint64_t{stamp} << 8) + attempt * 7919u;
    for (int i = 0; i < 6; ++i, value /= 36) suffix[i] = kDigits[value % 36];
    suffix[6] = '\0';
    const std::string temporary = output.target_ + "." + suffix;
    const HANDLE handle = win32::OpenHandle(temporary, GENERIC_READ | GENERIC_WRITE, CREATE_NEW,
                                            keep != 0 ? keep : FILE_ATTRIBUTE_NORMAL, error);
    if (handle == INVALID_HANDLE_VALUE) {
      if (*error == std::errc::file_exists) continue;
      return Output();
    }
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY);
    if (fd < 0) {
      ::CloseHandle(handle);
      os::RemoveFile(temporary);
      *error = std::error_code(errno, std::generic_category());
      return Output();
    }
    output.file_ = File(fd, true);
    output.temporary_ = temporary;
    output.copy_in_place_ = links > 1;
    *error = {};
    return output;
  }
  return Output();
}

}  // namespace gcuproto::platform
