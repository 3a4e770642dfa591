// What a blackbox file holds, gathered line by line in bounded memory: the
// figures `gcuproto blackbox info` prints.
#ifndef GCUPROTO_BLACKBOX_STATS_H
#define GCUPROTO_BLACKBOX_STATS_H

#include <gcuproto/blackbox.pb.h>
#include <gcuproto/blackbox/export.h>
#include <gcuproto/blackbox/exporter.h>

#include <cstdint>
#include <memory>
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
};

// Sequence numbers of a set of lines, taken as a set: whatever order the
// lines come in, a number between the smallest and the largest that no line
// has is missing, and a line whose number an earlier line had is repeated.
struct SequenceSummary {
  std::uint64_t lines = 0;
  ValueRange numbers;
  std::uint64_t distinct = 0;
  std::uint64_t missing = 0;
  std::uint64_t gaps = 0;  // runs of consecutive missing numbers
  std::uint64_t repeated = 0;
  // The first few gaps, first and last missing number of each.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> first_gaps;
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
  ValueRange timestamps_logger;
  ValueRange timestamps_can;
  ValueRange inputs_per_line;
  ValueRange outputs_per_line;
  ValueRange can_data_bytes;
  // Distinct identifiers with their line counts, standard ones first, each
  // kind by number. At most kMaxCanIds are kept; can_ids_capped tells that
  // more were seen.
  std::vector<CanIdCount> can_ids;
  bool can_ids_capped = false;
};

class GCUPROTO_BLACKBOX_EXPORT StatsCollector {
 public:
  static constexpr std::size_t kMaxCanIds = 4096;
  static constexpr std::size_t kMaxListedGaps = 5;

  explicit StatsCollector(CanIdField id_field = CanIdField::kCanId);
  ~StatsCollector();
  StatsCollector(const StatsCollector&) = delete;
  StatsCollector& operator=(const StatsCollector&) = delete;

  void Add(const BlackboxFileLine& line);
  void Add(const BlackboxCandumpFileLine& line);
  FileStats Finish() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace blackbox
}  // namespace gcuproto

#endif  // GCUPROTO_BLACKBOX_STATS_H
