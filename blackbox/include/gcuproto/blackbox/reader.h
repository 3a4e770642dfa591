// Streaming reader of blackbox files.
#ifndef GCUPROTO_BLACKBOX_READER_H
#define GCUPROTO_BLACKBOX_READER_H

#include <gcuproto/blackbox.pb.h>
#include <gcuproto/blackbox/export.h>
#include <gcuproto/blackbox/filter.h>
#include <gcuproto/blackbox/record.h>

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>

namespace google {
namespace protobuf {
namespace io {
class ZeroCopyInputStream;
}  // namespace io
}  // namespace protobuf
}  // namespace google

namespace gcuproto {
namespace blackbox {

class ByteSource;

struct ReaderOptions {
  // Decode each line into logger_line() / can_line(). Off, only raw() is
  // filled and a line's content is not checked.
  bool decode = true;
  // A line that does not decode ends the read as damage, as it would fail a
  // whole-file parse. With a handler, the line is reported to it and skipped.
  std::function<void(std::uint64_t offset, RecordKind kind)> on_undecodable_line;
  // Longest line accepted; a longer length is taken for damage rather than
  // buffered. The runtime itself refuses 2 GiB and more.
  std::uint32_t max_line_size = 64u << 20;
  // Lines it does not select are skipped, undecoded and uncounted.
  Filter filter;
};

// Reads a blackbox file one record at a time, holding one line at most:
//
//   gcuproto::blackbox::Reader reader(&input);
//   while (reader.next()) {
//     if (reader.kind() == RecordKind::kLoggerLine) use(reader.logger_line());
//   }
//   if (reader.damaged()) report(reader.damage_offset(), reader.damage_reason());
//
// Every complete record before a damaged or cut-short tail is delivered
// first; the damage is reported once next() has returned false. Top-level
// records other than the two line kinds are skipped and counted.
class GCUPROTO_BLACKBOX_EXPORT Reader {
 public:
  // Reads from `input`, which must outlive the reader.
  explicit Reader(google::protobuf::io::ZeroCopyInputStream* input, ReaderOptions options = {});
  explicit Reader(std::istream* input, ReaderOptions options = {});
  ~Reader();
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  // Opens a file; null with `*error` set ("PATH: reason") when it cannot be opened.
  static std::unique_ptr<Reader> Open(const std::string& path, ReaderOptions options,
                                      std::string* error);

  // Advances to the next line record; false at the end of the input or at
  // damage.
  bool next();

  // The current record; valid after next() returned true, until the next call.
  RecordKind kind() const { return kind_; }
  std::uint64_t offset() const { return offset_; }             // of the record's key
  std::uint64_t end_offset() const { return end_offset_; }     // just past the record
  std::string_view raw() const { return raw_; }                // the encoded line
  const BlackboxFileLine& logger_line() const { return logger_line_; }
  const BlackboxCandumpFileLine& can_line() const { return can_line_; }

  // After next() returned false.
  bool damaged() const { return !damage_reason_.empty(); }
  std::uint64_t damage_offset() const { return damage_offset_; }
  const std::string& damage_reason() const { return damage_reason_; }
  // The damage is a record cut short by the end of the input, as a crash or
  // a full disk leaves it, rather than bytes that are not a record.
  bool cut_short() const { return cut_short_; }

  std::uint64_t logger_lines() const { return logger_lines_; }
  std::uint64_t can_lines() const { return can_lines_; }
  std::uint64_t unknown_records() const { return unknown_records_; }
  std::uint64_t undecodable_lines() const { return undecodable_lines_; }
  // Bytes up to the end of the last complete record.
  std::uint64_t complete_bytes() const { return complete_bytes_; }

 private:
  struct OwnedInput;

  bool Fail(std::uint64_t offset, std::string reason);
  bool FailCutShort(std::uint64_t offset, std::string reason);
  bool SkipUnknownRecord(std::uint32_t key);
  bool ReadRecordSlowly();
  bool Decode();

  std::unique_ptr<OwnedInput> owned_;
  std::unique_ptr<ByteSource> source_;
  ReaderOptions options_;
  bool finished_ = false;
  bool skipped_unknown_ = false;

  RecordKind kind_ = RecordKind::kLoggerLine;
  std::uint64_t offset_ = 0;
  std::uint64_t end_offset_ = 0;
  std::string_view raw_;
  BlackboxFileLine logger_line_;
  BlackboxCandumpFileLine can_line_;

  std::uint64_t damage_offset_ = 0;
  std::string damage_reason_;
  bool cut_short_ = false;
  std::uint64_t logger_lines_ = 0;
  std::uint64_t can_lines_ = 0;
  std::uint64_t unknown_records_ = 0;
  std::uint64_t undecodable_lines_ = 0;
  std::uint64_t complete_bytes_ = 0;
};

}  // namespace blackbox
}  // namespace gcuproto

#endif  // GCUPROTO_BLACKBOX_READER_H
