// Text exports of blackbox files: CSV of the logger lines, JSON lines of both
// kinds, and the CAN lines in the log format of Linux can-utils (candump -l).
//
// The formatters work on a line's encoded bytes, as Reader::raw() gives them,
// so a reader opened with `decode = false` feeds them without decoding twice:
//
//   ReaderOptions options;
//   options.decode = false;
//   std::unique_ptr<Reader> scan = Reader::Open(path, options, &error);
//   CsvFormatter csv(ScanCsvColumns(scan.get()));      // first pass: the widths
//   std::unique_ptr<Reader> reader = Reader::Open(path, options, &error);
//   FdSink sink(STDOUT_FILENO);
//   ExportResult result = Export(reader.get(), &csv, &sink);
//   if (!result.ok || reader->damaged()) ...
//
// Formatting goes into large blocks handed to a Sink; numbers are formatted
// from tables and std::to_chars, never through iostreams.
#ifndef GCUPROTO_BLACKBOX_EXPORTER_H
#define GCUPROTO_BLACKBOX_EXPORTER_H

#include <gcuproto/blackbox.pb.h>
#include <gcuproto/blackbox/export.h>
#include <gcuproto/blackbox/reader.h>
#include <gcuproto/blackbox/record.h>
#include <gcuproto/blackbox/time_scale.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace gcuproto {
namespace blackbox {

// Where exported text goes, in blocks of about a megabyte.
class GCUPROTO_BLACKBOX_EXPORT Sink {
 public:
  virtual ~Sink();
  // Takes all of `data`; false when it cannot.
  virtual bool Write(std::string_view data) = 0;
};

// Writes to a file descriptor it does not own; error_number() is the errno of
// a failed write.
class GCUPROTO_BLACKBOX_EXPORT FdSink : public Sink {
 public:
  explicit FdSink(int fd) : fd_(fd) {}
  bool Write(std::string_view data) override;
  int error_number() const { return error_number_; }

 private:
  int fd_;
  int error_number_ = 0;
};

class GCUPROTO_BLACKBOX_EXPORT OstreamSink : public Sink {
 public:
  explicit OstreamSink(std::ostream* out) : out_(out) {}
  bool Write(std::string_view data) override;

 private:
  std::ostream* out_;
};

class GCUPROTO_BLACKBOX_EXPORT StringSink : public Sink {
 public:
  explicit StringSink(std::string* out) : out_(out) {}
  bool Write(std::string_view data) override;

 private:
  std::string* out_;
};

// Collects text and hands it to a sink in large blocks. Formatters reserve
// room for the longest text a line can give, write into it and advance, so
// no byte is copied or cleared twice.
class GCUPROTO_BLACKBOX_EXPORT TextBuffer {
 public:
  explicit TextBuffer(Sink* sink, std::size_t block_size = std::size_t{1} << 20);
  ~TextBuffer();
  TextBuffer(const TextBuffer&) = delete;
  TextBuffer& operator=(const TextBuffer&) = delete;

  // Room for `size` more bytes; write at most that many, then Advance().
  char* Reserve(std::size_t size) {
    if (capacity_ - used_ < size) MakeRoom(size);
    return data_.get() + used_;
  }
  void Advance(const char* end) { used_ = static_cast<std::size_t>(end - data_.get()); }
  void Append(std::string_view text);
  // Bytes collected since construction, handed over or not.
  std::uint64_t position() const { return handed_ + used_; }

  // Hands what is collected to the sink. Once a write fails, everything after
  // it is dropped and failed() stays true.
  bool Flush();
  bool failed() const { return failed_; }

 private:
  void MakeRoom(std::size_t size);

  Sink* sink_;
  std::unique_ptr<char[]> data_;
  std::size_t capacity_;
  std::size_t block_size_;
  std::size_t used_ = 0;
  std::uint64_t handed_ = 0;
  bool failed_ = false;
};

// Turns one line at a time into text. Line() gets the line's kind and its
// encoded bytes; it returns false with `*reason` set when the line cannot be
// written in the format (it does not decode, or a value does not fit).
class GCUPROTO_BLACKBOX_EXPORT LineFormatter {
 public:
  virtual ~LineFormatter();
  // Text before the first line (a header row).
  virtual void Begin(TextBuffer* out);
  virtual bool Line(RecordKind kind, std::string_view encoded, TextBuffer* out,
                    std::string* reason) = 0;
  // The input file the next lines come from, for formats with a source
  // column or field; others ignore it. False when the format cannot hold the
  // name (CSV: a line break).
  virtual bool SetSource(std::string_view name);
};

// CSV of the logger lines; CAN lines are left out (they are still checked to
// decode). The header row is seqNo,timestamp,in0..in<inputs-1>,
// out0..out<outputs-1>; a line with fewer samples leaves the remaining cells
// empty, a line with more is refused. Numbers are plain decimal; there is no
// quoting, since no cell holds anything but a number (and the source, quoted
// when it must be).
struct CsvColumns {
  std::size_t inputs = 0;
  std::size_t outputs = 0;
};

// One chosen sample column: "in2" is {false, 2}, "out0" {true, 0}.
struct CsvChannel {
  bool output = false;
  std::uint32_t index = 0;
};

struct CsvOptions {
  // A line wider than the columns widens them instead of being refused; the
  // header comes last, from WriteHeader(), and the rows written before a
  // widening are put right by CsvWidener. Begin() then writes nothing.
  bool grow = false;
  // Non-empty: exactly these sample columns in this order, named as parsed
  // ("in2,out0"); a line without that sample leaves the cell empty.
  std::vector<CsvChannel> channels;
  // A "time" column after timestamp: the time stamp in seconds, with as
  // many decimals as the scale has.
  bool time = false;
  TimeScale time_scale;
  // A "source" column last, holding what SetSource() gave.
  bool source = false;
};

// "in2,out0" as channels; false with `*error` set for anything else.
GCUPROTO_BLACKBOX_EXPORT bool ParseCsvChannels(std::string_view text, std::vector<CsvChannel>* channels,
                                               std::string* error);

// Where the columns were widened: from byte `start` of the rows (counting
// from the first row), rows have `columns`.
struct CsvWidening {
  std::uint64_t start = 0;
  CsvColumns columns;
};

class GCUPROTO_BLACKBOX_EXPORT CsvFormatter : public LineFormatter {
 public:
  explicit CsvFormatter(CsvColumns columns, CsvOptions options = {});
  void Begin(TextBuffer* out) override;
  bool Line(RecordKind kind, std::string_view encoded, TextBuffer* out,
            std::string* reason) override;
  bool SetSource(std::string_view name) override;

  // One decoded line as a row, with its newline.
  bool AppendRow(const BlackboxFileLine& line, TextBuffer* out, std::string* reason);

  // The header row for the columns as they are now.
  void WriteHeader(TextBuffer* out) const;
  CsvColumns columns() const { return columns_; }
  const CsvOptions& options() const { return options_; }
  // With `grow`: the column counts rows were written with, in order; one
  // entry when no line was wider than the first.
  const std::vector<CsvWidening>& widenings() const { return widenings_; }

 private:
  bool Fits(std::size_t inputs, std::size_t outputs, TextBuffer* out, std::string* reason);
  char* PutPrefix(char* q, std::uint32_t seq_no, std::uint32_t timestamp) const;
  std::size_t RowRoom() const;

  CsvColumns columns_;
  CsvOptions options_;
  std::uint64_t first_row_ = 0;  // TextBuffer position of the first row
  bool begun_ = false;
  std::vector<CsvWidening> widenings_;
  std::string source_cell_;              // ",name", quoted when it must be
  std::vector<std::uint32_t> samples_;  // one line's samples, zigzag-encoded
  std::vector<std::int32_t> decoded_;   // for chosen channels
  BlackboxFileLine line_;   // for encodings the fast path leaves to the decoder
  BlackboxCandumpFileLine can_line_;
};

// Puts right the rows a growing CsvFormatter wrote: fed the rows as they were
// written, in pieces of any size, it hands on every row with the empty cells
// the final columns need.
class GCUPROTO_BLACKBOX_EXPORT CsvWidener {
 public:
  CsvWidener(const CsvFormatter& formatter);
  void Feed(std::string_view rows, TextBuffer* out);

 private:
  std::vector<CsvWidening> widenings_;
  CsvColumns final_;
  std::size_t prefix_cells_;
  std::size_t epoch_ = 0;
  std::uint64_t offset_ = 0;
  std::size_t commas_ = 0;
};

// CAN lines as CSV: seqNo,timestamp[,time],canId,messageId,extended,dlc,data
// [,source], with integers in decimal, extended as true or false, dlc the
// number of data bytes and data upper-case hex, two digits a byte. Logger
// lines are left out (still checked to decode).
struct CanCsvOptions {
  bool time = false;
  TimeScale time_scale;
  bool source = false;
};

class GCUPROTO_BLACKBOX_EXPORT CanCsvFormatter : public LineFormatter {
 public:
  explicit CanCsvFormatter(CanCsvOptions options) : options_(options) {}
  void Begin(TextBuffer* out) override;
  bool Line(RecordKind kind, std::string_view encoded, TextBuffer* out,
            std::string* reason) override;
  bool SetSource(std::string_view name) override;

  void AppendRow(const BlackboxCandumpFileLine& line, TextBuffer* out) const;

 private:
  CanCsvOptions options_;
  std::string source_cell_;
  BlackboxFileLine line_;
  BlackboxCandumpFileLine can_line_;
};

// The widest line of the file: reads `reader` to its end. The counts come
// from the encoded samples without decoding them; anything unusual is
// decoded. Damage is left in the reader for the caller to check.
// `on_progress` as for Export() below.
GCUPROTO_BLACKBOX_EXPORT CsvColumns ScanCsvColumns(
    Reader* reader, const std::function<void(std::uint64_t offset)>& on_progress = {});

// JSON lines: one object per line, with every field, in this shape:
//   {"kind":"line","seqNo":1,"timestamp":1000,"dataInput":[12,-3],"dataOutput":[0]}
//   {"kind":"lineCan","seqNo":2,"timestamp":1005,"canId":291,"messageId":0,
//    "extended":false,"data":"00FF10"}
// "kind" is the name of the list the line belongs to in BlackboxFile; data is
// upper-case hex, two digits a byte, "" when empty.
// With a source (SetSource()), every object starts with "source":"name".
class GCUPROTO_BLACKBOX_EXPORT JsonLinesFormatter : public LineFormatter {
 public:
  bool Line(RecordKind kind, std::string_view encoded, TextBuffer* out,
            std::string* reason) override;
  bool SetSource(std::string_view name) override;

  void AppendLine(const BlackboxFileLine& line, TextBuffer* out) const;
  void AppendLine(const BlackboxCandumpFileLine& line, TextBuffer* out) const;

 private:
  std::string prefix_ = "{";  // "{" or "{\"source\":\"name\","
  std::vector<std::uint32_t> samples_;
  BlackboxFileLine line_;
  BlackboxCandumpFileLine can_line_;
};

// Which field of a CAN line holds the frame's identifier.
enum class CanIdField { kCanId, kMessageId };

struct CandumpOptions {
  std::string interface_name = "can0";
  TimeScale time_scale;
  // Added to every time: the epoch seconds of time stamp 0.
  std::uint64_t start_seconds = 0;
  CanIdField id_field = CanIdField::kCanId;
};

// CAN lines as candump -l writes them and can-utils' canplayer and log2asc
// and python-can read them:
//   (0000000001.005000) can0 123#00FF10
//   (0000000001.005000) can0 18FEF100#01264B7095BADF04
// Time is the time stamp times the scale: ten digits of seconds, six of
// microseconds. A standard identifier takes three hex digits, an extended one
// (`extended` set) eight. Data of up to 8 bytes is a classic frame; 12, 16,
// 20, 24, 32, 48 or 64 bytes a CAN FD frame ("ID##0DATA"). An identifier too
// large for its frame format, another data length, or a time past ten digits
// of seconds cannot be written and is refused. Logger lines are left out
// (still checked to decode).
class GCUPROTO_BLACKBOX_EXPORT CandumpFormatter : public LineFormatter {
 public:
  explicit CandumpFormatter(CandumpOptions options) : options_(std::move(options)) {}
  bool Line(RecordKind kind, std::string_view encoded, TextBuffer* out,
            std::string* reason) override;

  bool AppendLine(const BlackboxCandumpFileLine& line, TextBuffer* out, std::string* reason) const;

 private:
  CandumpOptions options_;
  BlackboxFileLine line_;
  BlackboxCandumpFileLine can_line_;
};

struct ExportResult {
  bool ok = true;
  // Offset of the line that could not be written, and why; or, when the sink
  // failed, sink_failed with no reason.
  std::uint64_t offset = 0;
  std::string reason;
  bool sink_failed = false;
};

// Runs one formatter over any number of inputs into one sink, and hands
// what it collected to the sink on request, as when the input would block.
class GCUPROTO_BLACKBOX_EXPORT Exporter {
 public:
  Exporter(LineFormatter* formatter, Sink* sink) : formatter_(formatter), out_(sink) {}
  void Begin() { formatter_->Begin(&out_); }
  // Reads `reader` to its end, as Export() does, without the final flush.
  ExportResult Run(Reader* reader, const std::function<void(std::uint64_t offset)>& on_progress = {});
  bool Flush() { return out_.Flush(); }
  TextBuffer* out() { return &out_; }

 private:
  LineFormatter* formatter_;
  TextBuffer out_;
};

// Reads `reader` to its end through `formatter` into `sink`, then flushes.
// Stops at the first line the formatter refuses or the first failed write.
// Damage of the input ends the reading as usual; check reader->damaged().
// `on_progress`, if set, gets the input offset about every 16 MiB.
GCUPROTO_BLACKBOX_EXPORT ExportResult Export(
    Reader* reader, LineFormatter* formatter, Sink* sink,
    const std::function<void(std::uint64_t offset)>& on_progress = {});

}  // namespace blackbox
}  // namespace gcuproto

#endif  // GCUPROTO_BLACKBOX_EXPORTER_H
