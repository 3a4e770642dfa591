// The appending blackbox writer driven by arbitrary programs: lines of both
// kinds, raw lines, flushes, reopening, a cut at any byte followed by
// an append, all on a file that may start out with any bytes. The input's
// first byte picks the buffer size and whether the first open appends; when
// its high bit is set, a two-byte length and that many bytes of existing file
// follow; the rest is the program.
//
// After every step the file on disk must be what was written up to a record
// boundary, at least up to the last flush; the writer's size() must count
// every record written; and at the end the file must read back as the records
// the existing file held before its cut-short tail followed by every record
// written, with nothing after them.
#include <gcuproto/blackbox.pb.h>
#include <gcuproto/blackbox/reader.h>
#include <gcuproto/blackbox/writer.h>
#include <gcuproto/codec/wire.h>
#include <google/protobuf/io/zero_copy_stream_impl_lite.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "scratch_dir.h"

namespace {

using gcuproto::blackbox::Error;
using gcuproto::blackbox::ErrorKind;
using gcuproto::blackbox::KeyOf;
using gcuproto::blackbox::Reader;
using gcuproto::blackbox::ReaderOptions;
using gcuproto::blackbox::RecordKind;
using gcuproto::blackbox::Writer;
using gcuproto::blackbox::WriterOptions;

// One scratch file for the whole run: a directory per input would cost more
// than the writing. Removed at exit; a crash leaves it for the finding's
// replay to reuse.
const gcuproto_test::ScratchDir& Scratch() {
  static const gcuproto_test::ScratchDir dir("gcuproto_fuzz_writer");
  return dir;
}

class Input {
 public:
  explicit Input(std::string_view bytes) : bytes_(bytes) {}
  bool empty() const { return bytes_.empty(); }
  std::uint8_t Byte() {
    if (bytes_.empty()) return 0;
    const auto b = static_cast<std::uint8_t>(bytes_[0]);
    bytes_.remove_prefix(1);
    return b;
  }
  std::uint32_t Number(int bytes) {
    std::uint32_t n = 0;
    for (int i = 0; i < bytes; ++i) n |= static_cast<std::uint32_t>(Byte()) << (8 * i);
    return n;
  }
  std::string_view Bytes(std::size_t size) {
    const std::string_view taken = bytes_.substr(0, size);
    bytes_.remove_prefix(taken.size());
    return taken;
  }

 private:
  std::string_view bytes_;
};

struct Record {
  RecordKind kind;
  std::string raw;
  bool operator==(const Record& other) const { return kind == other.kind && raw == other.raw; }
};

struct Scan {
  std::vector<Record> records;
  bool damaged = false;
  bool cut_short = false;
  std::uint64_t complete_bytes = 0;
};

// The framing the writer's own open-time check sees: lines undecoded.
Scan ScanBytes(std::string_view bytes) {
  google::protobuf::io::ArrayInputStream input(bytes.data(), static_cast<int>(bytes.size()));
  ReaderOptions options;
  options.decode = false;
  Reader reader(&input, options);
  Scan scan;
  while (reader.Next()) scan.records.push_back({reader.kind(), std::string(reader.raw())});
  scan.damaged = reader.damage().has_value();
  scan.cut_short = scan.damaged && reader.damage()->kind() == ErrorKind::kCutShort;
  scan.complete_bytes = reader.complete_bytes();
  return scan;
}

// What the test expects the file to hold: every byte written, buffered or
// not, and where the records end.
struct Model {
  std::string bytes;
  std::vector<std::uint64_t> ends;  // record boundaries, 0 and the end included
  std::uint64_t flushed = 0;        // bytes that must be in the file
  std::vector<Record> records;      // what reading it back gives

  void Add(RecordKind kind, std::string_view raw) {
    gcuproto::wire::AppendDelimited(&bytes, KeyOf(kind), raw);
    ends.push_back(bytes.size());
    records.push_back({kind, std::string(raw)});
  }
  // The file was cut to its first `size` bytes, which a reader takes as
  // `scan`.
  void Cut(std::uint64_t size, const Scan& scan) {
    bytes.resize(static_cast<std::size_t>(size));
    while (!ends.empty() && ends.back() > size) ends.pop_back();
    if (ends.empty() || ends.back() != size) ends.push_back(size);
    records = scan.records;
    flushed = size;
  }
};

void CheckOnDisk(const std::string& path, const Model& model, const Writer* writer,
                 const char* after) {
  const std::string file = gcuproto_test::ReadFile(path);
  FUZZ_CHECK(file.size() >= model.flushed && file.size() <= model.bytes.size(),
             "after %s the file has %zu bytes; flushed %llu, written %zu", after, file.size(),
             (unsigned long long)model.flushed, model.bytes.size());
  FUZZ_CHECK(std::binary_search(model.ends.begin(), model.ends.end(), file.size()),
             "after %s the file ends at %zu, inside a record", after, file.size());
  FUZZ_CHECK(std::string_view(model.bytes).substr(0, file.size()) == file,
             "after %s the file is not what was written", after);
  if (writer != nullptr) {
    FUZZ_CHECK(writer->size() == model.bytes.size(), "after %s size() is %llu, written %zu", after,
               (unsigned long long)writer->size(), model.bytes.size());
  }
}

// Opens for append what the model holds (with the file cut at `size`), as a
// restart after a crash does.
std::unique_ptr<Writer> Reopen(const std::string& path, std::size_t buffer_size, std::uint64_t size,
                               Model* model) {
  const Scan scan =
      ScanBytes(std::string_view(model->bytes).substr(0, static_cast<std::size_t>(size)));
  // A cut leaves at most a record cut short, never other damage.
  FUZZ_CHECK(!scan.damaged || scan.cut_short, "a file cut at %llu reads as damaged",
             (unsigned long long)size);
  const std::uint64_t last_end = *--std::upper_bound(model->ends.begin(), model->ends.end(), size);
  FUZZ_CHECK(scan.complete_bytes >= last_end,
             "a file cut at %llu keeps %llu bytes, losing the record that ended at %llu",
             (unsigned long long)size, (unsigned long long)scan.complete_bytes,
             (unsigned long long)last_end);
  std::filesystem::resize_file(path, size);
  WriterOptions options;
  options.buffer_size = buffer_size;
  Error error;
  auto writer = Writer::Open(path, options, &error);
  FUZZ_CHECK(writer != nullptr, "reopening a file cut at %llu: %s", (unsigned long long)size,
             error.message().c_str());
  FUZZ_CHECK(writer->dropped_tail_bytes() == size - scan.complete_bytes,
             "reopening dropped %llu bytes of a tail of %llu",
             (unsigned long long)writer->dropped_tail_bytes(),
             (unsigned long long)(size - scan.complete_bytes));
  model->Cut(scan.complete_bytes, scan);
  return writer;
}

BlackboxFileLine LoggerLine(Input* in) {
  BlackboxFileLine line;
  const std::uint8_t shape = in->Byte();
  if (shape & 1) line.set_seqno(in->Number(shape & 2 ? 4 : 1));
  if (shape & 4) line.set_timestamp(in->Number(shape & 8 ? 4 : 2));
  const int inputs = (shape >> 4) & 3;
  const int outputs = shape >> 6;
  for (int i = 0; i < inputs + outputs; ++i) {
    const std::uint8_t b = in->Byte();
    // Mostly small samples, as sensors give, some of any size.
    const std::int32_t sample =
        b & 0x80 ? static_cast<std::int32_t>(in->Number(4)) : static_cast<std::int32_t>(b) - 64;
    if (i < inputs)
      line.add_datainput(sample);
    else
      line.add_dataoutput(sample);
  }
  return line;
}

BlackboxCandumpFileLine CanLine(Input* in) {
  BlackboxCandumpFileLine line;
  const std::uint8_t shape = in->Byte();
  if (shape & 1) line.set_seqno(in->Number(2));
  if (shape & 2) line.set_timestamp(in->Number(4));
  if (shape & 4) line.set_canid(in->Number(shape & 8 ? 4 : 2));
  if (shape & 16) line.set_messageid(in->Number(1));
  if (shape & 32) line.set_extended(true);
  line.set_data(std::string(in->Bytes(in->Byte() % 17)));
  return line;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::size_t kBufferSizes[] = {1, 2, 7, 16, 64, 300, 4096, 64 * 1024};
  Input in(std::string_view(reinterpret_cast<const char*>(data), size));
  const std::uint8_t mode = in.Byte();
  const std::size_t buffer_size = kBufferSizes[mode & 7];
  const bool append = (mode & 0x08) == 0;
  const std::string path = (Scratch() / "log.bin").string();
  std::string existing;
  if (mode & 0x80) existing = std::string(in.Bytes(in.Number(2)));
  gcuproto_test::WriteFile(path, existing);

  Model model;
  model.ends.push_back(0);
  Error error;
  WriterOptions options;
  options.buffer_size = buffer_size;
  options.append = append;
  std::unique_ptr<Writer> writer;
  if (append && !existing.empty()) {
    const Scan scan = ScanBytes(existing);
    writer = Writer::Open(path, options, &error);
    if (scan.damaged && !scan.cut_short) {
      // Bytes after damage other than a cut may still be recovered: the
      // writer must leave them alone.
      FUZZ_CHECK(writer == nullptr, "appending to a file damaged at %llu was allowed",
                 (unsigned long long)scan.complete_bytes);
      FUZZ_CHECK(gcuproto_test::ReadFile(path) == existing, "a refused open changed the file");
      return 0;
    }
    FUZZ_CHECK(writer != nullptr, "opening a file with a cut-short tail: %s",
               error.message().c_str());
    FUZZ_CHECK(writer->dropped_tail_bytes() == existing.size() - scan.complete_bytes,
               "dropped %llu bytes, the tail has %llu",
               (unsigned long long)writer->dropped_tail_bytes(),
               (unsigned long long)(existing.size() - scan.complete_bytes));
    model.bytes = existing;
    model.Cut(scan.complete_bytes, scan);
  } else {
    writer = Writer::Open(path, options, &error);
    FUZZ_CHECK(writer != nullptr, "opening: %s", error.message().c_str());
  }
  CheckOnDisk(path, model, writer.get(), "opening");

  while (!in.empty()) {
    const std::uint8_t op = in.Byte();
    const char* step = "";
    switch (op % 8) {
      case 0:
      case 1: {
        const BlackboxFileLine line = LoggerLine(&in);
        FUZZ_CHECK(writer->Write(line, &error), "writing a logger line: %s",
                   error.message().c_str());
        model.Add(RecordKind::kLoggerLine, line.SerializeAsString());
        step = "a logger line";
        break;
      }
      case 2: {
        const BlackboxCandumpFileLine line = CanLine(&in);
        FUZZ_CHECK(writer->Write(line, &error), "writing a CAN line: %s", error.message().c_str());
        model.Add(RecordKind::kCanLine, line.SerializeAsString());
        step = "a CAN line";
        break;
      }
      case 3: {
        // Raw lines are not checked: any bytes frame as a record.
        const RecordKind kind = op & 8 ? RecordKind::kCanLine : RecordKind::kLoggerLine;
        const std::string_view raw = in.Bytes(op & 16 ? in.Number(2) % 600 : in.Byte() % 32);
        FUZZ_CHECK(writer->WriteRaw(kind, raw, &error), "writing a raw line: %s",
                   error.message().c_str());
        model.Add(kind, raw);
        step = "a raw line";
        break;
      }
      case 4:
        // Sync() is Flush() and an fsync, which would only slow the run.
        FUZZ_CHECK(writer->Flush(&error), "flushing: %s", error.message().c_str());
        model.flushed = model.bytes.size();
        step = "a flush";
        break;
      case 5:
        FUZZ_CHECK(writer->Close(&error), "closing: %s", error.message().c_str());
        model.flushed = model.bytes.size();
        CheckOnDisk(path, model, nullptr, "closing");
        writer = Reopen(path, buffer_size, model.bytes.size(), &model);
        step = "reopening";
        break;
      case 6: {
        // A crash or a full disk: the file ends at any byte of what was
        // written, and the next run appends to it.
        writer.reset();
        model.flushed = model.bytes.size();
        const std::uint64_t cut = model.bytes.size() - in.Number(2) % (model.bytes.size() + 1);
        writer = Reopen(path, buffer_size, cut, &model);
        step = "a cut";
        break;
      }
      default: {
        writer.reset();
        WriterOptions fresh;
        fresh.append = false;
        fresh.buffer_size = buffer_size;
        writer = Writer::Open(path, fresh, &error);
        FUZZ_CHECK(writer != nullptr, "opening afresh: %s", error.message().c_str());
        model = Model();
        model.ends.push_back(0);
        step = "opening afresh";
        break;
      }
    }
    CheckOnDisk(path, model, writer.get(), step);
  }

  FUZZ_CHECK(writer->Close(&error), "closing: %s", error.message().c_str());
  model.flushed = model.bytes.size();
  const std::string file = gcuproto_test::ReadFile(path);
  FUZZ_CHECK(file == model.bytes, "the closed file has %zu bytes, written %zu", file.size(),
             model.bytes.size());
  const Scan back = ScanBytes(file);
  FUZZ_CHECK(!back.damaged && back.complete_bytes == file.size(),
             "the written file reads as damaged");
  FUZZ_CHECK(back.records == model.records, "the file reads back as %zu records, written %zu",
             back.records.size(), model.records.size());
  return 0;
}
