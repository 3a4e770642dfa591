#include <gcuproto/blackbox/line_decoder.h>
#include <gcuproto/blackbox/stats.h>

#include <algorithm>
#include <cstring>
#include <limits>

#include "line_scan.h"
#include "number_set.h"

namespace gcuproto {
namespace blackbox {
namespace {

// Samples in a packed block, counted by the bytes that end a varint; false
// when the block is not a valid packed encoding: its last varint is cut short,
// or a varint runs longer than ten bytes.
bool CountSamples(const std::uint8_t* begin, const std::uint8_t* end, std::uint64_t* count) {
  const std::uint8_t* p = begin;
  std::uint64_t continued = 0;  // bytes with the continuation bit
  unsigned run = 0;             // continuation bytes just before p
  for (; end - p >= 8; p += 8) {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    const std::uint64_t high = word & 0x8080808080808080ull;
    if (high == 0) {
      run = 0;
      continue;
    }
    // One in the low bit of each continued byte, summed into the top byte;
    // and bit i set when byte i continues its varint.
    continued += ((high >> 7) * 0x0101010101010101ull) >> 56;
    const auto mask = static_cast<unsigned>(((high >> 7) * 0x0102040810204080ull) >> 56);
    if (mask == 0xFF) {
      run += 8;
    } else {
      // A run of ten needs bytes of two words at least.
      if (run + static_cast<unsigned>(__builtin_ctz(~mask)) >= 10) return false;
      run = static_cast<unsigned>(__builtin_clz(~mask << 24));
    }
    if (run >= 10) return false;
  }
  for (; p < end; ++p) {
    if (*p < 0x80) {
      run = 0;
    } else {
      ++continued;
      if (++run >= 10) return false;
    }
  }
  if (run != 0) return false;
  *count += static_cast<std::uint64_t>(end - begin) - continued;
  return true;
}

struct LoggerFields {
  std::uint32_t seq_no = 0;
  std::uint32_t timestamp = 0;
  std::uint64_t inputs = 0;
  std::uint64_t outputs = 0;
};

// The encodings a unit writes: the four fields, samples packed or not.
Scan ReadLoggerLine(std::string_view encoded, LoggerFields* fields) {
  const auto* p = reinterpret_cast<const std::uint8_t*>(encoded.data());
  return ScanLoggerLine(
      p, p + encoded.size(), &fields->seq_no, &fields->timestamp,
      [fields](bool output, std::uint64_t) { ++(output ? fields->outputs : fields->inputs); },
      [fields](bool output, const std::uint8_t* begin, const std::uint8_t* end) {
        return CountSamples(begin, end, output ? &fields->outputs : &fields->inputs);
      });
}

class TimeTracker {
 public:
  void Add(std::uint32_t stamp, std::uint64_t offset, std::uint32_t seq_no) {
    TimeSummary& s = summary_;
    if (!s.stamps.any) {
      s.first = stamp;
    } else if (stamp < s.last) {
      ++s.backwards;
      if (s.first_backwards.size() < StatsCollector::kMaxListedTimeSteps) {
        s.first_backwards.push_back({s.last, stamp, offset, seq_no});
      }
    } else if (stamp - s.last > smallest_listed_ ||
               s.largest_gaps.size() < StatsCollector::kMaxListedTimeSteps) {
      AddGap({s.last, stamp, offset, seq_no});
    }
    s.stamps.Add(stamp);
    s.last = stamp;
  }
  const TimeSummary& summary() const { return summary_; }

 private:
  void AddGap(const TimeStep& step) {
    std::vector<TimeStep>& gaps = summary_.largest_gaps;
    const std::uint32_t size = step.to - step.from;
    // After the equal ones: the earliest of equal gaps stays listed.
    auto at = std::find_if(gaps.begin(), gaps.end(),
                           [size](const TimeStep& gap) { return gap.to - gap.from < size; });
    if (at == gaps.end() && gaps.size() == StatsCollector::kMaxListedTimeSteps) return;
    gaps.insert(at, step);
    if (gaps.size() > StatsCollector::kMaxListedTimeSteps) gaps.pop_back();
    smallest_listed_ = gaps.back().to - gaps.back().from;
  }

  TimeSummary summary_;
  std::uint32_t smallest_listed_ = 0;
};

// Line counts per CAN identifier: a table for standard identifiers, a hash
// table for the others, up to kMaxListedCanIds of them. Past that, the
// identifiers are kept in number sets only, for their exact count.
class CanIdTally {
 public:
  explicit CanIdTally(MemoryBudget* budget) : budget_(budget) {}

  void Add(std::uint32_t id, bool extended) {
    if (!extended && id < kStandardIds) {
      ++standard_[id];
      return;
    }
    const std::uint64_t key = (std::uint64_t{extended} << 32) | id;
    if (key == last_key_) {
      ++*last_count_;
      return;
    }
    std::size_t slot = Find(key);
    if (slots_.empty() || slots_[slot].count == 0) {
      if (entries_ == StatsCollector::kMaxListedCanIds) {
        Unlisted(id, extended);
        return;
      }
      if (2 * (entries_ + 1) > slots_.size()) {
        Rehash();
        slot = Find(key);
      }
      slots_[slot].key = key;
      ++entries_;
    }
    ++slots_[slot].count;
    last_key_ = key;
    last_count_ = &slots_[slot].count;
  }

  void Finish(FileStats* stats) const {
    for (std::uint32_t id = 0; id < kStandardIds; ++id) {
      if (standard_[id] != 0) stats->can_ids.push_back({id, false, standard_[id]});
    }
    std::vector<CanIdCount> others;
    for (const Slot& slot : slots_) {
      if (slot.count != 0) {
        others.push_back({static_cast<std::uint32_t>(slot.key), (slot.key >> 32) != 0, slot.count});
      }
    }
    std::sort(others.begin(), others.end(), [](const CanIdCount& a, const CanIdCount& b) {
      return std::make_pair(a.extended, a.id) < std::make_pair(b.extended, b.id);
    });
    stats->can_ids.insert(stats->can_ids.end(), others.begin(), others.end());
    stats->unlisted_can_id_lines = unlisted_lines_;
    if (!overflow_standard_) {
      stats->can_ids_distinct = stats->can_ids.size();
      return;
    }
    const NumberSetSummary standard = NumberSet::Summarise({overflow_standard_.get()}, 0);
    const NumberSetSummary extended = NumberSet::Summarise({overflow_extended_.get()}, 0);
    const auto in_table = static_cast<std::uint64_t>(std::count_if(
        std::begin(standard_), std::end(standard_), [](std::uint64_t n) { return n != 0; }));
    stats->can_ids_distinct = in_table + standard.distinct + extended.distinct;
    stats->can_ids_estimated = standard.estimated || extended.estimated;
  }

  std::size_t memory_bytes() const { return sizeof standard_ + slots_.capacity() * sizeof(Slot); }

 private:
  static constexpr std::uint32_t kStandardIds = 2048;
  struct Slot {
    std::uint64_t key = 0;
    std::uint64_t count = 0;  // 0: free
  };

  std::size_t Find(std::uint64_t key) const {
    if (slots_.empty()) return 0;
    const std::size_t mask = slots_.size() - 1;
    std::size_t slot = static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ull) >> 20) & mask;
    while (slots_[slot].count != 0 && slots_[slot].key != key) slot = (slot + 1) & mask;
    return slot;
  }

  void Rehash() {
    std::vector<Slot> old = std::move(slots_);
    slots_.assign(old.empty() ? 256 : 2 * old.size(), Slot());
    for (const Slot& slot : old) {
      if (slot.count != 0) slots_[Find(slot.key)] = slot;
    }
    last_key_ = ~std::uint64_t{0};
  }

  // Ids of the hash table and those past it; the standard table's are
  // counted apart.
  void Unlisted(std::uint32_t id, bool extended) {
    if (!overflow_standard_) {
      overflow_standard_ = std::make_unique<NumberSet>(budget_);
      overflow_extended_ = std::make_unique<NumberSet>(budget_);
      for (const Slot& slot : slots_) {
        if (slot.count != 0) {
          ((slot.key >> 32) != 0 ? *overflow_extended_ : *overflow_standard_)
              .Insert(static_cast<std::uint32_t>(slot.key));
        }
      }
    }
    (extended ? *overflow_extended_ : *overflow_standard_).Insert(id);
    ++unlisted_lines_;
  }

  MemoryBudget* budget_;
  std::uint64_t standard_[kStandardIds] = {};
  std::vector<Slot> slots_;  // a power of two, at most half full
  std::size_t entries_ = 0;
  std::uint64_t last_key_ = ~std::uint64_t{0};
  std::uint64_t* last_count_ = nullptr;
  std::uint64_t unlisted_lines_ = 0;
  std::unique_ptr<NumberSet> overflow_standard_;
  std::unique_ptr<NumberSet> overflow_extended_;
};

struct Sequence {
  explicit Sequence(MemoryBudget* budget) : numbers(budget) {}
  std::uint64_t lines = 0;
  ValueRange range;
  NumberSet numbers;

  void Add(std::uint32_t number) {
    ++lines;
    range.Add(number);
    numbers.Insert(number);
  }
};

SequenceSummary Summarise(std::uint64_t lines, const ValueRange& range,
                          const std::vector<const NumberSet*>& sets) {
  SequenceSummary summary;
  summary.lines = lines;
  summary.numbers = range;
  if (lines == 0) return summary;
  const NumberSetSummary found = NumberSet::Summarise(sets, StatsCollector::kMaxListedGaps);
  const std::uint64_t span = range.max - range.min + 1;
  // An estimate stays within what the exact figures allow.
  summary.distinct = std::max<std::uint64_t>(1, std::min({found.distinct, lines, span}));
  summary.missing = span - summary.distinct;
  summary.gaps = std::min(found.gaps, std::min(summary.missing, summary.distinct - 1));
  summary.repeated = lines - summary.distinct;
  summary.first_gaps = found.first_gaps;
  summary.estimated = found.estimated;
  return summary;
}

}  // namespace

struct StatsCollector::State {
  explicit State(const StatsOptions& options_)
      : options(options_),
        budget(options_.memory_limit),
        logger(&budget),
        can(&budget),
        ids(&budget) {}

  StatsOptions options;
  MemoryBudget budget;
  FileStats stats;
  Sequence logger;
  Sequence can;
  TimeTracker logger_time;
  TimeTracker can_time;
  CanIdTally ids;
  BlackboxFileLine line;  // for encodings left to the parser
  BlackboxCandumpFileLine can_line;
};

StatsCollector::StatsCollector(StatsOptions options) : state_(std::make_unique<State>(options)) {}

StatsCollector::StatsCollector(CanIdField id_field) : StatsCollector(StatsOptions{id_field}) {}

StatsCollector::~StatsCollector() = default;

void StatsCollector::AddLogger(std::uint32_t seq_no, std::uint32_t timestamp, std::uint64_t inputs,
                               std::uint64_t outputs, std::uint64_t offset) {
  FileStats& stats = state_->stats;
  ++stats.logger_lines;
  state_->logger.Add(seq_no);
  state_->logger_time.Add(timestamp, offset, seq_no);
  stats.inputs_per_line.Add(inputs);
  stats.outputs_per_line.Add(outputs);
  stats.input_samples += inputs;
  stats.output_samples += outputs;
}

void StatsCollector::AddCan(std::uint32_t seq_no, std::uint32_t timestamp, std::uint32_t id,
                            bool extended, std::uint64_t data_bytes, std::uint64_t offset) {
  ++state_->stats.can_lines;
  state_->can.Add(seq_no);
  state_->can_time.Add(timestamp, offset, seq_no);
  state_->stats.can_data_bytes.Add(data_bytes);
  state_->ids.Add(id, extended);
}

void StatsCollector::Add(const BlackboxFileLine& line, std::uint64_t offset) {
  AddLogger(line.seqno(), line.timestamp(), static_cast<std::uint64_t>(line.datainput_size()),
            static_cast<std::uint64_t>(line.dataoutput_size()), offset);
}

void StatsCollector::Add(const BlackboxCandumpFileLine& line, std::uint64_t offset) {
  const bool by_can_id = state_->options.id_field == CanIdField::kCanId;
  AddCan(line.seqno(), line.timestamp(), by_can_id ? line.canid() : line.messageid(),
         line.extended(), line.data().size(), offset);
}

bool StatsCollector::AddEncoded(RecordKind kind, std::string_view encoded, std::uint64_t offset) {
  if (kind == RecordKind::kLoggerLine) {
    LoggerFields fields;
    switch (ReadLoggerLine(encoded, &fields)) {
      case Scan::kDone:
        AddLogger(fields.seq_no, fields.timestamp, fields.inputs, fields.outputs, offset);
        return true;
      case Scan::kMalformed:
        return false;
      case Scan::kUnusual:
        break;
    }
    if (!DecodeLoggerLine(encoded, &state_->line)) return false;
    Add(state_->line, offset);
    return true;
  }
  LineHeader header;
  std::uint64_t data_bytes = 0;
  const auto* p = reinterpret_cast<const std::uint8_t*>(encoded.data());
  switch (ScanCanLine(p, p + encoded.size(), &header, &data_bytes)) {
    case Scan::kDone: {
      const bool by_can_id = state_->options.id_field == CanIdField::kCanId;
      AddCan(header.seq_no, header.timestamp, by_can_id ? header.can_id : header.message_id,
             header.extended, data_bytes, offset);
      return true;
    }
    case Scan::kMalformed:
      return false;
    case Scan::kUnusual:
      break;
  }
  if (encoded.size() > static_cast<std::size_t>(std::numeric_limits<int>::max()) ||
      !state_->can_line.ParseFromArray(encoded.data(), static_cast<int>(encoded.size()))) {
    return false;
  }
  Add(state_->can_line, offset);
  return true;
}

FileStats StatsCollector::Finish() const {
  const State& state = *state_;
  FileStats stats = state.stats;
  stats.sequence_logger =
      Summarise(state.logger.lines, state.logger.range, {&state.logger.numbers});
  stats.sequence_can = Summarise(state.can.lines, state.can.range, {&state.can.numbers});
  ValueRange all = state.logger.range;
  all.Add(state.can.range);
  stats.sequence_all = Summarise(state.logger.lines + state.can.lines, all,
                                 {&state.logger.numbers, &state.can.numbers});
  stats.time_logger = state.logger_time.summary();
  stats.time_can = state.can_time.summary();
  state.ids.Finish(&stats);
  return stats;
}

std::size_t StatsCollector::memory_bytes() const {
  return state_->budget.used() + state_->ids.memory_bytes();
}

void TotalStats::Add(const FileStats& file) {
  ++files;
  logger_lines += file.logger_lines;
  can_lines += file.can_lines;
  input_samples += file.input_samples;
  output_samples += file.output_samples;
  logger_span += file.time_logger.span();
  can_span += file.time_can.span();
  if (file.can_ids_estimated || file.unlisted_can_id_lines != 0) can_ids_estimated = true;
  unlisted_can_id_lines += file.unlisted_can_id_lines;
  // Both lists are in the same order: merge them.
  const auto before = [](const CanIdCount& a, const CanIdCount& b) {
    return std::make_pair(a.extended, a.id) < std::make_pair(b.extended, b.id);
  };
  std::vector<CanIdCount> merged;
  merged.reserve(can_ids.size() + file.can_ids.size());
  auto a = can_ids.begin();
  auto b = file.can_ids.begin();
  while (a != can_ids.end() || b != file.can_ids.end()) {
    if (b == file.can_ids.end() || (a != can_ids.end() && before(*a, *b))) {
      merged.push_back(*a++);
    } else if (a == can_ids.end() || before(*b, *a)) {
      merged.push_back(*b++);
    } else {
      merged.push_back({a->id, a->extended, a->lines + b->lines});
      ++a;
      ++b;
    }
  }
  // Bounded as a file's list is; what does not fit is counted apart.
  const std::size_t limit = StatsCollector::kMaxListedCanIds + 2048;
  if (merged.size() > limit) {
    for (auto it = merged.begin() + static_cast<std::ptrdiff_t>(limit); it != merged.end(); ++it) {
      unlisted_can_id_lines += it->lines;
    }
    merged.resize(limit);
    can_ids_estimated = true;
  }
  can_ids = std::move(merged);
  // Exact while every file listed all its ids; else a lower bound.
  can_ids_distinct =
      can_ids_estimated
          ? std::max<std::uint64_t>({can_ids_distinct, file.can_ids_distinct, can_ids.size()})
          : can_ids.size();
}

}  // namespace blackbox
}  // namespace gcuproto
