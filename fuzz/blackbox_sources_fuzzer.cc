// The same bytes read by the blackbox reader from a file on disk, from a
// stream that cannot seek and delivers a few bytes at a time (as a pipe
// does), and from memory must give the same records, the same damage and the
// same counts: each input reads its bytes differently (the file through a
// descriptor that could seek past its end, the stream through a std::istream
// whose buffer holds a few bytes, memory in one piece), and none of that may
// show in what is read.
//
// The first byte picks the stream's chunk size, whether lines are decoded,
// resync mode, follow mode, a handler for undecodable lines and a small line
// limit. In follow mode two more bytes split the file: the first part is
// read to its end, then the rest arrives (appended to the file, written to
// the stream) and the reading resumes.
#include <gcuproto/blackbox.pb.h>
#include <gcuproto/blackbox/reader.h>
#include <google/protobuf/io/zero_copy_stream.h>
#include <google/protobuf/io/zero_copy_stream_impl_lite.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <istream>
#include <memory>
#include <streambuf>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "scratch_dir.h"

namespace {

using gcuproto::blackbox::DamagedSpan;
using gcuproto::blackbox::Error;
using gcuproto::blackbox::Reader;
using gcuproto::blackbox::ReaderOptions;
using gcuproto::blackbox::RecordKind;

const gcuproto_test::ScratchDir& Scratch() {
  static const gcuproto_test::ScratchDir dir("gcuproto_fuzz_sources");
  return dir;
}

// A pipe's view of `data`: at most `chunk` bytes ready at a time, each chunk
// in a buffer of its own, no seeking. Bytes appended to `data` later are
// read once the stream is asked again.
class PipeBuffer : public std::streambuf {
 public:
  PipeBuffer(const std::string* data, std::size_t chunk) : data_(data), chunk_(chunk) {}

 protected:
  int_type underflow() override {
    if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
    if (pos_ == data_->size()) return traits_type::eof();
    const std::size_t n = std::min(chunk_, data_->size() - pos_);
    buffer_ = std::make_unique<char[]>(n);
    std::copy_n(data_->data() + pos_, n, buffer_.get());
    pos_ += n;
    setg(buffer_.get(), buffer_.get(), buffer_.get() + n);
    return traits_type::to_int_type(*gptr());
  }

 private:
  const std::string* data_;
  std::size_t chunk_;
  std::size_t pos_ = 0;
  std::unique_ptr<char[]> buffer_;
};

// Memory that may grow: Next() hands out what is there, in one piece.
class MemoryStream : public google::protobuf::io::ZeroCopyInputStream {
 public:
  explicit MemoryStream(const std::string* data) : data_(data) {}
  bool Next(const void** data, int* size) override {
    if (pos_ == data_->size()) return false;
    *data = data_->data() + pos_;
    *size = static_cast<int>(data_->size() - pos_);
    pos_ = data_->size();
    last_ = static_cast<std::size_t>(*size);
    return true;
  }
  void BackUp(int count) override {
    FUZZ_CHECK(count >= 0 && static_cast<std::size_t>(count) <= last_, "BackUp(%d)", count);
    pos_ -= static_cast<std::size_t>(count);
    last_ = 0;
  }
  bool Skip(int count) override {
    last_ = 0;
    const std::size_t left = data_->size() - pos_;
    pos_ += std::min(left, static_cast<std::size_t>(count));
    return static_cast<std::size_t>(count) <= left;
  }
  std::int64_t ByteCount() const override { return static_cast<std::int64_t>(pos_); }

 private:
  const std::string* data_;
  std::size_t pos_ = 0;
  std::size_t last_ = 0;
};

struct Record {
  RecordKind kind;
  std::uint64_t offset, end;
  std::string raw;
  std::string decoded;  // the decoded line, serialised again
  bool operator==(const Record& o) const {
    return kind == o.kind && offset == o.offset && end == o.end && raw == o.raw &&
           decoded == o.decoded;
  }
};

// Everything a reading shows, phase by phase.
struct Outcome {
  std::vector<Record> records;
  std::vector<std::uint64_t> undecodable;
  std::vector<std::string> ends;  // the reader's state where each phase ended

  bool operator==(const Outcome& o) const {
    return records == o.records && undecodable == o.undecodable && ends == o.ends;
  }
};

std::string State(const Reader& reader) {
  const std::optional<Error>& damage = reader.damage();
  std::string s =
      "damaged " + std::to_string(damage.has_value()) + " at " +
      std::to_string(damage ? damage->offset() : 0) + " (" + (damage ? damage->message() : "") +
      ") kind " + std::to_string(damage ? static_cast<int>(damage->kind()) : -1) + " waiting " +
      std::to_string(reader.waiting()) + " lines " + std::to_string(reader.logger_lines()) + "+" +
      std::to_string(reader.can_lines()) + " unknown " + std::to_string(reader.unknown_records()) +
      " undecodable " + std::to_string(reader.undecodable_lines()) + " complete " +
      std::to_string(reader.complete_bytes()) + " read " + std::to_string(reader.bytes_read());
  for (const DamagedSpan& span : reader.damaged_spans()) {
    s += " span " + std::to_string(span.offset) + "+" + std::to_string(span.length) + " (" +
         span.error.message() + ") " + std::to_string(span.records_skipped);
  }
  return s;
}

void ReadPhase(Reader* reader, bool decode, Outcome* outcome) {
  while (reader->Next()) {
    Record r{reader->kind(), reader->offset(), reader->end_offset(), std::string(reader->raw()),
             ""};
    if (decode) {
      r.decoded = reader->kind() == RecordKind::kLoggerLine
                      ? reader->logger_line().SerializeAsString()
                      : reader->can_line().SerializeAsString();
    }
    outcome->records.push_back(std::move(r));
  }
  outcome->ends.push_back(State(*reader));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  static const std::size_t kChunks[] = {1, 2, 3, 5, 8, 17, 64, 4096};
  const std::uint8_t mode = data[0];
  const std::size_t chunk = kChunks[mode & 7];
  const bool decode = (mode & 0x08) == 0;
  const bool resync = (mode & 0x10) != 0;
  const bool follow = (mode & 0x20) != 0;
  const bool with_handler = (mode & 0x40) != 0;
  const bool small_limit = (mode & 0x80) != 0;
  std::string_view file(reinterpret_cast<const char*>(data + 1), size - 1);
  std::size_t split = file.size();
  if (follow && file.size() >= 2) {
    split = (static_cast<std::size_t>(static_cast<std::uint8_t>(file[0])) |
             static_cast<std::size_t>(static_cast<std::uint8_t>(file[1])) << 8);
    file.remove_prefix(2);
    split %= file.size() + 1;
  }
  const std::string_view first = file.substr(0, split);
  const std::string_view rest = file.substr(split);

  Outcome outcomes[3];
  std::vector<std::uint64_t>* undecodable = nullptr;
  ReaderOptions options;
  options.decode = decode;
  options.resync = resync;
  options.follow = follow;
  if (small_limit) options.max_line_size = 24;
  if (with_handler) {
    options.on_undecodable_line = [&undecodable](std::uint64_t offset, RecordKind) {
      undecodable->push_back(offset);
    };
  }

  // From a file.
  const std::string path = (Scratch() / "log.bin").string();
  gcuproto_test::WriteFile(path, std::string(first));
  {
    undecodable = &outcomes[0].undecodable;
    Error error;
    auto reader = Reader::Open(path, options, &error);
    FUZZ_CHECK(reader != nullptr, "%s", error.message().c_str());
    ReadPhase(reader.get(), decode, &outcomes[0]);
    if (follow) {
      std::ofstream(path, std::ios::binary | std::ios::app) << rest;
      if (reader->Resume()) ReadPhase(reader.get(), decode, &outcomes[0]);
    }
  }
  // From a pipe.
  {
    undecodable = &outcomes[1].undecodable;
    std::string bytes(first);
    PipeBuffer pipe(&bytes, chunk);
    std::istream stream(&pipe);
    Reader reader(&stream, options);
    ReadPhase(&reader, decode, &outcomes[1]);
    if (follow) {
      bytes.append(rest);
      if (reader.Resume()) ReadPhase(&reader, decode, &outcomes[1]);
    }
  }
  // From memory.
  {
    undecodable = &outcomes[2].undecodable;
    std::string bytes(first);
    MemoryStream growing(&bytes);
    google::protobuf::io::ArrayInputStream array(file.data(), static_cast<int>(file.size()));
    Reader reader(
        follow ? static_cast<google::protobuf::io::ZeroCopyInputStream*>(&growing) : &array,
        options);
    ReadPhase(&reader, decode, &outcomes[2]);
    if (follow) {
      bytes.append(rest);
      if (reader.Resume()) ReadPhase(&reader, decode, &outcomes[2]);
    }
    if (!follow && !reader.damage()) {
      FUZZ_CHECK(reader.complete_bytes() == file.size() && reader.bytes_read() == file.size(),
                 "an undamaged file of %zu bytes read as %llu complete, %llu read", file.size(),
                 (unsigned long long)reader.complete_bytes(),
                 (unsigned long long)reader.bytes_read());
    }
  }

  static const char* const kNames[] = {"the file", "the pipe", "memory"};
  for (int i = 0; i < 2; ++i) {
    const Outcome& a = outcomes[i];
    const Outcome& b = outcomes[2];
    if (a == b) continue;
    std::size_t same = 0;
    while (same < a.records.size() && same < b.records.size() && a.records[same] == b.records[same])
      ++same;
    FUZZ_CHECK(
        false,
        "%s and memory differ: %zu and %zu records, the first %zu the same;\n%s: %s\nmemory: %s",
        kNames[i], a.records.size(), b.records.size(), same, kNames[i],
        a.ends.empty() ? "" : a.ends.back().c_str(), b.ends.empty() ? "" : b.ends.back().c_str());
  }
  return 0;
}
