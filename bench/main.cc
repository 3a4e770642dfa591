// Runs every selected workload once each way, checks that all ways agree
// with each other and with the inputs, and only then times them.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "workloads.h"

namespace gcuproto_bench {
namespace {

// The run order: each workload's ways back to back, so that a change in the
// machine's load hits all of them alike.
const char* const kWorkloads[] = {
    kPingRoundTrip, kLoggerParse,       kLoggerSerialise, kMapParse,     kMapSerialise,
    kFirmwareParse, kFirmwareSerialise, kBlackboxParse,   kBlackboxRead, kBlackboxSkipScan};
const char* const kImpls[] = {"gcuproto_heap", "gcuproto_new", "gcuproto_arena", "protobuf_c",
                              "protozero"};

// The bytes each writing workload must produce.
std::map<std::string, std::string> ExpectedBytes() {
  return {{kPingRoundTrip, PingCommandBytes()},
          {kLoggerSerialise, LoggerResponseBytes()},
          {kMapSerialise, MapResponseBytes()},
          {kFirmwareSerialise, FirmwareFileBytes()}};
}

// Decoding workloads whose decoded values must agree across the ways; the
// streaming read decodes the same file as the whole-file parse.
const char* DecodeGroup(const std::string& workload) {
  return workload == kBlackboxRead ? kBlackboxParse : workload.c_str();
}

// Whether the run's --benchmark_filter selects a benchmark, matched as the
// benchmark library does, so that a filtered run checks only what it times.
bool Selected(const std::string& name, const std::string& filter) {
  if (filter.empty() || filter == "." || filter == "all") return true;
  const bool negated = filter[0] == '-';
  const std::regex pattern(negated ? filter.substr(1) : filter);
  return std::regex_search(name, pattern) != negated;
}

bool CheckAll(const std::vector<Case>& cases, const std::string& filter) {
  const std::map<std::string, std::string> expected = ExpectedBytes();
  std::map<std::string, std::string> decoded;  // by decode group: the first digest met
  bool good = true;
  for (const Case& c : cases) {
    const std::string name = c.workload + "/" + c.impl;
    if (!Selected(name, filter)) continue;
    const Result result = c.check();
    const auto bytes = expected.find(c.workload);
    if (bytes != expected.end() && result.written != bytes->second) {
      std::fprintf(stderr, "%s: wrote %zu bytes that differ from the %zu of the input\n",
                   name.c_str(), result.written.size(), bytes->second.size());
      good = false;
    }
    const bool decodes =
        c.workload.find("_serialise") == std::string::npos && c.workload != kBlackboxSkipScan;
    if (decodes) {
      const auto [first, inserted] = decoded.emplace(DecodeGroup(c.workload), result.decoded);
      if (result.decoded.empty() || (!inserted && first->second != result.decoded)) {
        std::fprintf(stderr, "%s: decoded values differ from the other ways (%s vs %s)\n",
                     name.c_str(), result.decoded.c_str(), first->second.c_str());
        good = false;
      }
    }
  }
  return good;
}

}  // namespace
}  // namespace gcuproto_bench

int main(int argc, char** argv) {
  using namespace gcuproto_bench;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

  std::vector<Case> cases = GcuprotoCases();
  for (Case& c : ProtobufCCases()) cases.push_back(std::move(c));
  for (Case& c : ProtozeroCases()) cases.push_back(std::move(c));
  if (!CheckAll(cases, benchmark::GetBenchmarkFilter())) {
    std::fprintf(stderr, "the implementations disagree; nothing timed\n");
    return 1;
  }

  for (const char* workload : kWorkloads) {
    for (const char* impl : kImpls) {
      for (const Case& c : cases) {
        if (c.workload != workload || c.impl != impl) continue;
        benchmark::RegisterBenchmark((c.workload + "/" + c.impl).c_str(), c.run);
      }
    }
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
