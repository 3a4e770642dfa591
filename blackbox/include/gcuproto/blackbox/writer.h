// Appending writer of blackbox files.
#ifndef GCUPROTO_BLACKBOX_WRITER_H
#define GCUPROTO_BLACKBOX_WRITER_H

#include <gcuproto/blackbox.pb.h>
#include <gcuproto/blackbox/error.h>
#include <gcuproto/blackbox/export.h>
#include <gcuproto/blackbox/record.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace gcuproto {
namespace platform {
class File;
}  // namespace platform
namespace blackbox {

struct WriterOptions {
  // Keep what the file holds and write after it; false starts an empty file.
  bool append = true;
  // Records are collected up to this many bytes before they go to the file.
  std::size_t buffer_size = 64 * 1024;
};

// Writes lines as records at the end of a blackbox file. Every record is
// complete in itself, so the file is valid after each flush and a file cut
// at any byte loses only the record the cut falls into.
//
// Opening for append checks the file first: a record cut short at its end
// (what a crash or a full disk leaves) is removed, so that new records do not
// land inside it; any other damage refuses the open, since the bytes after it
// may still be recovered by hand.
//
// A failed call says why in `*error` (kIo, naming the path; opening a
// damaged file: kDamaged at the damage) and leaves the file at its last
// complete record. After a failure, or after Close(), only Close() may be
// called; it reports the first failure again (debug builds assert on any
// other call).
class GCUPROTO_BLACKBOX_EXPORT Writer {
 public:
  static std::unique_ptr<Writer> Open(const std::string& path, WriterOptions options, Error* error);
  // Flushes; a failure there is lost, so call Close() to see it.
  ~Writer();
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;

  bool Write(const BlackboxFileLine& line, Error* error = nullptr);
  bool Write(const BlackboxCandumpFileLine& line, Error* error = nullptr);
  // A line already encoded (the raw view of a reader); not checked.
  bool WriteRaw(RecordKind kind, std::string_view encoded_line, Error* error = nullptr);

  // Hands the buffered records to the operating system.
  bool Flush(Error* error = nullptr);
  // Flush, then wait until the file's data is on the storage device.
  bool Sync(Error* error = nullptr);
  bool Close(Error* error = nullptr);

  // Size of the file with the records still buffered.
  std::uint64_t size() const { return committed_ + buffer_.size(); }
  // Bytes of a cut-short record removed from the end when the file was opened.
  std::uint64_t dropped_tail_bytes() const { return dropped_tail_; }

 private:
  Writer(std::unique_ptr<platform::File> file, std::string path, WriterOptions options,
         std::uint64_t size, std::uint64_t dropped_tail);
  template <typename Line>
  bool WriteLine(RecordKind kind, const Line& line, Error* error);
  // Takes the records and the file away from further calls.
  bool Failed(const std::string& what, std::error_code failure, Error* error);
  // A call that writes is made while it may.
  bool Writable() const { return file_ && !failure_; }
  bool Misused(Error* error) const;

  // The library's own file handle; users never see its type.
  std::unique_ptr<platform::File> file_;
  std::string path_;
  WriterOptions options_;
  std::string buffer_;
  std::uint64_t committed_;  // bytes in the file
  std::uint64_t dropped_tail_;
  std::optional<Error> failure_;  // the first, for Close() to report again
};

}  // namespace blackbox
}  // namespace gcuproto

#endif  // GCUPROTO_BLACKBOX_WRITER_H
