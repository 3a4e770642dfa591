#include <gcuproto/blackbox/stats.h>

#include <algorithm>
#include <map>
#include <unordered_map>

namespace gcuproto {
namespace blackbox {
namespace {

// The sequence numbers seen, as a bitmap allocated in chunks of 65536
// numbers where lines fall: a file numbered densely costs one bit per line.
class NumberSet {
 public:
  // False when the number was already in the set.
  bool Insert(std::uint32_t number) {
    const std::uint32_t chunk = number >> kChunkBits;
    if (chunk != last_chunk_ || last_ == nullptr) {
      std::unique_ptr<std::uint64_t[]>& bits = chunks_[chunk];
      if (!bits) bits.reset(new std::uint64_t[kWords]());
      last_chunk_ = chunk;
      last_ = bits.get();
    }
    const std::uint32_t bit = number & ((1u << kChunkBits) - 1);
    std::uint64_t& word = last_[bit >> 6];
    const std::uint64_t mask = std::uint64_t{1} << (bit & 63);
    if (word & mask) return false;
    word |= mask;
    return true;
  }

  // Runs of missing numbers between the smallest and the largest number:
  // every number between two neighbouring members is missing.
  void Gaps(SequenceSummary* summary) const {
    std::vector<std::uint32_t> order;
    for (const auto& entry : chunks_) order.push_back(entry.first);
    std::sort(order.begin(), order.end());
    bool first = true;
    std::uint64_t expected = 0;
    for (const std::uint32_t chunk : order) {
      const std::uint64_t base = static_cast<std::uint64_t>(chunk) << kChunkBits;
      const std::uint64_t* bits = chunks_.at(chunk).get();
      for (std::size_t w = 0; w < kWords; ++w) {
        for (std::uint64_t word = bits[w]; word != 0; word &= word - 1) {
          const std::uint64_t number = base + 64 * w + static_cast<unsigned>(__builtin_ctzll(word));
          if (!first && number > expected) {
            ++summary->gaps;
            if (summary->first_gaps.size() < StatsCollector::kMaxListedGaps) {
              summary->first_gaps.emplace_back(static_cast<std::uint32_t>(expected),
                                               static_cast<std::uint32_t>(number - 1));
            }
          }
          first = false;
          expected = number + 1;
        }
      }
    }
  }

 private:
  static constexpr int kChunkBits = 16;
  static constexpr std::size_t kWords = (std::size_t{1} << kChunkBits) / 64;
  std::unordered_map<std::uint32_t, std::unique_ptr<std::uint64_t[]>> chunks_;
  std::uint32_t last_chunk_ = 0;
  std::uint64_t* last_ = nullptr;
};

}  // namespace

struct StatsCollector::State {
  struct Sequence {
    SequenceSummary summary;
    NumberSet numbers;

    void Add(std::uint32_t number) {
      ++summary.lines;
      summary.numbers.Add(number);
      if (numbers.Insert(number)) {
        ++summary.distinct;
      } else {
        ++summary.repeated;
      }
    }

    SequenceSummary Finish() const {
      SequenceSummary result = summary;
      if (result.numbers.any) {
        result.missing = result.numbers.max - result.numbers.min + 1 - result.distinct;
        numbers.Gaps(&result);
      }
      return result;
    }
  };

  CanIdField id_field;
  FileStats stats;
  Sequence logger;
  Sequence can;
  Sequence all;
  std::map<std::pair<bool, std::uint32_t>, std::uint64_t> can_ids;  // (extended, id)
};

StatsCollector::StatsCollector(CanIdField id_field) : state_(std::make_unique<State>()) {
  state_->id_field = id_field;
}

StatsCollector::~StatsCollector() = default;

void StatsCollector::Add(const BlackboxFileLine& line) {
  FileStats& stats = state_->stats;
  ++stats.logger_lines;
  state_->logger.Add(line.seqno());
  state_->all.Add(line.seqno());
  stats.timestamps_logger.Add(line.timestamp());
  stats.inputs_per_line.Add(static_cast<std::uint64_t>(line.datainput_size()));
  stats.outputs_per_line.Add(static_cast<std::uint64_t>(line.dataoutput_size()));
}

void StatsCollector::Add(const BlackboxCandumpFileLine& line) {
  FileStats& stats = state_->stats;
  ++stats.can_lines;
  state_->can.Add(line.seqno());
  state_->all.Add(line.seqno());
  stats.timestamps_can.Add(line.timestamp());
  stats.can_data_bytes.Add(line.data().size());
  const std::uint32_t id = state_->id_field == CanIdField::kCanId ? line.canid() : line.messageid();
  const auto key = std::make_pair(line.extended(), id);
  auto found = state_->can_ids.find(key);
  if (found != state_->can_ids.end()) {
    ++found->second;
  } else if (state_->can_ids.size() < kMaxCanIds) {
    state_->can_ids.emplace(key, 1);
  } else {
    stats.can_ids_capped = true;
  }
}

FileStats StatsCollector::Finish() const {
  FileStats stats = state_->stats;
  stats.sequence_logger = state_->logger.Finish();
  stats.sequence_can = state_->can.Finish();
  stats.sequence_all = state_->all.Finish();
  for (const auto& [key, lines] : state_->can_ids) {
    stats.can_ids.push_back(CanIdCount{key.second, key.first, lines});
  }
  return stats;
}

}  // namespace blackbox
}  // namespace gcuproto
