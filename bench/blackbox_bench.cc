// Blackbox files of a gigabyte: a full streaming read (decoded lines, and raw
// lines only), CSV export, and parsing the whole file as one BlackboxFile, each
// with its peak memory, and the speed ratios of one run.
//
//   cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DGCUPROTO_BUILD_BENCHMARKS=ON
//   cmake --build build-bench --target gcuproto_blackbox_bench
//   build-bench/bench/gcuproto_blackbox_bench
//
// GCUPROTO_BLACKBOX_BENCH_MIB sets the file size (default 1024); the file is
// generated, the same bytes on every run, under TMPDIR (default /tmp) and
// removed at the end. Each workload runs in a child process of its own, so
// that its peak resident memory (ru_maxrss) is its alone, and
// GCUPROTO_BLACKBOX_BENCH_RUNS times (default 3), the fastest run counting.
// MB_per_s is input megabytes (10^6 bytes) per second of the work's CPU time
// (user and system), steadier than wall-clock time on a shared machine;
// wall_MB_per_s is beside it. The "ratios" line compares the speeds of the
// run: read_vs_parse (target at least 8) and csv_vs_parse (at least 3).
#include <benchmark/benchmark.h>
#include <gcuproto/blackbox.pb.h>
#include <gcuproto/blackbox/exporter.h>
#include <gcuproto/blackbox/reader.h>
#include <gcuproto/blackbox/writer.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>

namespace gcuproto::blackbox {
namespace {

// Lines as a unit logs them: 28 input and 4 output samples, 32 in all, that
// wander around their channel's level, and a CAN frame after every tenth.
constexpr int kInputs = 28;
constexpr int kOutputs = 4;
constexpr int kCanEvery = 10;
// The whole-message parse works on a prefix the runtime accepts (below 2 GiB),
// small enough to parse in the memory of a small machine.
constexpr std::uint64_t kWholeParseLimit = std::uint64_t{512} << 20;

struct Setup {
  std::string path;
  std::uint64_t size = 0;
  std::uint64_t parse_prefix = 0;  // ends at a record boundary
};

Setup& TheSetup() {
  static Setup setup;
  return setup;
}

void Die(const std::string& message) {
  std::fprintf(stderr, "blackbox_bench: %s\n", message.c_str());
  std::exit(1);
}

void Generate(Setup* setup) {
  const char* mib_text = std::getenv("GCUPROTO_BLACKBOX_BENCH_MIB");
  const std::uint64_t target = std::uint64_t(mib_text ? std::atoll(mib_text) : 1024) << 20;
  const char* tmp = std::getenv("TMPDIR");
  setup->path = std::string(tmp && *tmp ? tmp : "/tmp") + "/gcuproto_blackbox_bench_" +
                std::to_string(::getpid()) + ".bin";
  std::string error;
  WriterOptions options;
  options.append = false;
  options.buffer_size = 1 << 20;
  std::unique_ptr<Writer> writer = Writer::Open(setup->path, options, &error);
  if (!writer) Die(error);

  std::uint64_t state = 0x9E3779B97F4A7C15ull;  // a fixed seed: the same file every run
  auto next = [&state] {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<std::uint32_t>(state >> 33);
  };
  std::int32_t level[kInputs + kOutputs];
  for (int i = 0; i < kInputs + kOutputs; ++i) level[i] = static_cast<std::int32_t>(next() % 8192) - 4096;
  BlackboxFileLine line;
  BlackboxCandumpFileLine can;
  std::uint32_t seq_no = 0;
  std::uint32_t time = 0;
  for (std::uint64_t n = 0; writer->size() < target; ++n) {
    line.Clear();
    line.set_seqno(++seq_no);
    line.set_timestamp(time += 10);
    for (int i = 0; i < kInputs + kOutputs; ++i) {
      level[i] += static_cast<std::int32_t>(next() % 33) - 16;
      if (level[i] > 4999) level[i] = 9998 - level[i];
      if (level[i] < -5000) level[i] = -10000 - level[i];
      (i < kInputs ? line.add_datainput(level[i]) : line.add_dataoutput(level[i] / 64));
    }
    writer->Write(line);
    if (n % kCanEvery == kCanEvery - 1) {
      can.set_seqno(++seq_no);
      can.set_timestamp(time + 3);
      const std::uint32_t id = next();
      can.set_extended(id & 1);
      can.set_canid(can.extended() ? id & 0x1FFFFFFF : id & 0x7FF);
      std::string data(8, '\0');
      for (char& c : data) c = static_cast<char>(next());
      can.set_data(data);
      writer->Write(can);
    }
  }
  if (!writer->Close()) Die(writer->error());
  setup->size = writer->size();

  ReaderOptions scan;
  scan.decode = false;
  std::unique_ptr<Reader> reader = Reader::Open(setup->path, scan, &error);
  if (!reader) Die(error);
  while (reader->next() && reader->end_offset() <= kWholeParseLimit) {
    setup->parse_prefix = reader->end_offset();
  }
}

// What a workload reports from its child process. Speeds are taken from the
// CPU time of the work (user and system), which other processes on a shared
// machine disturb far less than the wall-clock time, reported beside it.
struct Outcome {
  double seconds = 0;       // CPU time
  double wall_seconds = 0;
  std::uint64_t bytes = 0;       // input bytes handled
  std::uint64_t checksum = 0;    // keeps the work from being optimised away
  double extra_seconds = 0;      // workload-specific (load time of the whole parse)
};

// Runs `work` in a child process; returns its outcome and peak RSS in KiB.
template <typename Work>
Outcome RunInChild(Work work, long* peak_rss_kib) {
  int pipe_fds[2];
  if (::pipe(pipe_fds) != 0) Die("pipe failed");
  const pid_t pid = ::fork();
  if (pid < 0) Die("fork failed");
  if (pid == 0) {
    ::close(pipe_fds[0]);
    const Outcome outcome = work();
    const ssize_t written = ::write(pipe_fds[1], &outcome, sizeof outcome);
    ::_exit(written == static_cast<ssize_t>(sizeof outcome) ? 0 : 1);
  }
  ::close(pipe_fds[1]);
  Outcome outcome;
  const ssize_t got = ::read(pipe_fds[0], &outcome, sizeof outcome);
  ::close(pipe_fds[0]);
  int status = 0;
  struct rusage usage;
  if (::wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0 ||
      got != static_cast<ssize_t>(sizeof outcome)) {
    Die("a workload failed");
  }
  *peak_rss_kib = usage.ru_maxrss;
  return outcome;
}

struct Clock {
  double cpu;
  double wall;
};

Clock Now() {
  timespec cpu;
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu);
  return {static_cast<double>(cpu.tv_sec) + static_cast<double>(cpu.tv_nsec) * 1e-9,
          std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count()};
}

void Stop(const Clock& start, Outcome* outcome) {
  const Clock end = Now();
  outcome->seconds = end.cpu - start.cpu;
  outcome->wall_seconds = end.wall - start.wall;
}

std::unique_ptr<Reader> OpenReader(bool decode) {
  ReaderOptions options;
  options.decode = decode;
  std::string error;
  std::unique_ptr<Reader> reader = Reader::Open(TheSetup().path, options, &error);
  if (!reader) Die(error);
  return reader;
}

Outcome StreamingRead() {
  const Clock start = Now();
  std::unique_ptr<Reader> reader = OpenReader(true);
  Outcome outcome;
  while (reader->next()) {
    if (reader->kind() == RecordKind::kLoggerLine) {
      const BlackboxFileLine& line = reader->logger_line();
      outcome.checksum += line.seqno() + static_cast<std::uint32_t>(line.datainput(0));
    } else {
      outcome.checksum += reader->can_line().canid();
    }
  }
  if (reader->damaged()) Die(reader->damage_reason());
  Stop(start, &outcome);
  outcome.bytes = reader->complete_bytes();
  return outcome;
}

Outcome StreamingReadRaw() {
  const Clock start = Now();
  std::unique_ptr<Reader> reader = OpenReader(false);
  Outcome outcome;
  while (reader->next()) outcome.checksum += reader->raw().size();
  if (reader->damaged()) Die(reader->damage_reason());
  Stop(start, &outcome);
  outcome.bytes = reader->complete_bytes();
  return outcome;
}

// As `gcuproto blackbox export --format csv` does it: one pass to size the
// columns, one to write.
Outcome CsvExport() {
  const Clock start = Now();
  std::unique_ptr<Reader> scan = OpenReader(false);
  const CsvColumns columns = ScanCsvColumns(scan.get());
  std::unique_ptr<Reader> reader = OpenReader(false);
  const int fd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  FdSink sink(fd);
  CsvFormatter csv(columns);
  const ExportResult result = Export(reader.get(), &csv, &sink);
  if (!result.ok || reader->damaged()) Die("CSV export failed: " + result.reason);
  ::close(fd);
  Outcome outcome;
  Stop(start, &outcome);
  outcome.bytes = reader->complete_bytes();
  outcome.checksum = columns.inputs;
  return outcome;
}

Outcome WholeMessageParse() {
  const Setup& setup = TheSetup();
  const Clock start = Now();
  std::string bytes(setup.parse_prefix, '\0');
  const int fd = ::open(setup.path.c_str(), O_RDONLY | O_CLOEXEC);
  std::uint64_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::read(fd, &bytes[done], bytes.size() - done);
    if (n <= 0) Die("cannot read the file");
    done += static_cast<std::uint64_t>(n);
  }
  ::close(fd);
  const Clock loaded = Now();
  auto file = std::make_unique<BlackboxFile>();
  if (!file->ParseFromArray(bytes.data(), static_cast<int>(bytes.size()))) Die("whole parse failed");
  Outcome outcome;
  Stop(loaded, &outcome);
  outcome.extra_seconds = loaded.wall - start.wall;
  outcome.bytes = bytes.size();
  outcome.checksum = static_cast<std::uint64_t>(file->line_size() + file->linecan_size());
  return outcome;
}

// MB/s of each workload, for the ratios at the end.
std::map<std::string, double>& Speeds() {
  static std::map<std::string, double> speeds;
  return speeds;
}

// Each workload runs this many times, each in a fresh child; the fastest
// run counts, the largest peak memory is reported.
int Runs() {
  const char* text = std::getenv("GCUPROTO_BLACKBOX_BENCH_RUNS");
  return text != nullptr && std::atoi(text) > 0 ? std::atoi(text) : 3;
}

template <Outcome (*kWork)()>
void Workload(benchmark::State& state, const char* name) {
  for (auto _ : state) {
    Outcome best;
    long peak_kib = 0;
    for (int run = 0; run < Runs(); ++run) {
      long run_peak_kib = 0;
      const Outcome outcome = RunInChild(kWork, &run_peak_kib);
      if (run == 0 || outcome.seconds < best.seconds) best = outcome;
      peak_kib = std::max(peak_kib, run_peak_kib);
    }
    state.SetIterationTime(best.seconds);
    const double mb_per_s = static_cast<double>(best.bytes) / 1e6 / best.seconds;
    Speeds()[name] = mb_per_s;
    state.counters["MB_per_s"] = mb_per_s;
    state.counters["wall_MB_per_s"] = static_cast<double>(best.bytes) / 1e6 / best.wall_seconds;
    state.counters["input_MiB"] = static_cast<double>(best.bytes) / (1 << 20);
    state.counters["peak_RSS_MiB"] = static_cast<double>(peak_kib) / 1024.0;
    if (best.extra_seconds > 0) state.counters["load_s"] = best.extra_seconds;
    benchmark::DoNotOptimize(best.checksum);
  }
}

void StreamingReadBench(benchmark::State& state) { Workload<StreamingRead>(state, "read"); }
void StreamingReadRawBench(benchmark::State& state) { Workload<StreamingReadRaw>(state, "read_raw"); }
void CsvExportBench(benchmark::State& state) { Workload<CsvExport>(state, "csv"); }
void WholeMessageParseBench(benchmark::State& state) { Workload<WholeMessageParse>(state, "parse"); }

// The targets, as ratios of this run's speeds: a streaming read at least 8
// times and a CSV export at least 3 times as fast as the whole-message parse.
void Ratios(benchmark::State& state) {
  for (auto _ : state) state.SetIterationTime(1e-9);
  const auto& speeds = Speeds();
  if (!speeds.count("parse")) {
    state.SkipWithError("run the parse workload in the same run");
    return;
  }
  const double parse = speeds.at("parse");
  if (speeds.count("read")) state.counters["read_vs_parse"] = speeds.at("read") / parse;
  if (speeds.count("read_raw")) state.counters["read_raw_vs_parse"] = speeds.at("read_raw") / parse;
  if (speeds.count("csv")) state.counters["csv_vs_parse"] = speeds.at("csv") / parse;
}

}  // namespace
}  // namespace gcuproto::blackbox

int main(int argc, char** argv) {
  namespace bb = gcuproto::blackbox;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  bb::Setup& setup = bb::TheSetup();
  std::fprintf(stderr, "generating the blackbox file...\n");
  bb::Generate(&setup);
  std::fprintf(stderr, "%s: %.0f MiB, whole-message parse on the first %.0f MiB\n", setup.path.c_str(),
               static_cast<double>(setup.size) / (1 << 20), static_cast<double>(setup.parse_prefix) / (1 << 20));
  auto configure = [](benchmark::internal::Benchmark* b) {
    b->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
  };
  configure(benchmark::RegisterBenchmark("blackbox/streaming_read", bb::StreamingReadBench));
  configure(benchmark::RegisterBenchmark("blackbox/streaming_read_raw", bb::StreamingReadRawBench));
  configure(benchmark::RegisterBenchmark("blackbox/csv_export", bb::CsvExportBench));
  configure(benchmark::RegisterBenchmark("blackbox/whole_message_parse", bb::WholeMessageParseBench));
  configure(benchmark::RegisterBenchmark("blackbox/ratios", bb::Ratios));
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  ::unlink(setup.path.c_str());
  return 0;
}
