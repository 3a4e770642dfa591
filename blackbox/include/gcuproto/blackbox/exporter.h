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
//   if (!Export(reader.get(), &csv, &sink, &error) || reader->damage()) ...
//
// Formatting goes into large blocks handed to a Sink; numbers are formatted
// from tables and std::to_chars, never through iostreams.
//
// This header has the exporter; each format, the sinks and the text buffer
// have a header of their own, all included here for those who include this
// one for everything.
#ifndef GCUPROTO_BLACKBOX_EXPORTER_H
#define GCUPROTO_BLACKBOX_EXPORTER_H

#include <gcuproto/blackbox/can_csv_formatter.h>
#include <gcuproto/blackbox/can_id_field.h>
#include <gcuproto/blackbox/candump_formatter.h>
#include <gcuproto/blackbox/csv_formatter.h>
#include <gcuproto/blackbox/error.h>
#include <gcuproto/blackbox/export.h>
#include <gcuproto/blackbox/json_lines_formatter.h>
#include <gcuproto/blackbox/line_formatter.h>
#include <gcuproto/blackbox/reader.h>
#include <gcuproto/blackbox/sink.h>
#include <gcuproto/blackbox/text_buffer.h>

#include <cstdint>
#include <functional>

namespace gcuproto {
namespace blackbox {

// Runs one formatter over any number of inputs into one sink, and hands
// what it collected to the sink on request, as when the input would block.
class GCUPROTO_BLACKBOX_EXPORT Exporter {
 public:
  Exporter(LineFormatter* formatter, Sink* sink) : formatter_(formatter), out_(sink) {}
  void Begin() { formatter_->Begin(&out_); }
  // Reads `reader` to its end, as Export() does, without the final flush.
  bool Run(Reader* reader, Error* error,
           const std::function<void(std::uint64_t offset)>& on_progress = {});
  // Fails (kIo) when the sink does.
  bool Flush(Error* error);
  TextBuffer* out() { return &out_; }

 private:
  LineFormatter* formatter_;
  TextBuffer out_;
};

// Reads `reader` to its end through `formatter` into `sink`, then flushes.
// Stops at the first line the formatter refuses, failing with the
// formatter's error placed at the line's offset, or at the first failed
// write, failing with kIo and no offset. Damage of the input ends the
// reading as usual and is no failure here; check reader->damage().
// `on_progress`, if set, gets the input offset about every 16 MiB.
GCUPROTO_BLACKBOX_EXPORT bool Export(
    Reader* reader, LineFormatter* formatter, Sink* sink, Error* error,
    const std::function<void(std::uint64_t offset)>& on_progress = {});

}  // namespace blackbox
}  // namespace gcuproto

#endif  // GCUPROTO_BLACKBOX_EXPORTER_H
