// CSV of the logger lines, and what it needs: the columns, the channels
// chosen, the first pass that finds the widest line, and the widening of rows
// written before a wider line came.
#ifndef GCUPROTO_BLACKBOX_CSV_FORMATTER_H
#define GCUPROTO_BLACKBOX_CSV_FORMATTER_H

#include <gcuproto/blackbox.pb.h>
#include <gcuproto/blackbox/error.h>
#include <gcuproto/blackbox/export.h>
#include <gcuproto/blackbox/line_formatter.h>
#include <gcuproto/blackbox/reader.h>
#include <gcuproto/blackbox/record.h>
#include <gcuproto/blackbox/text_buffer.h>
#include <gcuproto/blackbox/time_scale.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace gcuproto {
namespace blackbox {

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
  // With `grow`: the header comes first after all, with the first line's
  // columns, just before its row (or from WriteHeader() when no line comes),
  // so that the rows can go straight to their destination. It stays right
  // unless widened(); then the rows from rows_start() on are put right by
  // CsvWidener under a new header.
  bool header_first = false;
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

// "in2,out0" as channels; fails (kInvalidArgument) for anything else.
GCUPROTO_BLACKBOX_EXPORT bool ParseCsvChannels(std::string_view text,
                                               std::vector<CsvChannel>* channels, Error* error);

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
  bool Line(RecordKind kind, std::string_view encoded, TextBuffer* out, Error* error) override;
  bool SetSource(std::string_view name, Error* error) override;

  // One decoded line as a row, with its newline.
  bool AppendRow(const BlackboxFileLine& line, TextBuffer* out, Error* error);

  // The header row for the columns as they are now.
  void WriteHeader(TextBuffer* out) const;
  CsvColumns columns() const { return columns_; }
  const CsvOptions& options() const { return options_; }
  // With `grow`: the column counts rows were written with, in order; one
  // entry when no line was wider than the first.
  const std::vector<CsvWidening>& widenings() const { return widenings_; }
  // With `grow`: a line came that was wider than the first.
  bool widened() const { return widenings_.size() > 1; }
  // With `header_first`: the header is not written yet (no line came).
  bool header_pending() const { return header_pending_; }
  // The TextBuffer position of the first row: after the header, if any.
  std::uint64_t rows_start() const { return first_row_; }

 private:
  bool Fits(std::size_t inputs, std::size_t outputs, TextBuffer* out, Error* error);
  char* PutPrefix(char* q, std::uint32_t seq_no, std::uint32_t timestamp) const;
  std::size_t RowRoom() const;

  CsvColumns columns_;
  CsvOptions options_;
  std::uint64_t first_row_ = 0;  // TextBuffer position of the first row
  bool begun_ = false;
  bool header_pending_ = false;
  std::vector<CsvWidening> widenings_;
  std::string source_cell_;             // ",name", quoted when it must be
  std::vector<std::uint32_t> samples_;  // one line's samples, zigzag-encoded
  std::vector<std::int32_t> decoded_;   // for chosen channels
  BlackboxFileLine line_;               // for encodings the fast path leaves to the decoder
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

// The widest line of the file: reads `reader` to its end. The counts come
// from the encoded samples without decoding them; anything unusual is
// decoded. A line that does not decode, and damage, are left for the export
// pass to report (the damage stays in reader->damage()). `on_progress` as
// for Export().
GCUPROTO_BLACKBOX_EXPORT CsvColumns
ScanCsvColumns(Reader* reader, const std::function<void(std::uint64_t offset)>& on_progress = {});

}  // namespace blackbox
}  // namespace gcuproto

#endif  // GCUPROTO_BLACKBOX_CSV_FORMATTER_H
