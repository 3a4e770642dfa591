// The few file operations the library and the tool need, the same on every
// system: an owning file handle, what a path names, outputs that replace a
// file only once complete, and byte-range copies. Paths are UTF-8. Failures
// come back as std::error_code (errno values on POSIX, Win32 error codes on
// Windows); nothing here throws.
#ifndef GCUPROTO_PLATFORM_FILE_H
#define GCUPROTO_PLATFORM_FILE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>

namespace gcuproto::platform {

enum class PathKind {
  kMissing,
  kRegular,
  kDirectory,
  kFifo,
  kCharDevice,
  kBlockDevice,
  kSocket,
  kOther
};

// "regular file", "directory", "FIFO", ... for messages.
const char* PathKindName(PathKind kind);

// Names one file whatever path reaches it (device and inode on POSIX, volume
// serial number and file index on Windows).
struct FileId {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  bool valid = false;
  bool operator==(const FileId& other) const {
    return valid && other.valid && device == other.device && inode == other.inode;
  }
  bool operator!=(const FileId& other) const { return !(*this == other); }
};

struct FileInfo {
  PathKind kind = PathKind::kMissing;
  FileId id;
  std::uint64_t size = 0;  // meaningful for regular files only
};

// What `path` names, following symbolic links. A missing path is not an
// error: it gives kind kMissing.
std::error_code StatPath(const std::string& path, FileInfo* info);

class File {
 public:
  enum class Mode {
    kRead,       // existing file, read only
    kWrite,      // create or truncate, write only
    kAppend,     // create if missing, every write at the end
    kReadWrite,  // create if missing, keep the content, read and write
  };

  File() = default;
  ~File();
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // Never inherited by child processes. New files get 0666 less the umask.
  static File Open(const std::string& path, Mode mode, std::error_code* error);
  // A file without a name for scratch data, gone once closed, opened for
  // reading and writing: in `directory`, or for "" in the system's directory
  // for temporary files (TMPDIR or /tmp; GetTempPath on Windows).
  static File Scratch(const std::string& directory, std::error_code* error);
  // Standard input, output and error, not closed by the handle.
  static File StandardInput();
  static File StandardOutput();
  static File StandardError();

  bool is_open() const { return fd_ >= 0; }
  // The C runtime descriptor (for protobuf's FileInputStream and the like).
  int descriptor() const { return fd_; }

  // Up to `size` bytes from the current position; 0 at the end of the file
  // or on failure (then `error` is set). Interrupted calls are retried.
  std::size_t Read(void* buffer, std::size_t size, std::error_code* error);
  // Up to `size` bytes from `offset`, leaving the position alone.
  std::size_t ReadAt(void* buffer, std::size_t size, std::uint64_t offset, std::error_code* error);
  // All of `data`, or an error.
  std::error_code WriteAll(std::string_view data);
  std::error_code Seek(std::uint64_t offset);
  // Lets the next read() see bytes appended since a read met the end of the
  // file: the Windows C runtime answers every read after that with 0 until
  // the position is set again.
  void ForgetEnd();
  std::error_code Info(FileInfo* info) const;
  std::error_code Truncate(std::uint64_t size);
  // Waits until what was written is on stable storage.
  std::error_code Sync();
  bool IsTerminal() const;
  // Closes now, reporting what the close reports (a late write error on some
  // file systems). A borrowed standard stream is left open.
  std::error_code Close();

 private:
  friend class Output;
  File(int fd, bool owned) : fd_(fd), owned_(owned) {}
  int fd_ = -1;
  bool owned_ = false;
};

// The directory part of `path` ("." for a bare name), with the system's
// separators.
std::string DirectoryOf(const std::string& path);

// Standard input and output pass bytes unchanged (no newline translation).
void SetBinaryStdio();

// An output that is whole or absent. For a regular file, or a path that does
// not exist yet, the bytes go to a temporary file beside it, and commit()
// makes them the file's content; until then the old file is untouched, and an
// output destroyed without commit() leaves no trace. A symbolic link is
// followed: its final target is what gets replaced, the link stays. The
// replacement keeps the old file's mode and, where the system allows, its
// owner and group. Where a rename would split hard links or could not keep
// the owner, the file is rewritten in place instead, but only from the
// complete output synced in the temporary file (a failure of that copy keeps
// the temporary file and says where it is). Anything else (a device, FIFO, socket, terminal) is
// written directly, as it cannot be replaced.
class Output {
 public:
  Output() = default;
  ~Output();
  Output(Output&& other) noexcept;
  Output& operator=(Output&& other) noexcept;
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;

  // A directory, or a path whose directory is missing or not writable, is an
  // error.
  static Output Open(const std::string& path, std::error_code* error);
  static Output StandardOutput();

  File& file() { return file_; }
  // True when commit() replaces a file; false when the bytes go out directly.
  bool replaces() const { return !temporary_.empty(); }
  // The file that is replaced: the path with its symbolic links resolved.
  const std::string& target() const { return target_; }

  // Syncs and installs the output. On failure `detail` (if given) says what
  // is left where, e.g. the temporary that still holds the complete output.
  std::error_code Commit(std::string* detail = nullptr);

 private:
  File file_;
  std::string target_;
  std::string temporary_;
  bool copy_in_place_ = false;  // the target has other hard links
};

struct CopyResult {
  std::uint64_t copied = 0;
  std::error_code error;
  bool output_failed = false;  // the error was the output's, else the input's
};

// Copies `length` bytes from `from` at `offset` (its position is left alone)
// to `to` at its current position, with the system's in-kernel copy where it
// has one. Copies fewer without an error only when `from` ends first.
CopyResult CopyRange(File& from, std::uint64_t offset, std::uint64_t length, File& to);

}  // namespace gcuproto::platform

#endif  // GCUPROTO_PLATFORM_FILE_H
