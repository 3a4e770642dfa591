// Damaged and growing blackbox inputs: a cut-short record read from a file,
// a pipe and memory alike; appending after one; following a growing file;
// resynchronising after ten kinds of damage with exact counts.
#include <gcuproto/blackbox.pb.h>
#include <gcuproto/blackbox/reader.h>
#include <gcuproto/blackbox/writer.h>
#include <google/protobuf/io/zero_copy_stream_impl.h>
#include <google/protobuf/io/zero_copy_stream_impl_lite.h>
#include <gtest/gtest.h>
#include <unistd.h>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <istream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "scratch_dir.h"
#include "wire.h"

namespace {

using gcuproto::blackbox::DamagedSpan;
using gcuproto::blackbox::Error;
using gcuproto::blackbox::ErrorKind;
using gcuproto::blackbox::Reader;
using gcuproto::blackbox::ReaderOptions;
using gcuproto::blackbox::RecordKind;
using gcuproto::blackbox::Writer;
using gcuproto::blackbox::WriterOptions;
using gcuproto_test::Record;

std::string LoggerRecord(std::uint32_t seq, std::uint32_t time, int samples) {
  BlackboxFileLine line;
  line.set_seqno(seq);
  line.set_timestamp(time);
  for (int i = 0; i < samples; ++i)
    line.add_datainput(static_cast<std::int32_t>(seq * 7 + i) % 3000 - 1500);
  for (int i = 0; i < samples / 4; ++i) line.add_dataoutput(i * 3);
  return Record(0x52, line.SerializeAsString());
}

std::string CanRecord(std::uint32_t seq, std::uint32_t time) {
  BlackboxCandumpFileLine line;
  line.set_seqno(seq);
  line.set_timestamp(time);
  line.set_canid(0x100 + seq % 50);
  line.set_messageid(seq % 7);
  line.set_data(std::string("\x11\x22\x33\x44\x55\x66\x77", 7) + static_cast<char>(seq));
  return Record(0x5A, line.SerializeAsString());
}

std::string TempPath(const std::string& name) {
  static const gcuproto_test::ScratchDir dir("gcuproto_damage");
  return (dir / name).string();
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// What a reader made of an input.
struct Outcome {
  std::vector<std::string> records;  // key, length and line of each delivered record
  std::vector<std::uint64_t> offsets;
  bool damaged = false;
  bool cut_short = false;
  std::uint64_t complete_bytes = 0;
  std::vector<DamagedSpan> spans;
  bool operator==(const Outcome& o) const {
    if (spans.size() != o.spans.size()) return false;
    for (std::size_t i = 0; i < spans.size(); ++i) {
      if (spans[i].offset != o.spans[i].offset || spans[i].length != o.spans[i].length ||
          spans[i].records_skipped != o.spans[i].records_skipped) {
        return false;
      }
    }
    return records == o.records && damaged == o.damaged && cut_short == o.cut_short &&
           complete_bytes == o.complete_bytes;
  }
};

Outcome ReadAll(Reader& reader) {
  Outcome out;
  while (reader.Next()) {
    out.records.push_back(
        Record(reader.kind() == RecordKind::kLoggerLine ? 0x52 : 0x5A, std::string(reader.raw())));
    out.offsets.push_back(reader.offset());
  }
  out.damaged = reader.damage().has_value();
  out.cut_short = reader.damage() && reader.damage()->kind() == ErrorKind::kCutShort;
  out.complete_bytes = reader.complete_bytes();
  out.spans = reader.damaged_spans();
  return out;
}

Outcome FromMemory(const std::string& bytes, ReaderOptions options = {}, int block = -1) {
  google::protobuf::io::ArrayInputStream input(bytes.data(), static_cast<int>(bytes.size()), block);
  Reader reader(&input, options);
  return ReadAll(reader);
}

Outcome FromFile(const std::string& bytes, ReaderOptions options = {}) {
  const std::string path = TempPath("input.bin");
  WriteFile(path, bytes);
  Error error;
  auto reader = Reader::Open(path, options, &error);
  EXPECT_TRUE(reader) << error.message();
  return ReadAll(*reader);
}

Outcome FromPipe(const std::string& bytes, ReaderOptions options = {}) {
  int fds[2];
#ifdef _WIN32
  EXPECT_EQ(::_pipe(fds, 1 << 16, _O_BINARY), 0);
#else
  EXPECT_EQ(::pipe(fds), 0);
#endif
  std::thread writer([&] {
    for (std::size_t done = 0; done < bytes.size();) {
      const ssize_t n = ::write(fds[1], bytes.data() + done, bytes.size() - done);
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    ::close(fds[1]);
  });
  google::protobuf::io::FileInputStream input(fds[0]);
  Reader reader(&input, options);
  Outcome out = ReadAll(reader);
  writer.join();
  ::close(fds[0]);
  return out;
}

// Records of other kinds cut short by the end of the input: not complete,
// from a file as from a pipe or memory.
TEST(BlackboxCutRecord, OtherKindsCutShortAreDamageFromEveryInput) {
  const std::string lines = LoggerRecord(1, 10, 8) + CanRecord(1, 11);
  const struct {
    const char* what;
    std::string tail;
  } cases[] = {
      {"bytes record", std::string("\x62\x64", 2) + std::string(10, 'x')},  // 100 bytes promised
      {"fixed64", std::string("\x09\x01\x02\x03", 4)},
      {"fixed32", std::string("\x0D\x01", 2)},
      {"varint", std::string("\x08\x80\x80", 3)},
      {"group", std::string("\x63\x08\x01\x12\x05\x01", 6)},
      {"bytes in a group", std::string("\x63\x12\x40", 3) + std::string(20, 'y')},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string bytes = lines + c.tail;
    const Outcome memory = FromMemory(bytes);
    EXPECT_TRUE(memory.damaged);
    EXPECT_TRUE(memory.cut_short);
    EXPECT_EQ(memory.complete_bytes, lines.size());
    EXPECT_EQ(memory.records.size(), 2u);
    EXPECT_EQ(FromFile(bytes), memory);
    EXPECT_EQ(FromPipe(bytes), memory);
    EXPECT_EQ(FromMemory(bytes, {}, 3), memory);
    ReaderOptions resync;
    resync.resync = true;
    const Outcome checked = FromFile(bytes, resync);
    EXPECT_EQ(checked.records.size(), 2u);
    ASSERT_EQ(checked.spans.size(), 1u);
    EXPECT_EQ(checked.spans[0].offset, lines.size());
    EXPECT_EQ(checked.spans[0].length, c.tail.size());
    EXPECT_EQ(FromPipe(bytes, resync), checked);
  }
}

// Appending trusts only what a reader delivers: the cut record goes, and
// every line written after it reads back.
TEST(BlackboxCutRecord, AppendRemovesACutRecordOfAnotherKind) {
  const std::string lines = LoggerRecord(1, 10, 8) + CanRecord(1, 11);
  const std::string path = TempPath("append.bin");
  WriteFile(path, lines + std::string("\x62\x64", 2) + std::string(10, 'x'));
  Error error;
  auto writer = Writer::Open(path, WriterOptions{}, &error);
  ASSERT_TRUE(writer) << error.message();
  EXPECT_EQ(writer->dropped_tail_bytes(), 12u);
  BlackboxFileLine line;
  for (std::uint32_t i = 2; i < 1002; ++i) {
    line.set_seqno(i);
    ASSERT_TRUE(writer->Write(line));
  }
  ASSERT_TRUE(writer->Close(&error)) << error.message();
  std::ifstream in(path, std::ios::binary);
  const std::string written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const Outcome read = FromMemory(written);
  EXPECT_FALSE(read.damaged);
  EXPECT_EQ(read.records.size(), 1002u);
  EXPECT_EQ(read.complete_bytes, written.size());
}

// A growing file: Next() stops at its end and at a record still being
// written, and Resume() reads on once the rest has arrived.
TEST(BlackboxFollow, ResumesAfterTheEndAndInsideARecord) {
  const std::string first = LoggerRecord(1, 10, 8);
  const std::string second = CanRecord(1, 11) + std::string("\x63\x08\x01\x64", 4);  // and a group
  const std::string third = LoggerRecord(2, 20, 8);
  const std::string path = TempPath("live.bin");
  WriteFile(path, first);
  ReaderOptions options;
  options.follow = true;
  Error error;
  auto reader = Reader::Open(path, options, &error);
  ASSERT_TRUE(reader) << error.message();
  std::ofstream out(path, std::ios::binary | std::ios::app);
  const struct {
    std::string append;
    int lines;     // delivered after the append
    bool waiting;  // then stopped inside a record
  } steps[] = {
      {"", 1, false},
      {second.substr(0, 5), 0, true},
      {second.substr(5), 1, false},
      {third.substr(0, 1), 0, true},
      {third.substr(1, 7), 0, true},
      {third.substr(8), 1, false},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.append.size());
    out << step.append << std::flush;
    EXPECT_TRUE(reader->Resume());
    int lines = 0;
    while (reader->Next()) ++lines;
    EXPECT_EQ(lines, step.lines);
    EXPECT_EQ(reader->waiting(), step.waiting);
    EXPECT_FALSE(reader->damage());
  }
  EXPECT_EQ(reader->logger_lines(), 2u);
  EXPECT_EQ(reader->can_lines(), 1u);
  EXPECT_EQ(reader->unknown_records(), 1u);
  EXPECT_EQ(reader->complete_bytes(), first.size() + second.size() + third.size());
  // Without follow, the same cut is damage and Resume() refuses.
  WriteFile(path, first + third.substr(0, 5));
  auto plain = Reader::Open(path, {}, &error);
  while (plain->Next()) {
  }
  ASSERT_TRUE(plain->damage());
  EXPECT_EQ(plain->damage()->kind(), ErrorKind::kCutShort);
  EXPECT_FALSE(plain->Resume());
}

// A stream buffer that holds what has "arrived" and fails the test when
// asked for more: a reader that waits to fill its buffer would ask.
class ArrivingBytes : public std::streambuf {
 public:
  void Arrive(const std::string& bytes) {
    data_ += bytes;
    setg(&data_[0], &data_[0] + used_, &data_[0] + data_.size());
  }
  bool asked_too_much = false;

 protected:
  int_type underflow() override {
    used_ = static_cast<std::size_t>(gptr() - eback());
    if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
    asked_too_much = true;
    return traits_type::eof();
  }
  std::streamsize showmanyc() override { return egptr() - gptr(); }

 private:
  std::string data_ = std::string();
  std::size_t used_ = 0;
};

TEST(BlackboxFollow, IstreamRecordsComeAsTheyArrive) {
  ArrivingBytes bytes;
  std::istream input(&bytes);
  Reader reader(&input);
  bytes.Arrive(LoggerRecord(1, 10, 8));
  ASSERT_TRUE(reader.Next());
  EXPECT_EQ(reader.logger_line().seqno(), 1u);
  EXPECT_FALSE(bytes.asked_too_much);
}

// Twelve kinds of damage at three places of a generated file of 8.6 MB
// (94,958 lines): every line whose bytes the damage did not touch comes back,
// and no other.
struct Generated {
  std::string bytes;
  std::vector<std::uint64_t> starts;  // of every record, and the end
};

Generated MakeLog() {
  Generated log;
  std::uint32_t logger_seq = 1000, can_seq = 5;
  for (std::uint32_t tick = 0; log.bytes.size() < 8'600'000; ++tick) {
    log.starts.push_back(log.bytes.size());
    if (tick % 2 == 0) {
      log.bytes += LoggerRecord(logger_seq++, 1000 + tick * 5, 64);
    } else {
      log.bytes += CanRecord(can_seq++, 1000 + tick * 5);
    }
  }
  log.starts.push_back(log.bytes.size());
  return log;
}

enum class Damage {
  kKeyBit0,
  kKeyBit3,
  kLengthBit6,
  kLengthBit7,
  kSeqBit,
  kTimeBit,
  kZeros,
  kOnes,
  kGarbage,
  kInsert,
  kDelete,
  kCutRecord
};

struct DamageCase {
  Damage damage;
  const char* name;
  std::uint64_t delivered[3];  // lines delivered with damage at 1/4, 1/2, 3/4
};

// Applies `damage` at a record near `at`; returns the
// range of original bytes it touched.
std::pair<std::uint64_t, std::uint64_t> Apply(const Generated& log, Damage damage, std::uint64_t at,
                                              std::string* out) {
  std::mt19937 random(static_cast<std::uint32_t>(at));
  std::size_t r = 0;
  while (log.starts[r] < at) ++r;
  // The middle place damages a logger line, the others a CAN line; a time
  // stamp is always a logger line's.
  const bool logger =
      damage == Damage::kTimeBit || at * 2 == log.bytes.size() || at * 2 + 1 == log.bytes.size();
  if ((log.bytes[log.starts[r]] == 0x52) != logger) ++r;
  const std::uint64_t start = log.starts[r];
  const std::uint64_t middle = start + (log.starts[r + 1] - start) / 2;
  const std::uint64_t line = start + 2 + (static_cast<std::uint8_t>(log.bytes[start + 1]) >= 0x80);
  *out = log.bytes;
  auto garbage = [&](std::size_t n) {
    std::string g(n, 0);
    for (char& c : g) c = static_cast<char>(random());
    return g;
  };
  switch (damage) {
    case Damage::kKeyBit0:
      (*out)[start] ^= 0x01;
      return {start, start + 1};
    case Damage::kKeyBit3:
      (*out)[start] ^= 0x08;
      return {start, start + 1};
    case Damage::kLengthBit6:
      (*out)[start + 1] ^= 0x40;
      return {start + 1, start + 2};
    case Damage::kLengthBit7:
      (*out)[start + 1] ^= static_cast<char>(0x80);
      return {start + 1, start + 2};
    case Damage::kSeqBit:
      (*out)[line + 2] ^= 0x04;
      return {line + 2, line + 3};  // seqNo's second byte
    case Damage::kTimeBit: {
      // The last byte of the time stamp (after seqNo and the inputs).
      const std::uint64_t p = line;
      BlackboxFileLine line;
      line.ParseFromString(log.bytes.substr(p, log.starts[r + 1] - p));
      line.clear_dataoutput();
      const std::uint64_t time_end = p + line.ByteSizeLong() - 1;
      (*out)[time_end] ^= 0x08;
      return {time_end, time_end + 1};
    }
    case Damage::kZeros:
      out->replace(middle, 4096, std::string(4096, 0));
      return {middle, middle + 4096};
    case Damage::kOnes:
      out->replace(middle, 512, std::string(512, '\xFF'));
      return {middle, middle + 512};
    case Damage::kGarbage:
      out->replace(middle, 4096, garbage(4096));
      return {middle, middle + 4096};
    case Damage::kInsert:
      out->insert(middle, garbage(37));
      return {middle, middle};
    case Damage::kDelete:
      out->erase(middle, 23);
      return {middle, middle + 23};
    case Damage::kCutRecord:
      out->erase(middle, log.starts[r + 1] - middle);
      return {middle, log.starts[r + 1]};
  }
  return {start, start};
}

const DamageCase kDamageCases[] = {
    {Damage::kKeyBit0, "key bit 0", {94957, 94957, 94957}},
    {Damage::kKeyBit3, "key bit 3", {94957, 94957, 94957}},
    {Damage::kLengthBit6, "length bit 6", {94957, 94957, 94957}},
    {Damage::kLengthBit7, "length bit 7", {94957, 94957, 94957}},
    {Damage::kSeqBit, "seqNo bit", {94957, 94957, 94957}},
    {Damage::kTimeBit, "time stamp bit", {94957, 94957, 94957}},
    {Damage::kZeros, "4 KiB of zeros", {94912, 94913, 94912}},
    {Damage::kOnes, "512 bytes of 0xFF", {94952, 94951, 94952}},
    {Damage::kGarbage, "4 KiB of random bytes", {94912, 94913, 94912}},
    {Damage::kInsert, "37 bytes inserted", {94957, 94957, 94957}},
    {Damage::kDelete, "23 bytes deleted", {94956, 94957, 94956}},
    {Damage::kCutRecord, "a record cut short, the next ones after it", {94957, 94957, 94957}},
};

TEST(BlackboxResync, RecoversTheIntactLinesAfterEachKindOfDamage) {
  const Generated log = MakeLog();
  ReaderOptions options;
  options.resync = true;
  const Outcome clean = FromMemory(log.bytes, options);
  ASSERT_EQ(clean.records.size(), log.starts.size() - 1);
  ASSERT_TRUE(clean.spans.empty());
  std::uint64_t intact_after_total = 0, recovered_after_total = 0;
  for (const DamageCase& c : kDamageCases) {
    for (int place = 0; place < 3; ++place) {
      SCOPED_TRACE(std::string(c.name) + " at " + std::to_string(place + 1) + "/4");
      std::string damaged;
      const auto touched = Apply(log, c.damage, log.bytes.size() * (place + 1) / 4, &damaged);
      const Outcome read = FromMemory(damaged, options, place == 1 ? 4093 : -1);
      // Every delivered line is one of the file's, in order: no garbage.
      std::size_t next = 0, after = 0;
      for (std::size_t k = 0; k < read.records.size(); ++k) {
        const std::string& record = read.records[k];
        const std::size_t from = next;
        while (next < clean.records.size() && clean.records[next] != record) ++next;
        ASSERT_LT(next, clean.records.size())
            << "a line that is not in the file, after line " << from << " at " << log.starts[from]
            << " size " << record.size() << " damage at " << touched.first << " delivered at "
            << read.offsets[k];
        if (log.starts[next] >= touched.second) ++after;
        ++next;
      }
      std::size_t intact_after = 0;
      for (std::size_t i = 0; i + 1 < log.starts.size(); ++i)
        intact_after += log.starts[i] >= touched.second;
      EXPECT_GE(after * 100, intact_after * 95);
      intact_after_total += intact_after;
      recovered_after_total += after;
      // The spans and the delivered records account for every byte.
      std::uint64_t accounted = 0;
      for (const DamagedSpan& span : read.spans) accounted += span.length;
      for (const std::string& record : read.records) accounted += record.size();
      EXPECT_EQ(accounted, damaged.size());
      EXPECT_FALSE(read.spans.empty());
      EXPECT_EQ(read.records.size(), c.delivered[place]);
    }
  }
  std::printf("recovered %llu of %llu intact lines after the damage\n",
              static_cast<unsigned long long>(recovered_after_total),
              static_cast<unsigned long long>(intact_after_total));
}

}  // namespace
