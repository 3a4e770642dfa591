// The streaming blackbox reader on arbitrary bytes, against whole-file
// parsing. The first byte picks how the reader is driven: the chunk size the
// input stream delivers (every chunk in its own allocation, freed on the next
// call, so a view kept too long or a read past a chunk is caught), whether
// lines are decoded, whether undecodable lines go to a handler, and a small
// line-size limit. The rest is the file.
#include <gcuproto/blackbox.pb.h>
#include <gcuproto/blackbox/line_decoder.h>
#include <gcuproto/blackbox/reader.h>
#include <google/protobuf/io/zero_copy_stream.h>
#include <google/protobuf/unknown_field_set.h>
#include <google/protobuf/util/message_differencer.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"

namespace {

using gcuproto::blackbox::DecodeLoggerLine;
using gcuproto::blackbox::Reader;
using gcuproto::blackbox::ReaderOptions;
using gcuproto::blackbox::RecordKind;
using google::protobuf::util::MessageDifferencer;

// Delivers the data in chunks of a fixed size, each a fresh heap copy.
class ChunkedStream : public google::protobuf::io::ZeroCopyInputStream {
 public:
  ChunkedStream(std::string_view data, std::size_t chunk) : data_(data), chunk_(chunk) {}

  bool Next(const void** data, int* size) override {
    std::size_t n = backed_up_;
    std::size_t from = pos_ - backed_up_;
    if (n == 0) {
      if (pos_ == data_.size()) return false;
      n = std::min(chunk_, data_.size() - pos_);
      from = pos_;
      pos_ += n;
    }
    backed_up_ = 0;
    buffer_ = std::make_unique<char[]>(n);
    std::memcpy(buffer_.get(), data_.data() + from, n);
    last_size_ = n;
    *data = buffer_.get();
    *size = static_cast<int>(n);
    return true;
  }

  void BackUp(int count) override {
    FUZZ_CHECK(count >= 0 && static_cast<std::size_t>(count) <= last_size_ && backed_up_ == 0,
               "BackUp(%d) after a chunk of %zu", count, last_size_);
    backed_up_ = static_cast<std::size_t>(count);
    last_size_ = 0;
  }

  bool Skip(int count) override {
    FUZZ_CHECK(count >= 0, "Skip(%d)", count);
    buffer_.reset();
    last_size_ = 0;
    const std::size_t position = pos_ - backed_up_;
    backed_up_ = 0;
    const std::size_t target = position + static_cast<std::size_t>(count);
    pos_ = std::min(target, data_.size());
    return target <= data_.size();
  }

  std::int64_t ByteCount() const override { return static_cast<std::int64_t>(pos_ - backed_up_); }

 private:
  std::string_view data_;
  std::size_t chunk_;
  std::size_t pos_ = 0;  // bytes handed out, including any backed up
  std::size_t backed_up_ = 0;
  std::size_t last_size_ = 0;
  std::unique_ptr<char[]> buffer_;
};

struct Record {
  RecordKind kind;
  std::uint64_t offset;
  std::string raw;
};

struct Run {
  std::vector<Record> delivered;
  std::vector<std::uint64_t> undecodable;
  bool damaged = false;
  std::uint64_t damage_offset = 0;
  std::uint64_t complete_bytes = 0;
};

Run Read(Reader* reader, std::string_view file, bool decode,
         const std::vector<std::uint64_t>& undecodable) {
  Run run;
  std::uint64_t previous_end = 0;
  while (reader->Next()) {
    const std::string_view raw = reader->raw();
    FUZZ_CHECK(reader->offset() >= previous_end && reader->offset() < reader->end_offset() &&
                   reader->end_offset() <= file.size() &&
                   reader->end_offset() - reader->offset() > raw.size(),
               "record at %llu..%llu of %zu bytes", (unsigned long long)reader->offset(),
               (unsigned long long)reader->end_offset(), raw.size());
    FUZZ_CHECK(file.substr(reader->end_offset() - raw.size(), raw.size()) == raw,
               "raw line at %llu is not the file's bytes", (unsigned long long)reader->offset());
    FUZZ_CHECK(reader->complete_bytes() == reader->end_offset(), "complete bytes");
    if (decode) {
      // A decoded line is what the general parser makes of its bytes.
      if (reader->kind() == RecordKind::kLoggerLine) {
        BlackboxFileLine expected;
        FUZZ_CHECK(expected.ParseFromArray(raw.data(), static_cast<int>(raw.size())) &&
                       MessageDifferencer::Equals(expected, reader->logger_line()),
                   "logger line at %llu", (unsigned long long)reader->offset());
      } else {
        BlackboxCandumpFileLine expected;
        FUZZ_CHECK(expected.ParseFromArray(raw.data(), static_cast<int>(raw.size())) &&
                       MessageDifferencer::Equals(expected, reader->can_line()),
                   "CAN line at %llu", (unsigned long long)reader->offset());
      }
    }
    previous_end = reader->end_offset();
    run.delivered.push_back({reader->kind(), reader->offset(), std::string(raw)});
  }
  FUZZ_CHECK(!reader->Next(), "Next() after the end");
  run.damaged = reader->damage().has_value();
  run.damage_offset = run.damaged ? reader->damage()->offset() : 0;
  run.complete_bytes = reader->complete_bytes();
  FUZZ_CHECK(run.complete_bytes <= file.size(), "complete bytes past the end");
  if (run.damaged) {
    FUZZ_CHECK(run.damage_offset >= run.complete_bytes && run.damage_offset < file.size(),
               "damage at %llu, complete %llu, size %zu", (unsigned long long)run.damage_offset,
               (unsigned long long)run.complete_bytes, file.size());
  } else {
    FUZZ_CHECK(run.complete_bytes == file.size(), "undamaged read stopped at %llu of %zu",
               (unsigned long long)run.complete_bytes, file.size());
  }
  run.undecodable = undecodable;
  return run;
}

// The raw lines of one kind, in file order.
std::vector<std::string> LinesOf(const std::vector<Record>& records, RecordKind kind) {
  std::vector<std::string> out;
  for (const auto& r : records) {
    if (r.kind == kind) out.push_back(r.raw);
  }
  return out;
}

template <typename Repeated>
std::vector<std::string> Elements(const Repeated& repeated) {
  return std::vector<std::string>(repeated.begin(), repeated.end());
}

bool IsPrefix(const std::vector<std::string>& prefix, const std::vector<std::string>& whole) {
  return prefix.size() <= whole.size() && std::equal(prefix.begin(), prefix.end(), whole.begin());
}

// The line decoder's fast path must give the general parser's verdict and
// message, whatever the line held before.
void CheckLineDecoder(std::string_view bytes) {
  BlackboxFileLine fast;
  fast.set_seqno(9);
  fast.add_datainput(-5);
  fast.add_dataoutput(7);
  fast.GetReflection()->MutableUnknownFields(&fast)->AddVarint(99, 1);
  const bool fast_ok = DecodeLoggerLine(bytes, &fast);
  BlackboxFileLine general;
  const bool general_ok = general.ParseFromArray(bytes.data(), static_cast<int>(bytes.size()));
  FUZZ_CHECK(fast_ok == general_ok, "line decoder says %d, parser says %d", fast_ok, general_ok);
  if (fast_ok) {
    FUZZ_CHECK(MessageDifferencer::Equals(fast, general), "line decoder's line differs:\n%s\n%s",
               fast.ShortDebugString().c_str(), general.ShortDebugString().c_str());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  static const std::size_t kChunks[] = {1, 2, 3, 5, 16, 64, 4096, 0};
  const std::uint8_t mode = data[0];
  const std::string_view file(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::size_t chunk = kChunks[mode & 7];  // 0: through a std::istream
  const bool decode = (mode & 0x08) == 0;
  const bool with_handler = (mode & 0x10) != 0;
  const bool small_limit = (mode & 0x20) != 0;

  CheckLineDecoder(file);

  std::vector<std::uint64_t> undecodable;
  ReaderOptions options;
  options.decode = decode;
  if (with_handler) {
    options.on_undecodable_line = [&](std::uint64_t offset, RecordKind) {
      undecodable.push_back(offset);
    };
  }
  if (small_limit) options.max_line_size = 16;

  std::istringstream text{std::string(file)};
  ChunkedStream chunks(file, chunk);
  std::unique_ptr<Reader> reader = chunk == 0 ? std::make_unique<Reader>(&text, options)
                                              : std::make_unique<Reader>(&chunks, options);
  const Run run = Read(reader.get(), file, decode, undecodable);
  FUZZ_CHECK(reader->logger_lines() + reader->can_lines() == run.delivered.size(), "line counts");
  FUZZ_CHECK(reader->undecodable_lines() == undecodable.size(), "undecodable count");
  if (!decode) FUZZ_CHECK(undecodable.empty(), "undecodable lines without decoding");

  // What a whole-file parse makes of the same bytes: the raw view accepts
  // any line bytes, the decoded view needs every line to decode.
  BlackboxFileL raw_file;
  const bool raw_ok = raw_file.ParseFromArray(file.data(), static_cast<int>(file.size()));
  BlackboxFile decoded_file;
  const bool decoded_ok = decoded_file.ParseFromArray(file.data(), static_cast<int>(file.size()));
  FUZZ_CHECK(!decoded_ok || raw_ok, "decoded view parses, raw view does not");

  const auto logger = LinesOf(run.delivered, RecordKind::kLoggerLine);
  const auto can = LinesOf(run.delivered, RecordKind::kCanLine);
  if (raw_ok && !(decode && with_handler)) {
    // Every delivered line is the file's next line of its kind.
    FUZZ_CHECK(IsPrefix(logger, Elements(raw_file.line())), "logger lines are not the file's");
    FUZZ_CHECK(IsPrefix(can, Elements(raw_file.linecan())), "CAN lines are not the file's");
  }
  if (small_limit) return 0;  // the limit ends reads that a whole-file parse accepts

  const bool must_decode = decode && !with_handler;
  const bool whole_ok = must_decode ? decoded_ok : raw_ok;
  FUZZ_CHECK(run.damaged != whole_ok, "reader %s damage at %llu, whole-file parse %s",
             run.damaged ? "reports" : "reports no", (unsigned long long)run.damage_offset,
             whole_ok ? "succeeds" : "fails");
  if (!whole_ok) return 0;

  if (must_decode || !decode) {
    FUZZ_CHECK(logger.size() == static_cast<std::size_t>(raw_file.line_size()) &&
                   can.size() == static_cast<std::size_t>(raw_file.linecan_size()),
               "reader delivered %zu + %zu lines, file has %d + %d", logger.size(), can.size(),
               raw_file.line_size(), raw_file.linecan_size());
  } else {
    // With a handler, delivered and reported lines together are the file's.
    FUZZ_CHECK(run.delivered.size() + run.undecodable.size() ==
                   static_cast<std::size_t>(raw_file.line_size() + raw_file.linecan_size()),
               "delivered and undecodable lines do not add up");
  }
  return 0;
}
