// A set of 32-bit numbers in bounded memory, for the statistics.
#ifndef GCUPROTO_BLACKBOX_NUMBER_SET_H
#define GCUPROTO_BLACKBOX_NUMBER_SET_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace gcuproto {
namespace blackbox {

class NumberSet;

// The memory that several sets share. When an insertion takes them past the
// limit, the largest set is thinned until they fit again.
class MemoryBudget {
 public:
  explicit MemoryBudget(std::size_t limit) : limit_(limit) {}
  std::size_t limit() const { return limit_; }
  std::size_t used() const { return used_; }

 private:
  friend class NumberSet;
  void Grow(std::size_t bytes);
  void Shrink(std::size_t bytes) { used_ -= bytes; }

  std::size_t limit_;
  std::size_t used_ = 0;
  std::vector<NumberSet*> sets_;
};

// What a walk over one or more sets found.
struct NumberSetSummary {
  std::uint64_t distinct = 0;
  std::uint64_t gaps = 0;  // runs of absent numbers between the smallest and the largest member
  std::vector<std::pair<std::uint32_t, std::uint32_t>> first_gaps;  // exact walks only
  bool estimated = false;
};

// The numbers are kept in blocks of 65536, as Roaring bitmaps keep them: a
// block holding few numbers as a list of their low halves, one holding many
// as a bitmap of 8 KiB. Consecutive numbers cost one bit each, scattered ones
// two bytes each. When the budget is exceeded, the set keeps on only the
// blocks of a fixed pseudo-random sample of the number space, a half of what
// it kept before, and drops the rest: figures drawn from it then are
// estimates, scaled up from the sample.
class NumberSet {
 public:
  static constexpr int kBlockBits = 16;
  static constexpr std::size_t kBlocks = std::size_t{1} << (32 - kBlockBits);
  static constexpr std::size_t kBitmapWords = (std::size_t{1} << kBlockBits) / 64;
  static constexpr std::uint32_t kMaxListEntries = 4096;  // as many bytes as a bitmap
  // What an allocation costs beyond what it holds: the allocator's header.
  static constexpr std::size_t kAllocationOverhead = 16;

  explicit NumberSet(MemoryBudget* budget);
  ~NumberSet();
  NumberSet(const NumberSet&) = delete;
  NumberSet& operator=(const NumberSet&) = delete;

  void Insert(std::uint32_t number) {
    Block& block = BlockOf(number >> kBlockBits);
    const auto low = static_cast<std::uint16_t>(number);
    if (block.kind == Kind::kBitmap) {
      block.bits[low >> 6] |= std::uint64_t{1} << (low & 63);
    } else if (block.kind == Kind::kList && block.size < block.capacity) {
      block.list[block.size++] = low;
    } else {
      InsertSlowly(number);
    }
  }

  bool estimated() const { return sample_bits_ > 0; }
  std::size_t memory_bytes() const { return memory_; }

  // Distinct members and gaps of the union of `sets`, which share a budget.
  static NumberSetSummary Summarise(const std::vector<const NumberSet*>& sets,
                                    std::size_t max_listed_gaps);

 private:
  friend class MemoryBudget;
  enum class Kind : std::uint8_t { kEmpty, kList, kBitmap, kDropped };
  struct Block {
    Kind kind = Kind::kEmpty;
    std::uint16_t capacity = 0;  // of the list
    std::uint16_t size = 0;      // of the list; entries may repeat until compacted
    union {
      std::uint16_t* list;
      std::uint64_t* bits;
    };
    Block() : list(nullptr) {}
  };

  Block& BlockOf(std::uint32_t index) {
    if (blocks_ == nullptr) Allocate();
    return blocks_[index];
  }
  void Allocate();
  void InsertSlowly(std::uint32_t number);
  bool Kept(std::uint32_t index) const;
  // Removes what no longer belongs to the sample after sample_bits_ grew.
  void Thin();
  void Release(Block& block);
  void Charge(std::ptrdiff_t bytes);
  // The block's members as a bitmap in `bits` (zeroed first); false when the
  // block holds nothing.
  bool Bitmap(std::uint32_t index, std::uint64_t* bits) const;

  MemoryBudget* budget_;
  std::unique_ptr<Block[]> blocks_;
  std::size_t memory_ = 0;
  int sample_bits_ = 0;  // a block is kept when its hash's top bits are zero
};

}  // namespace blackbox
}  // namespace gcuproto

#endif  // GCUPROTO_BLACKBOX_NUMBER_SET_H
