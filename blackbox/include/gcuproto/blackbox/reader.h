// Streaming reader of blackbox files.
#ifndef GCUPROTO_BLACKBOX_READER_H
#define GCUPROTO_BLACKBOX_READER_H

#include <gcuproto/blackbox.pb.h>
#include <gcuproto/blackbox/error.h>
#include <gcuproto/blackbox/export.h>
#include <gcuproto/blackbox/filter.h>
#include <gcuproto/blackbox/record.h>

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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
  // Carry on after damage instead of stopping there: from the next offset
  // where records frame, decode and continue each other's sequence numbers
  // and time stamps again. Every byte not delivered is then listed in
  // damaged_spans(), and no line that breaks those checks is delivered: a
  // line whose numbering or timing does not fit between its neighbours, a
  // line with fields a logger line or CAN line does not have, and records of
  // other kinds (which cannot be checked) are skipped as damage too.
  // on_undecodable_line is not used: such a line is damage like any other.
  bool resync = false;
  // A live log: a record cut short by the end of the input is taken for one
  // still being written, not for damage. Next() returns false with waiting()
  // set, and Resume() reads it again from its start once more has arrived.
  bool follow = false;
  // Lines it does not select are skipped, undecoded and uncounted.
  Filter filter;
};

// Bytes of the input that were not delivered, as a reader in resync mode
// skipped them.
struct DamagedSpan {
  std::uint64_t offset = 0;  // of the first byte skipped
  std::uint64_t length = 0;  // bytes skipped
  Error error;               // why the record at `offset` was not taken
  // Lines lost in the span: the sequence numbers missing between the lines
  // on either side, or 1 for a single line rejected or cut short; 0 when the
  // numbering does not tell.
  std::uint64_t records_skipped = 0;
};

// Reads a blackbox file one record at a time, holding one line at most:
//
//   gcuproto::blackbox::Reader reader(&input);
//   while (reader.Next()) {
//     if (reader.kind() == RecordKind::kLoggerLine) use(reader.logger_line());
//   }
//   if (reader.damage()) report(reader.damage()->offset(), reader.damage()->message());
//
// Every complete record before a damaged or cut-short tail is delivered
// first; the damage is reported once Next() has returned false. Top-level
// records other than the two line kinds are skipped and counted.
//
// A record is delivered as soon as its last byte has been read, so a pipe or
// a growing file is read live. The answer is the same whether the bytes come
// from a file, a pipe or memory. (A std::istream is read as far as its buffer
// says bytes are ready; std::cin synchronised with stdio says so for one byte
// at a time, so give it a FileInputStream on descriptor 0 for speed.)
class GCUPROTO_BLACKBOX_EXPORT Reader {
 public:
  // Reads from `input`, which must outlive the reader.
  explicit Reader(google::protobuf::io::ZeroCopyInputStream* input, ReaderOptions options = {});
  explicit Reader(std::istream* input, ReaderOptions options = {});
  ~Reader();
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  // Opens a file; null, with a kIo error naming the path, when it cannot.
  static std::unique_ptr<Reader> Open(const std::string& path, ReaderOptions options, Error* error);

  // Advances to the next line record; false at the end of the input or at
  // damage (in resync mode: at the end of the input only).
  bool Next();

  // After Next() returned false at the end of the input (or, in follow mode,
  // at a record still being written): reads on from the last complete
  // record, for an input that has grown since. Next() then delivers the new
  // records. False, changing nothing, after damage or a read error.
  bool Resume();
  // Next() returned false in follow mode at a record cut short by the end of
  // the input.
  bool waiting() const { return waiting_; }

  // The current record; valid after Next() returned true, until the next call.
  RecordKind kind() const { return kind_; }
  std::uint64_t offset() const { return offset_; }          // of the record's key
  std::uint64_t end_offset() const { return end_offset_; }  // just past the record
  std::string_view raw() const { return raw_; }             // the encoded line
  // The decoded line, of the kind the record is; with `decode` or `resync`.
  const BlackboxFileLine& logger_line() const {
    assert((options_.decode || options_.resync) && kind_ == RecordKind::kLoggerLine);
    return logger_line_;
  }
  const BlackboxCandumpFileLine& can_line() const {
    assert((options_.decode || options_.resync) && kind_ == RecordKind::kCanLine);
    return can_line_;
  }

  // What ended the reading, once Next() has returned false: kCutShort for a
  // record cut short by the end of the input, as a crash or a full disk
  // leaves it; kDamaged for bytes that are no record or a line that does not
  // decode, at the offset of that record; kIo for a read error, at the byte
  // where reading failed. Empty at a clean end. In resync mode: the first
  // damaged span.
  const std::optional<Error>& damage() const { return damage_; }

  std::uint64_t logger_lines() const { return logger_lines_; }
  std::uint64_t can_lines() const { return can_lines_; }
  std::uint64_t unknown_records() const { return unknown_records_; }
  std::uint64_t undecodable_lines() const { return undecodable_lines_; }
  // Bytes up to the end of the last complete record.
  std::uint64_t complete_bytes() const { return complete_bytes_; }
  // Bytes read from the input so far (after the end: the input's size).
  std::uint64_t bytes_read() const;

  // In resync mode, every span of the input skipped so far, in file order;
  // adjacent spans are merged. Empty otherwise.
  const std::vector<DamagedSpan>& damaged_spans() const { return spans_; }

 private:
  struct OwnedInput;

  // What resync mode knows of a line before it is delivered.
  struct Line {
    RecordKind kind;
    std::uint64_t offset, payload, end;
    std::uint32_t seq_no, timestamp;
    int inputs, outputs;  // samples of a logger line
    bool before_damage;   // damage follows it directly
    int slot;             // of its decoded form in the pools
  };
  enum class Framed { kLine, kEnd, kCutShort, kDamage };

  bool Fail(ErrorKind kind, std::uint64_t offset, std::string reason);
  bool FailCutShort(std::uint64_t offset, std::string reason);
  bool StopAtEnd();
  bool SkipUnknownRecord(std::uint32_t key);
  bool ReadRecordSlowly();
  bool Decode();
  // Resync mode.
  bool NextChecked();
  Framed ReadLine(std::uint32_t max_size, Line* line, std::string* why);
  Framed CheckLine(std::string_view bytes, Line* line, std::string* why);
  int TakeSlot();
  void FreeSlot(const Line& line) { free_slots_.push_back(line.slot); }
  void ReadAhead();
  void Resync(std::uint64_t damage, std::string reason);
  bool Keeps(const Line& line) const;
  const Line* Previous(RecordKind kind) const;
  void AddSpan(std::uint64_t offset, std::uint64_t end, ErrorKind kind, std::string reason,
               std::uint64_t records);

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

  std::optional<Error> damage_;
  std::uint64_t logger_lines_ = 0;
  std::uint64_t can_lines_ = 0;
  std::uint64_t unknown_records_ = 0;
  std::uint64_t undecodable_lines_ = 0;
  std::uint64_t complete_bytes_ = 0;
  bool waiting_ = false;

  std::vector<DamagedSpan> spans_;
  std::vector<Line> ahead_;      // read and checked, not yet delivered
  std::size_t ahead_first_ = 0;  // ahead_[ahead_first_] is delivered next
  bool input_done_ = false;
  // Damage met while reading ahead; the search for where the records go on
  // starts once the lines before it are delivered.
  bool resync_pending_ = false;
  std::uint64_t resync_at_ = 0;
  std::string resync_why_;
  bool have_last_[2] = {false, false};
  Line last_[2] = {};  // the last line delivered of each kind
  // Lines decoded when they were read ahead, by slot, so that delivering one
  // swaps it in instead of decoding it again.
  std::vector<BlackboxFileLine> logger_pool_;
  std::vector<BlackboxCandumpFileLine> can_pool_;
  std::vector<int> free_slots_;
};

}  // namespace blackbox
}  // namespace gcuproto

#endif  // GCUPROTO_BLACKBOX_READER_H
