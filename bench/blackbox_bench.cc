// The helper of bench/file_bench.py: writes the generated blackbox files and
// runs the limits and library paths that the tool itself has no command for.
//
//   gcuproto_blackbox_bench generate PATH MIB [--random-seq]
//   gcuproto_blackbox_bench skip-scan PATH      read it as the tool does; visit every field, decode
//   none gcuproto_blackbox_bench read PATH           the library's Reader, every line decoded
//
// The generated file is a day of a unit's log, the same bytes on every run:
// logger lines of 28 input and 4 output samples that wander around their
// channel's level, and a CAN frame after every tenth, from 50 identifiers;
// time stamps in milliseconds spread over 24 hours whatever the size.
// --random-seq numbers the lines with random 32-bit values instead of a
// counter, the worst case for the statistics' sets.
#include <fcntl.h>
#include <gcuproto/blackbox.pb.h>
#include <gcuproto/blackbox/reader.h>
#include <gcuproto/blackbox/writer.h>
#include <gcuproto/codec/wire.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <protozero/pbf_reader.hpp>
#include <string>

namespace gcuproto::blackbox {
namespace {

constexpr int kInputs = 28;
constexpr int kOutputs = 4;
constexpr int kCanEvery = 10;
constexpr std::uint32_t kCanIds = 50;
constexpr std::uint64_t kDayTicks = 24ull * 3600 * 1000;

[[noreturn]] void Die(const std::string& message) {
  std::fprintf(stderr, "gcuproto_blackbox_bench: %s\n", message.c_str());
  std::exit(1);
}

// The CAN identifiers of the generated file: 0x100 + 16 * n, standard.
std::uint32_t CanId(std::uint32_t n) { return 0x100 + 16 * n; }

// The lines of the generated file, one logger line (and maybe a CAN line)
// at a time.
class Lines {
 public:
  explicit Lines(bool random_seq) : random_seq_(random_seq) {
    for (std::int32_t& l : level_) l = static_cast<std::int32_t>(Next() % 8192) - 4096;
  }

  // The n-th logger line, stamped `time`; true when a CAN line follows it.
  bool Make(std::uint64_t n, std::uint32_t time) {
    line.Clear();
    line.set_seqno(random_seq_ ? Next() ^ (Next() << 16) : ++seq_no_);
    line.set_timestamp(time);
    for (int i = 0; i < kInputs + kOutputs; ++i) {
      level_[i] += static_cast<std::int32_t>(Next() % 33) - 16;
      if (level_[i] > 4999) level_[i] = 9998 - level_[i];
      if (level_[i] < -5000) level_[i] = -10000 - level_[i];
      (i < kInputs ? line.add_datainput(level_[i]) : line.add_dataoutput(level_[i] / 64));
    }
    if (n % kCanEvery != kCanEvery - 1) return false;
    can.set_seqno(random_seq_ ? Next() ^ (Next() << 16) : ++seq_no_);
    can.set_timestamp(time + 1);
    can.set_canid(CanId(Next() % kCanIds));
    std::string data(8, '\0');
    for (char& c : data) c = static_cast<char>(Next());
    can.set_data(data);
    return true;
  }

  BlackboxFileLine line;
  BlackboxCandumpFileLine can;

 private:
  std::uint32_t Next() {
    state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<std::uint32_t>(state_ >> 33);
  }

  bool random_seq_;
  std::uint64_t state_ = 0x9E3779B97F4A7C15ull;  // a fixed seed: the same file every run
  std::int32_t level_[kInputs + kOutputs];
  std::uint32_t seq_no_ = 0;
};

int Generate(const std::string& path, std::uint64_t mib, bool random_seq) {
  const std::uint64_t target = mib << 20;
  WriterOptions options;
  options.append = false;
  options.buffer_size = 1 << 20;
  Error error;
  std::unique_ptr<Writer> writer = Writer::Open(path, options, &error);
  if (!writer) Die(error.message());
  Lines lines(random_seq);
  for (std::uint64_t n = 0; writer->size() < target; ++n) {
    // Stamps by the bytes written, so that the file spans the day.
    const bool with_can =
        lines.Make(n, static_cast<std::uint32_t>(writer->size() * kDayTicks / target));
    if (!writer->Write(lines.line, &error) || (with_can && !writer->Write(lines.can, &error))) {
      Die(error.message());
    }
  }
  if (!writer->Close(&error)) Die(error.message());
  std::printf("%llu\n", static_cast<unsigned long long>(writer->size()));
  return 0;
}

// Reads the file as the tool does, a megabyte at a time, and visits every
// field of every line without decoding it.
int SkipScan(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) Die(path + ": " + std::strerror(errno));
  constexpr std::size_t kBlock = 1 << 20;
  std::string buffer(2 * kBlock, '\0');
  std::size_t begin = 0;
  std::size_t end = 0;
  std::uint64_t fields = 0;
  for (;;) {
    // Whole records of the buffer; a record cut by its end waits for more.
    for (;;) {
      const auto* const p = reinterpret_cast<const std::uint8_t*>(buffer.data()) + begin;
      const auto* const stop = reinterpret_cast<const std::uint8_t*>(buffer.data()) + end;
      if (p == stop) break;
      std::uint32_t size = 0;
      // The keys of both line kinds take one byte.
      const std::uint8_t* const q = wire::ReadLength(p + 1, stop, &size);
      if (q == nullptr || size > static_cast<std::uint64_t>(stop - q)) break;
      protozero::pbf_reader line(reinterpret_cast<const char*>(q), size);
      while (line.next()) {
        line.skip();
        ++fields;
      }
      begin += static_cast<std::size_t>(q + size - p);
    }
    std::memmove(&buffer[0], buffer.data() + begin, end - begin);
    end -= begin;
    begin = 0;
    const ssize_t n = ::read(fd, &buffer[end], buffer.size() - end);
    if (n < 0) Die(path + ": " + std::strerror(errno));
    if (n == 0) break;
    end += static_cast<std::size_t>(n);
  }
  ::close(fd);
  if (end != 0) Die(path + ": ends inside a record");
  std::printf("%llu fields\n", static_cast<unsigned long long>(fields));
  return 0;
}

int Read(const std::string& path) {
  Error error;
  std::unique_ptr<Reader> reader = Reader::Open(path, ReaderOptions(), &error);
  if (!reader) Die(error.message());
  std::uint64_t sum = 0;
  while (reader->Next()) {
    sum += reader->kind() == RecordKind::kLoggerLine ? reader->logger_line().seqno()
                                                     : reader->can_line().canid();
  }
  if (reader->damage()) Die(reader->damage()->message());
  std::printf("%llu\n", static_cast<unsigned long long>(sum));
  return 0;
}

}  // namespace
}  // namespace gcuproto::blackbox

int main(int argc, char** argv) {
  namespace bb = gcuproto::blackbox;
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "generate" && (argc == 4 || argc == 5)) {
    const bool random_seq = argc == 5 && std::string(argv[4]) == "--random-seq";
    if (argc == 5 && !random_seq) bb::Die(std::string("unknown option ") + argv[4]);
    return bb::Generate(argv[2], std::strtoull(argv[3], nullptr, 10), random_seq);
  }
  if (command == "skip-scan" && argc == 3) return bb::SkipScan(argv[2]);
  if (command == "read" && argc == 3) return bb::Read(argv[2]);
  std::fprintf(stderr,
               "usage: gcuproto_blackbox_bench generate PATH MIB [--random-seq] | skip-scan PATH | "
               "read PATH\n");
  return 2;
}
