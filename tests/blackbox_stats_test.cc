// The statistics of `blackbox info` against figures worked out independently
// here: sequence-number sets by sorting, CAN ids by std::map, time steps by
// hand; and the memory bound on numbers no set can hold exactly.
#include <gcuproto/blackbox/stats.h>
#include <gtest/gtest.h>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <algorithm>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace gcuproto::blackbox {
namespace {

using Gaps = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

std::string LoggerBytes(std::uint32_t seq, std::uint32_t time, int inputs, int outputs) {
  BlackboxFileLine line;
  line.set_seqno(seq);
  line.set_timestamp(time);
  for (int i = 0; i < inputs; ++i) line.add_datainput(i * 997 - 30000);
  for (int i = 0; i < outputs; ++i) line.add_dataoutput(-i);
  return line.SerializeAsString();
}

std::string CanBytes(std::uint32_t seq, std::uint32_t time, std::uint32_t id, bool extended,
                     int data = 8) {
  BlackboxCandumpFileLine line;
  line.set_seqno(seq);
  line.set_timestamp(time);
  line.set_canid(id);
  line.set_extended(extended);
  line.set_data(std::string(static_cast<std::size_t>(data), 'x'));
  return line.SerializeAsString();
}

// What a set of numbers should give, by sorting.
SequenceSummary Expected(std::vector<std::uint32_t> numbers) {
  SequenceSummary s;
  s.lines = numbers.size();
  std::sort(numbers.begin(), numbers.end());
  for (std::size_t i = 0; i < numbers.size(); ++i) {
    s.numbers.Add(numbers[i]);
    if (i > 0 && numbers[i] == numbers[i - 1]) continue;
    ++s.distinct;
    if (i > 0 && numbers[i] > numbers[i - 1] + 1) {
      ++s.gaps;
      if (s.first_gaps.size() < StatsCollector::kMaxListedGaps)
        s.first_gaps.emplace_back(numbers[i - 1] + 1, numbers[i] - 1);
    }
  }
  s.repeated = s.lines - s.distinct;
  s.missing = s.lines ? s.numbers.max - s.numbers.min + 1 - s.distinct : 0;
  return s;
}

struct SequenceCase {
  const char* name;
  std::function<std::vector<std::uint32_t>()> numbers;
};

std::vector<std::uint32_t> Range(std::uint32_t first, std::uint32_t count, std::uint32_t step = 1) {
  std::vector<std::uint32_t> v;
  for (std::uint32_t i = 0; i < count; ++i) v.push_back(first + i * step);
  return v;
}

const SequenceCase kSequenceCases[] = {
    {"counter", [] { return Range(1, 300000); }},
    {"holes_and_repeats", [] { return std::vector<std::uint32_t>{1, 2, 2, 5, 9, 10, 10, 10, 3}; }},
    {"across_a_block_border", [] { return Range(65530, 12); }},
    {"run_ends_at_a_border",
     [] {
       return std::vector<std::uint32_t>{65534, 65535, 65537, 131071, 131072};
     }},
    {"edges_of_the_space",
     [] {
       return std::vector<std::uint32_t>{0, 1, 0xFFFFFFFE, 0xFFFFFFFF};
     }},
    {"every_other", [] { return Range(100, 20000, 2); }},
    {"list_turns_bitmap",
     [] {  // one block, out of order, more than a list holds
       std::vector<std::uint32_t> v = Range(0, 9000, 7);
       std::shuffle(v.begin(), v.end(), std::mt19937(1));
       return v;
     }},
    {"restart_after_reboot",
     [] {
       std::vector<std::uint32_t> v = Range(5000000, 40000);
       for (std::uint32_t n : Range(1, 30000)) v.push_back(n);
       return v;
     }},
    {"scattered",
     [] {
       std::mt19937 random(7);
       std::vector<std::uint32_t> v;
       for (int i = 0; i < 50000; ++i) v.push_back(static_cast<std::uint32_t>(random()));
       v.push_back(v[10]);
       return v;
     }},
};

void ExpectSummary(const SequenceSummary& got, const SequenceSummary& want) {
  EXPECT_EQ(got.lines, want.lines);
  EXPECT_EQ(got.numbers.min, want.numbers.min);
  EXPECT_EQ(got.numbers.max, want.numbers.max);
  EXPECT_EQ(got.distinct, want.distinct);
  EXPECT_EQ(got.missing, want.missing);
  EXPECT_EQ(got.gaps, want.gaps);
  EXPECT_EQ(got.repeated, want.repeated);
  EXPECT_EQ(got.first_gaps, want.first_gaps);
  EXPECT_FALSE(got.estimated);
}

class SequenceSets : public testing::TestWithParam<SequenceCase> {};

// Logger lines take the numbers in order, CAN lines the same numbers plus
// one: the sets apart and their union.
TEST_P(SequenceSets, ExactAsBySorting) {
  const std::vector<std::uint32_t> numbers = GetParam().numbers();
  StatsCollector collector;
  std::vector<std::uint32_t> can_numbers;
  for (std::size_t i = 0; i < numbers.size(); ++i) {
    ASSERT_TRUE(collector.AddEncoded(RecordKind::kLoggerLine, LoggerBytes(numbers[i], 0, 0, 0), i));
    if (i % 3 == 0) {
      can_numbers.push_back(numbers[i] + 1);
      ASSERT_TRUE(
          collector.AddEncoded(RecordKind::kCanLine, CanBytes(numbers[i] + 1, 0, 1, false), i));
    }
  }
  const FileStats stats = collector.Finish();
  ExpectSummary(stats.sequence_logger, Expected(numbers));
  ExpectSummary(stats.sequence_can, Expected(can_numbers));
  std::vector<std::uint32_t> all = numbers;
  all.insert(all.end(), can_numbers.begin(), can_numbers.end());
  ExpectSummary(stats.sequence_all, Expected(all));
}

INSTANTIATE_TEST_SUITE_P(Stats, SequenceSets, testing::ValuesIn(kSequenceCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Lines in encodings the fast path reads and in those it leaves to the
// parser count the same; bytes that are no line are refused.
TEST(Stats, EncodingsCountAlikeAndBadBytesAreRefused) {
  struct Case {
    RecordKind kind;
    std::string bytes;
    bool valid;
    std::uint64_t inputs, outputs;
  };
  const std::string ten_byte = "\x12\x0A\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\x01";
  const Case cases[] = {
      {RecordKind::kLoggerLine, LoggerBytes(1, 2, 40, 8), true, 40, 8},
      {RecordKind::kLoggerLine, "\x10\x02\x10\x04\x20\x01", true, 2, 1},      // unpacked samples
      {RecordKind::kLoggerLine, "\x12\x01\x02\x12\x02\x02\x04", true, 3, 0},  // two packed records
      {RecordKind::kLoggerLine, "\x12\x01\x02\x28\x05", true, 1, 0},          // unknown field
      {RecordKind::kLoggerLine, ten_byte, true, 1, 0},                        // longest varint
      {RecordKind::kLoggerLine, "\x12\x0B\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\x01", false, 0,
       0},
      {RecordKind::kLoggerLine, "\x12\x02\x02\x84", false, 0, 0},  // last sample cut
      {RecordKind::kLoggerLine, "\x12\x05\x02", false, 0, 0},      // block past the line
      {RecordKind::kLoggerLine, std::string("\x12\x10", 2) + std::string(15, '\x80') + "\x01",
       false, 0, 0},
      {RecordKind::kCanLine, CanBytes(1, 2, 0x18FEF100, true, 64), true, 0, 0},
      {RecordKind::kCanLine, std::string("\x08\x01\x38\x01", 4), true, 0, 0},  // unknown field
      {RecordKind::kCanLine, "\x32\x09xx", false, 0, 0},
      {RecordKind::kCanLine, "\x08\x80", false, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.bytes));
    StatsCollector collector;
    EXPECT_EQ(collector.AddEncoded(c.kind, c.bytes), c.valid);
    const FileStats stats = collector.Finish();
    EXPECT_EQ(stats.logger_lines + stats.can_lines, c.valid ? 1u : 0u);
    EXPECT_EQ(stats.input_samples, c.inputs);
    EXPECT_EQ(stats.output_samples, c.outputs);
  }
}

// Standard and extended ids apart, far more than the 4096 once counted, and
// past the listed ones: the count stays exact.
TEST(Stats, EveryCanIdCounted) {
  for (const std::size_t extended_ids :
       {std::size_t{5000}, StatsCollector::kMaxListedCanIds + 3000}) {
    StatsCollector collector;
    std::map<std::pair<bool, std::uint32_t>, std::uint64_t> want;
    std::uint32_t seq = 0;
    for (std::uint32_t round = 0; round < 2; ++round) {
      for (std::uint32_t i = 0; i < extended_ids; ++i) {
        const std::uint32_t id = (i * 2654435761u) & 0x1FFFFFFF;
        ASSERT_TRUE(collector.AddEncoded(RecordKind::kCanLine, CanBytes(++seq, 0, id, true)));
        ++want[{true, id}];
      }
      for (std::uint32_t id :
           {0x7FFu, 0x123u, 0x123u, 0x900u}) {  // 0x900: a messageId-sized number
        ASSERT_TRUE(collector.AddEncoded(RecordKind::kCanLine, CanBytes(++seq, 0, id, false)));
        ++want[{false, id}];
      }
    }
    const FileStats stats = collector.Finish();
    EXPECT_EQ(stats.can_ids_distinct, want.size());
    EXPECT_FALSE(stats.can_ids_estimated);
    std::uint64_t listed_lines = 0;
    for (const CanIdCount& id : stats.can_ids) {
      EXPECT_EQ(id.lines, (want[{id.extended, id.id}])) << id.id;
      listed_lines += id.lines;
    }
    EXPECT_EQ(listed_lines + stats.unlisted_can_id_lines, stats.can_lines);
    // Two standard ids in the table, the others in the list while it has room.
    EXPECT_EQ(stats.can_ids.size(),
              std::min<std::size_t>(extended_ids + 1, StatsCollector::kMaxListedCanIds) + 2);
    EXPECT_TRUE(std::is_sorted(
        stats.can_ids.begin(), stats.can_ids.end(), [](const auto& a, const auto& b) {
          return std::make_pair(a.extended, a.id) < std::make_pair(b.extended, b.id);
        }));
  }
}

// Steps between consecutive stamps of each kind: the largest five, largest
// first and the earliest among equals, and every step backwards.
TEST(Stats, TimeStepsPerKind) {
  const std::uint32_t logger[] = {100, 110, 120, 700, 710, 705, 800, 810, 10, 20, 920, 930};
  StatsCollector collector;
  std::uint64_t offset = 0;
  std::uint32_t seq = 0;
  for (const std::uint32_t stamp : logger) {
    collector.AddEncoded(RecordKind::kLoggerLine, LoggerBytes(++seq, stamp, 1, 0), offset += 10);
    // CAN lines interleave on a clock of their own, which never steps back.
    ++seq;
    collector.AddEncoded(RecordKind::kCanLine, CanBytes(seq, seq, 5, false), offset += 10);
  }
  const FileStats stats = collector.Finish();
  const auto steps = [](const std::vector<TimeStep>& list) {
    std::vector<std::vector<std::uint64_t>> out;
    for (const TimeStep& s : list) out.push_back({s.from, s.to, s.offset, s.seq_no});
    return out;
  };
  using Steps = std::vector<std::vector<std::uint64_t>>;
  EXPECT_EQ(steps(stats.time_logger.largest_gaps), (Steps{{20, 920, 210, 21},
                                                          {120, 700, 70, 7},
                                                          {705, 800, 130, 13},
                                                          {100, 110, 30, 3},
                                                          {110, 120, 50, 5}}));
  EXPECT_EQ(stats.time_logger.backwards, 2u);
  EXPECT_EQ(steps(stats.time_logger.first_backwards),
            (Steps{{710, 705, 110, 11}, {810, 10, 170, 17}}));
  EXPECT_EQ(stats.time_logger.span(), 920u);
  EXPECT_EQ(stats.time_logger.first, 100u);
  EXPECT_EQ(stats.time_logger.last, 930u);
  EXPECT_EQ(stats.time_can.backwards, 0u);
  EXPECT_EQ(stats.time_can.span(), 22u);
}

TEST(Stats, TotalsOfSeveralFiles) {
  TotalStats total;
  for (std::uint32_t file = 0; file < 3; ++file) {
    StatsCollector collector;
    for (std::uint32_t i = 0; i < 10; ++i) {
      collector.AddEncoded(RecordKind::kLoggerLine, LoggerBytes(i, i * 10, 2, 1));
      collector.AddEncoded(RecordKind::kCanLine, CanBytes(i, i, 0x100 + file + i % 2, false));
    }
    total.Add(collector.Finish());
  }
  EXPECT_EQ(total.files, 3u);
  EXPECT_EQ(total.logger_lines, 30u);
  EXPECT_EQ(total.input_samples, 60u);
  EXPECT_EQ(total.logger_span, 270u);
  EXPECT_EQ(total.can_ids_distinct, 4u);  // 0x100 to 0x103
  ASSERT_EQ(total.can_ids.size(), 4u);
  EXPECT_EQ(total.can_ids[1].lines, 10u);  // 0x101: 5 lines in each of two files
}

// Heap in use, as the allocator counts it; 0 where it cannot tell.
std::size_t HeapInUse() {
#if defined(__GLIBC__)
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
#else
  return 0;
#endif
}

std::unique_ptr<std::vector<char>> probe;  // outside the test, so that it is not optimised away

// Random 32-bit numbers cannot be held exactly in a small budget: the sets
// stay within it, as the allocator sees it, and the figures become flagged
// estimates close to the truth.
TEST(Stats, ScatteredNumbersStayWithinTheBudget) {
  const std::size_t before_probe = HeapInUse();
  probe = std::make_unique<std::vector<char>>(1 << 20);
  const bool reported = HeapInUse() >= before_probe + (1 << 20);
  probe.reset();
  if (!reported) GTEST_SKIP() << "the allocator does not report its use here";
  const std::size_t limit = std::size_t{4} << 20;
  StatsOptions options;
  options.memory_limit = limit;
  const std::size_t heap_before = HeapInUse();
  std::size_t peak_heap = 0;
  std::size_t peak_accounted = 0;
  {
    StatsCollector collector(options);
    std::mt19937 random(3);
    std::vector<std::uint32_t> numbers;
    for (std::uint32_t i = 0; i < 2000000; ++i) {
      numbers.push_back(static_cast<std::uint32_t>(random()));
      if (i % 4 == 0) numbers.push_back(numbers[i / 2]);  // some repeats
    }
    const std::size_t heap_base = HeapInUse();  // the numbers themselves
    for (std::size_t i = 0; i < numbers.size(); ++i) {
      collector.AddEncoded(RecordKind::kLoggerLine, LoggerBytes(numbers[i], 0, 0, 0));
      if (i % 50000 == 0) {
        peak_heap = std::max(peak_heap, HeapInUse() - heap_base);
        peak_accounted = std::max(peak_accounted, collector.memory_bytes());
      }
    }
    const FileStats stats = collector.Finish();
    const SequenceSummary want = Expected(numbers);
    const SequenceSummary& got = stats.sequence_logger;
    EXPECT_TRUE(got.estimated);
    EXPECT_TRUE(stats.sequence_all.estimated);
    EXPECT_TRUE(got.first_gaps.empty());
    EXPECT_EQ(got.lines, want.lines);
    EXPECT_EQ(got.numbers.min, want.numbers.min);
    EXPECT_NEAR(static_cast<double>(got.distinct), static_cast<double>(want.distinct),
                0.05 * want.distinct);
    EXPECT_NEAR(static_cast<double>(got.gaps), static_cast<double>(want.gaps), 0.05 * want.gaps);
    EXPECT_NEAR(static_cast<double>(got.repeated), static_cast<double>(want.repeated),
                0.2 * want.repeated);
    EXPECT_EQ(got.missing, got.numbers.max - got.numbers.min + 1 - got.distinct);
  }
  EXPECT_LE(peak_accounted, limit + (64 << 10));
  // What the collector says it holds is what it holds: the sets within the
  // budget, plus the id table, the scratch line and the allocator's rounding.
  EXPECT_LE(peak_heap, limit + (256 << 10));
  EXPECT_GE(peak_heap + (256 << 10), peak_accounted);
  EXPECT_LE(HeapInUse(), heap_before + (64 << 10));  // all returned
}

}  // namespace
}  // namespace gcuproto::blackbox
