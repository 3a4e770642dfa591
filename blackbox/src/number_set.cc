#include "number_set.h"

#include <algorithm>
#include <cstring>

namespace gcuproto {
namespace blackbox {
namespace {

constexpr std::uint16_t kFirstListCapacity = 4;

// Without the popcnt instruction in the baseline target, a few operations
// beat the library call.
int PopCount(std::uint64_t word) {
  word -= (word >> 1) & 0x5555555555555555ull;
  word = (word & 0x3333333333333333ull) + ((word >> 2) & 0x3333333333333333ull);
  word = (word + (word >> 4)) & 0x0F0F0F0F0F0F0F0Full;
  return static_cast<int>((word * 0x0101010101010101ull) >> 56);
}

int HighestBit(std::uint64_t word) { return 63 - __builtin_clzll(word); }

}  // namespace

void MemoryBudget::Grow(std::size_t bytes) {
  used_ += bytes;
  while (used_ > limit_) {
    NumberSet* largest = nullptr;
    for (NumberSet* set : sets_) {
      if (set->sample_bits_ < NumberSet::kBlockBits &&
          (largest == nullptr || set->memory_ > largest->memory_)) {
        largest = set;
      }
    }
    if (largest == nullptr) return;  // nothing left to thin: the block tables alone
    ++largest->sample_bits_;
    largest->Thin();
  }
}

NumberSet::NumberSet(MemoryBudget* budget) : budget_(budget) { budget_->sets_.push_back(this); }

NumberSet::~NumberSet() {
  if (blocks_ != nullptr) {
    for (std::size_t i = 0; i < kBlocks; ++i) Release(blocks_[i]);
  }
  budget_->Shrink(memory_);
  auto& sets = budget_->sets_;
  sets.erase(std::find(sets.begin(), sets.end(), this));
}

void NumberSet::Allocate() {
  blocks_.reset(new Block[kBlocks]);
  Charge(static_cast<std::ptrdiff_t>(kBlocks * sizeof(Block) + kAllocationOverhead));
}

void NumberSet::Charge(std::ptrdiff_t bytes) {
  if (bytes < 0) {
    memory_ -= static_cast<std::size_t>(-bytes);
    budget_->Shrink(static_cast<std::size_t>(-bytes));
  } else {
    memory_ += static_cast<std::size_t>(bytes);
    budget_->Grow(static_cast<std::size_t>(bytes));
  }
}

bool NumberSet::Kept(std::uint32_t index) const {
  return sample_bits_ == 0 || ((index * 0x9E3779B1u) >> (32 - sample_bits_)) == 0;
}

void NumberSet::Release(Block& block) {
  if (block.kind == Kind::kList) {
    delete[] block.list;
    Charge(
        -static_cast<std::ptrdiff_t>(block.capacity * sizeof(std::uint16_t) + kAllocationOverhead));
  } else if (block.kind == Kind::kBitmap) {
    delete[] block.bits;
    Charge(
        -static_cast<std::ptrdiff_t>(kBitmapWords * sizeof(std::uint64_t) + kAllocationOverhead));
  }
  block = Block();
}

void NumberSet::Thin() {
  if (blocks_ == nullptr) return;
  for (std::uint32_t i = 0; i < kBlocks; ++i) {
    Block& block = blocks_[i];
    if ((block.kind == Kind::kList || block.kind == Kind::kBitmap) && !Kept(i)) {
      Release(block);
      block.kind = Kind::kDropped;
    }
  }
}

void NumberSet::InsertSlowly(std::uint32_t number) {
  const std::uint32_t index = number >> kBlockBits;
  Block& block = BlockOf(index);
  switch (block.kind) {
    case Kind::kDropped:
    case Kind::kBitmap:  // cannot be: Insert() handles it
      break;
    case Kind::kEmpty:
      if (!Kept(index)) {
        block.kind = Kind::kDropped;
        return;
      }
      block.list = new std::uint16_t[kFirstListCapacity];
      block.kind = Kind::kList;
      block.capacity = kFirstListCapacity;
      Charge(static_cast<std::ptrdiff_t>(kFirstListCapacity * sizeof(std::uint16_t) +
                                         kAllocationOverhead));
      break;
    case Kind::kList: {
      // Full: drop the repeats, then grow the list or turn it into a bitmap.
      std::sort(block.list, block.list + block.size);
      block.size =
          static_cast<std::uint16_t>(std::unique(block.list, block.list + block.size) - block.list);
      if (block.size <= block.capacity / 4 * 3) break;
      if (block.capacity < kMaxListEntries) {
        const std::uint16_t capacity = static_cast<std::uint16_t>(block.capacity * 2);
        auto* list = new std::uint16_t[capacity];
        std::memcpy(list, block.list, block.size * sizeof(std::uint16_t));
        delete[] block.list;
        block.list = list;
        const std::uint16_t old_capacity = block.capacity;
        block.capacity = capacity;
        Charge(static_cast<std::ptrdiff_t>((capacity - old_capacity) * sizeof(std::uint16_t)));
      } else {
        auto* bits = new std::uint64_t[kBitmapWords]();
        for (std::uint16_t i = 0; i < block.size; ++i) {
          bits[block.list[i] >> 6] |= std::uint64_t{1} << (block.list[i] & 63);
        }
        delete[] block.list;
        const std::uint16_t old_capacity = block.capacity;
        block = Block();
        block.kind = Kind::kBitmap;
        block.bits = bits;
        Charge(static_cast<std::ptrdiff_t>(kBitmapWords * sizeof(std::uint64_t)) -
               static_cast<std::ptrdiff_t>(old_capacity * sizeof(std::uint16_t)));
      }
      break;
    }
  }
  // The charge may have thinned this very set, dropping the block.
  if (block.kind != Kind::kDropped) Insert(number);
}

bool NumberSet::Bitmap(std::uint32_t index, std::uint64_t* bits) const {
  if (blocks_ == nullptr) return false;
  const Block& block = blocks_[index];
  if (block.kind == Kind::kBitmap) {
    for (std::size_t w = 0; w < kBitmapWords; ++w) bits[w] |= block.bits[w];
    return true;
  }
  if (block.kind != Kind::kList || block.size == 0) return false;
  for (std::uint16_t i = 0; i < block.size; ++i) {
    bits[block.list[i] >> 6] |= std::uint64_t{1} << (block.list[i] & 63);
  }
  return true;
}

NumberSetSummary NumberSet::Summarise(const std::vector<const NumberSet*>& sets,
                                      std::size_t max_listed_gaps) {
  NumberSetSummary summary;
  int sample_bits = 0;
  for (const NumberSet* set : sets) sample_bits = std::max(sample_bits, set->sample_bits_);
  summary.estimated = sample_bits > 0;
  const auto kept = [sample_bits](std::uint32_t index) {
    return sample_bits == 0 || ((index * 0x9E3779B1u) >> (32 - sample_bits)) == 0;
  };

  std::unique_ptr<std::uint64_t[]> bits(new std::uint64_t[kBitmapWords]);
  std::uint64_t runs = 0;  // runs of members; inside blocks only when estimated
  bool seen_any = false;
  std::uint64_t last_member = 0;     // the largest member so far (exact walks)
  std::int64_t previous_block = -2;  // last block with members
  bool previous_ends_with_member = false;
  std::vector<std::uint16_t> members;  // of a block held in lists only
  for (std::uint32_t index = 0; index < kBlocks; ++index) {
    if (!kept(index)) continue;
    // Blocks held as lists are walked as sorted lists; any bitmap among
    // them makes a bitmap of the union.
    members.clear();
    bool any_bitmap = false;
    for (const NumberSet* set : sets) {
      if (set->blocks_ == nullptr) continue;
      const Block& block = set->blocks_[index];
      if (block.kind == Kind::kBitmap) any_bitmap = true;
      if (block.kind == Kind::kList)
        members.insert(members.end(), block.list, block.list + block.size);
    }
    if (!any_bitmap && members.empty()) continue;
    const std::uint64_t base = static_cast<std::uint64_t>(index) << kBlockBits;
    // A run of members carries on from the previous block only when that
    // block is the one just before and ends with a member; in a sample the
    // neighbours are unknown, and runs are counted by their starts inside
    // blocks.
    const bool carried_in = !summary.estimated &&
                            previous_block == static_cast<std::int64_t>(index) - 1 &&
                            previous_ends_with_member;
    const auto list_gap = [&](std::uint64_t previous, std::uint64_t number) {
      if (summary.first_gaps.size() < max_listed_gaps) {
        summary.first_gaps.emplace_back(static_cast<std::uint32_t>(previous + 1),
                                        static_cast<std::uint32_t>(number - 1));
      }
    };
    if (!any_bitmap) {
      std::sort(members.begin(), members.end());
      members.erase(std::unique(members.begin(), members.end()), members.end());
      summary.distinct += members.size();
      for (std::size_t i = 0; i < members.size(); ++i) {
        const bool starts =
            i == 0 ? !(members[0] == 0 && carried_in) && !(summary.estimated && members[0] == 0)
                   : members[i] != members[i - 1] + 1;
        if (!starts) continue;
        ++runs;
        if (!summary.estimated && (seen_any || i > 0))
          list_gap(i > 0 ? base + members[i - 1] : last_member, base + members[i]);
        seen_any = true;
      }
      seen_any = true;
      last_member = base + members.back();
      previous_block = index;
      previous_ends_with_member = members.back() == 0xFFFF;
      continue;
    }
    std::memset(bits.get(), 0, kBitmapWords * sizeof(std::uint64_t));
    for (const NumberSet* set : sets) set->Bitmap(index, bits.get());
    std::uint64_t carry = carried_in;
    for (std::size_t w = 0; w < kBitmapWords; ++w) {
      const std::uint64_t word = bits[w];
      std::uint64_t starts = word & ~((word << 1) | carry);
      if (summary.estimated && w == 0) starts &= ~std::uint64_t{1};
      carry = word >> 63;
      if (word == 0) continue;
      summary.distinct += static_cast<std::uint64_t>(PopCount(word));
      runs += static_cast<std::uint64_t>(PopCount(starts));
      if (!summary.estimated && summary.first_gaps.size() < max_listed_gaps) {
        for (std::uint64_t s = starts; s != 0 && summary.first_gaps.size() < max_listed_gaps;
             s &= s - 1) {
          const int bit = __builtin_ctzll(s);
          const std::uint64_t below = word & ((std::uint64_t{1} << bit) - 1);
          if (seen_any || below != 0) {
            list_gap(
                below != 0 ? base + 64 * w + static_cast<unsigned>(HighestBit(below)) : last_member,
                base + 64 * w + static_cast<unsigned>(bit));
          }
          seen_any = true;
        }
      }
      seen_any = true;
      last_member = base + 64 * w + static_cast<unsigned>(HighestBit(word));
    }
    previous_block = index;
    previous_ends_with_member = (bits[kBitmapWords - 1] >> 63) != 0;
  }
  if (summary.estimated) {
    const double scale = static_cast<double>(std::uint64_t{1} << sample_bits);
    summary.distinct =
        static_cast<std::uint64_t>(static_cast<double>(summary.distinct) * scale + 0.5);
    summary.gaps =
        static_cast<std::uint64_t>(static_cast<double>(runs) * scale * 65536.0 / 65535.0 + 0.5);
    summary.first_gaps.clear();
  } else {
    summary.gaps = runs > 0 ? runs - 1 : 0;
  }
  return summary;
}

}  // namespace blackbox
}  // namespace gcuproto
