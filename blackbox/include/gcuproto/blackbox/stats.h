// What a blackbox file holds, gathered line by line in bounded memory: the
// figures `gcuproto blackbox info` prints.
//
//   StatsCollector collector;
//   while (reader.Next()) collector.AddEncoded(reader.kind(), reader.raw(), reader.offset());
//   FileStats stats = collector.Finish();
//
// Memory stays below StatsOptions::memory_limit whatever the file holds. The
// sets of sequence numbers and CAN ids are exact as long as they fit (a unit
// numbering its lines with a counter costs one bit per line); past the limit
// they are kept for a sample of the number space only, and the figures drawn
// from them are estimates, flagged as such.
#ifndef GCUPROTO_BLACKBOX_STATS_H
#define GCUPROTO_BLACKBOX_STATS_H

#include <gcuproto/blackbox.pb.h>
#include <gcuproto/blackbox/can_id_field.h>
#include <gcuproto/blackbox/export.h>
#include <gcuproto/blackbox/record.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

namespace gcuproto {
namespace blackbox {

// Smallest and largest of some count or value; `any` false when none was seen.
struct ValueRange {
  bool any = false;
  std::uint64_t min = 0;
  std::uint64_t max = 0;

  void Add(std::uint64_t value) {
    if (!any || value < min) min = value;
    if (!any || value > max) max = value;
    any = true;
  }
  void Add(const ValueRange& other) {
    if (other.any) {
      Add(other.min);
      Add(other.max);
    }
  }
};

// Sequence numbers of a set of lines, taken as a set: whatever order the
// lines come in, a number between the smallest and the largest that no line
// has is missing, and a line whose number an earlier line had is repeated.
struct SequenceSummary {
  std::uint64_t lines = 0;
  ValueRange numbers;  // always exact
  std::uint64_t distinct = 0;
  std::uint64_t missing = 0;
  std::uint64_t gaps = 0;  // runs of consecutive missing numbers
  std::uint64_t repeated = 0;
  // The first few gaps, first and last missing number of each; empty when
  // estimated.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> first_gaps;
  // distinct, missing, gaps and repeated are estimates from a sample of the
  // numbers: the numbers were too scattered to keep them all.
  bool estimated = false;
};

// One step between the time stamps of two consecutive lines of a kind: the
// line at `offset`, numbered `seq_no`, is stamped `to`; the line of its kind
// before it was stamped `from`.
struct TimeStep {
  std::uint32_t from = 0;
  std::uint32_t to = 0;
  std::uint64_t offset = 0;
  std::uint32_t seq_no = 0;
};

// The time stamps of one kind of line in file order.
struct TimeSummary {
  ValueRange stamps;
  std::uint32_t first = 0;  // of the first line and the last, in file order
  std::uint32_t last = 0;
  // The largest steps forward, largest first (the earliest among equals).
  std::vector<TimeStep> largest_gaps;
  // Lines stamped earlier than the line of their kind before them, and the
  // first few of them.
  std::uint64_t backwards = 0;
  std::vector<TimeStep> first_backwards;

  // Ticks between the earliest and the latest stamp.
  std::uint64_t span() const { return stamps.any ? stamps.max - stamps.min : 0; }
};

struct CanIdCount {
  std::uint32_t id = 0;
  bool extended = false;
  std::uint64_t lines = 0;
};

struct FileStats {
  std::uint64_t logger_lines = 0;
  std::uint64_t can_lines = 0;
  // Sequence numbers of the logger lines and the CAN lines each, and of both
  // together (for a unit that numbers all its lines in one count).
  SequenceSummary sequence_logger;
  SequenceSummary sequence_can;
  SequenceSummary sequence_all;
  TimeSummary time_logger;
  TimeSummary time_can;
  ValueRange inputs_per_line;
  ValueRange outputs_per_line;
  std::uint64_t input_samples = 0;
  std::uint64_t output_samples = 0;
  ValueRange can_data_bytes;
  // Distinct identifiers (frame format and number), exact unless
  // can_ids_estimated.
  std::uint64_t can_ids_distinct = 0;
  bool can_ids_estimated = false;
  // The identifiers with their line counts, standard ones first, each kind
  // by number: all of them, or those below 0x800 in standard frames and the
  // first StatsCollector::kMaxListedCanIds others met, the lines of the rest
  // summed in unlisted_can_id_lines.
  std::vector<CanIdCount> can_ids;
  std::uint64_t unlisted_can_id_lines = 0;
};

struct StatsOptions {
  CanIdField id_field = CanIdField::kCanId;
  // Memory for the sets of sequence numbers and CAN ids together.
  std::size_t memory_limit = std::size_t{32} << 20;
};

class GCUPROTO_BLACKBOX_EXPORT StatsCollector {
 public:
  static constexpr std::size_t kMaxListedGaps = 5;
  static constexpr std::size_t kMaxListedTimeSteps = 5;
  static constexpr std::size_t kMaxListedCanIds = 65536;

  explicit StatsCollector(StatsOptions options = {});
  explicit StatsCollector(CanIdField id_field);
  ~StatsCollector();
  StatsCollector(const StatsCollector&) = delete;
  StatsCollector& operator=(const StatsCollector&) = delete;

  // A decoded line; `offset` is where its record starts in the file.
  void Add(const BlackboxFileLine& line, std::uint64_t offset = 0);
  void Add(const BlackboxCandumpFileLine& line, std::uint64_t offset = 0);
  // An encoded line, as Reader::raw() gives it. The common encodings are
  // read in place (samples are counted, not decoded); anything else goes
  // through the message parser. False, and nothing counted, when the bytes
  // are not a valid encoding of the line.
  bool AddEncoded(RecordKind kind, std::string_view encoded, std::uint64_t offset = 0);

  FileStats Finish() const;
  // What the sets of numbers and ids hold now, in bytes.
  std::size_t memory_bytes() const;

 private:
  struct State;
  void AddLogger(std::uint32_t seq_no, std::uint32_t timestamp, std::uint64_t inputs,
                 std::uint64_t outputs, std::uint64_t offset);
  void AddCan(std::uint32_t seq_no, std::uint32_t timestamp, std::uint32_t id, bool extended,
              std::uint64_t data_bytes, std::uint64_t offset);
  std::unique_ptr<State> state_;
};

// Figures of several files together: sums of what adds up, CAN ids across
// all files.
struct TotalStats {
  std::uint64_t files = 0;
  std::uint64_t logger_lines = 0;
  std::uint64_t can_lines = 0;
  std::uint64_t input_samples = 0;
  std::uint64_t output_samples = 0;
  std::uint64_t logger_span = 0;  // sums of each file's span of time stamps, in ticks
  std::uint64_t can_span = 0;
  std::uint64_t can_ids_distinct = 0;
  // True when a file's ids were estimated or not all listed, or when more
  // than kMaxListedCanIds ids were seen together: then the distinct count
  // is a lower bound and the list incomplete.
  bool can_ids_estimated = false;
  std::vector<CanIdCount> can_ids;  // as in FileStats
  std::uint64_t unlisted_can_id_lines = 0;

  GCUPROTO_BLACKBOX_EXPORT void Add(const FileStats& file);
};

}  // namespace blackbox
}  // namespace gcuproto

#endif  // GCUPROTO_BLACKBOX_STATS_H
