// The inputs of the benchmarks, shared by both implementations under test.
//
// The encoded inputs are made once, by the library, and both implementations
// read the same bytes. Every message that a benchmark serialises is one of
// these inputs: each implementation builds its own object from them (not
// timed) and must write exactly these bytes back, which the start-up check
// confirms before anything is timed.
//
// This header names no message type: protobuf-c's C types carry the same
// names as the library's classes, so each side lives in its own source file.
#ifndef GCUPROTO_BENCH_WORKLOADS_H
#define GCUPROTO_BENCH_WORKLOADS_H

#include <benchmark/benchmark.h>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace gcuproto_bench {

// Sizes of the workloads.
constexpr int kLoggerSamples = 64;
constexpr int kMapSide = 32;                                   // a 32 x 32 map
constexpr int kFirmwareBlobSize = 2048;                        // one flash page per command
constexpr int kFirmwareBlobs = (1 << 20) / kFirmwareBlobSize;  // 1 MiB of blobs
constexpr std::size_t kBlackboxTargetSize = 64u << 20;

// Workload names, the first half of each benchmark's name.
constexpr char kPingRoundTrip[] = "ping_round_trip";
constexpr char kLoggerParse[] = "logger64_parse";
constexpr char kLoggerSerialise[] = "logger64_serialise";
constexpr char kMapParse[] = "map32x32_parse";
constexpr char kMapSerialise[] = "map32x32_serialise";
constexpr char kFirmwareParse[] = "firmware1MiB_parse";
constexpr char kFirmwareSerialise[] = "firmware1MiB_serialise";
constexpr char kBlackboxParse[] = "blackbox64MiB_parse";        // the whole file as one message
constexpr char kBlackboxRead[] = "blackbox64MiB_read";          // line by line, streaming
constexpr char kBlackboxSkipScan[] = "blackbox64MiB_skipscan";  // every field visited, none decoded

// The inputs, each built on first use (the blackbox file takes a second or
// so) and the same in every run.
const std::string& PingCommandBytes();     // Command: version 1, ping seq_no 7
const std::string& PongResponseBytes();    // Response: version 1, pong seq_no 7
const std::string& LoggerResponseBytes();  // Response: a data-logger answer of 64 samples
const std::string& MapResponseBytes();     // Response: a whole 32 x 32 map
const std::string& FirmwareFileBytes();    // FirmwareFile with 1 MiB of command blobs
const std::string& BlackboxFileBytes();    // about 64 MiB of interleaved logger and CAN lines

using Input = const std::string& (*)();

// Bytes of one ping round trip: the Command written and the Response read.
inline std::int64_t PingBytes() {
  return static_cast<std::int64_t>(PingCommandBytes().size() + PongResponseBytes().size());
}

// What a case produced when run once outside the timing: the bytes it wrote
// (empty for a parse) and a digest of every field value it decoded (empty for
// a serialisation). The start-up check wants every case of a workload to
// agree, and written bytes to equal the workload's input.
struct Result {
  std::string written;
  std::string decoded;
};

// One workload run one way. `impl` is "gcuproto_heap" (long-lived objects,
// reused; for the streaming read, the library's Reader), "gcuproto_new"
// (objects made and destroyed in each operation), "gcuproto_arena",
// "protobuf_c" or "protozero"; the benchmark is named workload/impl.
struct Case {
  std::string workload;
  std::string impl;
  std::function<void(benchmark::State&)> run;
  std::function<Result()> check;
};

std::vector<Case> GcuprotoCases();
std::vector<Case> ProtobufCCases();
std::vector<Case> ProtozeroCases();

// Builds a case from a kernel type: `Kernel()` sets up (not timed), `Run()`
// is one timed operation returning a value that depends on all it did,
// `Check()` gives the Result, and `Bytes()` the size of the encoded messages
// one operation handles, for the MB/s figures.
template <typename Kernel>
Case MakeCase(std::string workload, std::string impl) {
  Case made;
  made.workload = std::move(workload);
  made.impl = std::move(impl);
  made.run = [](benchmark::State& state) {
    Kernel kernel;
    // Untimed warm-up: caches, allocator pools and arena blocks settle.
    kernel.Run();
    kernel.Run();
    for (auto _ : state) benchmark::DoNotOptimize(kernel.Run());
    state.SetBytesProcessed(state.iterations() * Kernel::Bytes());
  };
  made.check = [] {
    Kernel kernel;
    return kernel.Check();
  };
  return made;
}

// Mixes a decoded value into a digest, so that two decoders agree only when
// they return the same values in the same order. Used by the checks only: the
// timed loops consume what they decode with a plain sum, which costs both
// sides the same and little.
inline std::uint64_t Mix(std::uint64_t digest, std::uint64_t value) {
  return (digest ^ value) * 0x100000001B3ULL;
}

constexpr std::uint64_t kDigestStart = 0xCBF29CE484222325ULL;

}  // namespace gcuproto_bench

#endif  // GCUPROTO_BENCH_WORKLOADS_H
