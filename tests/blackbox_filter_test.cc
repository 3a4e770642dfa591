// Filters of the blackbox reader against the same selection made by hand.
#include <gcuproto/blackbox/filter.h>
#include <gcuproto/blackbox/reader.h>
#include <google/protobuf/io/zero_copy_stream_impl_lite.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace gcuproto::blackbox {
namespace {

struct Line {
  RecordKind kind;
  std::uint32_t seq, ts, can_id = 0, message_id = 0;
  bool extended = false;
};

// Logger and CAN lines interleaved; time stamps step by 5 and repeat now and
// then, ids standard and extended.
std::vector<Line> Lines() {
  const std::uint32_t ids[][2] = {{0x7E8, 0}, {0x7E0, 0}, {0x123, 0}, {0x18DAF110, 1}, {0x7E8, 1}};
  std::vector<Line> lines;
  for (std::uint32_t i = 0; i < 120; ++i) {
    const std::uint32_t ts = (i / 2) * 5;
    if (i % 3 == 0) {
      lines.push_back({RecordKind::kLoggerLine, i, ts});
    } else {
      const auto* id = ids[i % 5];
      lines.push_back({RecordKind::kCanLine, i, ts, id[0], i % 7, id[1] != 0});
    }
  }
  return lines;
}

std::string FileOf(const std::vector<Line>& lines) {
  std::string file;
  for (const Line& l : lines) {
    std::string encoded;
    if (l.kind == RecordKind::kLoggerLine) {
      BlackboxFileLine line;
      line.set_seqno(l.seq);
      line.set_timestamp(l.ts);
      for (int i = 0; i < 4; ++i) line.add_datainput(i - 2);
      line.add_dataoutput(-70000);
      line.SerializeToString(&encoded);
    } else {
      BlackboxCandumpFileLine line;
      line.set_seqno(l.seq);
      line.set_timestamp(l.ts);
      line.set_canid(l.can_id);
      line.set_messageid(l.message_id);
      line.set_extended(l.extended);
      line.set_data("\x01\x02");
      line.SerializeToString(&encoded);
    }
    file += static_cast<char>(KeyOf(l.kind));
    file += static_cast<char>(encoded.size());
    file += encoded;
  }
  return file;
}

// The selection written out plainly, independent of the library's code.
bool ByHand(const Filter& f, const Line& l) {
  if (f.kind && *f.kind != l.kind) return false;
  if (f.from_tick && l.ts < *f.from_tick) return false;
  if (f.to_tick && !(l.ts < *f.to_tick)) return false;
  if (f.seq_first && l.seq < *f.seq_first) return false;
  if (f.seq_last && l.seq > *f.seq_last) return false;
  if (f.can_ids.empty()) return true;
  if (l.kind != RecordKind::kCanLine) return false;
  for (const CanIdMatch& m : f.can_ids) {
    const std::uint32_t id = f.match_message_id ? l.message_id : l.can_id;
    if (m.extended == l.extended && ((id ^ m.id) & m.mask) == 0) return true;
  }
  return false;
}

std::vector<std::uint32_t> ReadSeqs(const std::string& file, const Filter& filter, bool decode) {
  google::protobuf::io::ArrayInputStream input(file.data(), static_cast<int>(file.size()), 7);
  ReaderOptions options;
  options.filter = filter;
  options.decode = decode;
  Reader reader(&input, options);
  std::vector<std::uint32_t> seqs;
  while (reader.Next()) {
    LineHeader header;
    EXPECT_TRUE(ReadLineHeader(reader.kind(), reader.raw(), &header));
    seqs.push_back(header.seq_no);
  }
  EXPECT_FALSE(reader.damage()) << reader.damage()->message();
  EXPECT_EQ(reader.complete_bytes(), file.size());
  return seqs;
}

TEST(BlackboxFilter, EveryCombinationSelectsWhatTheHandDoes) {
  const std::vector<Line> lines = Lines();
  const std::string file = FileOf(lines);
  using Ticks = std::optional<std::uint64_t>;
  using Seq = std::optional<std::uint32_t>;
  const std::vector<std::optional<RecordKind>> kinds = {std::nullopt, RecordKind::kLoggerLine,
                                                        RecordKind::kCanLine};
  // Edges: a line exactly at --from is in, exactly at --to out; empty and
  // beyond-the-end slices; ticks past 32 bits.
  const std::vector<std::pair<Ticks, Ticks>> times = {
      {{}, {}}, {100, {}}, {{}, 100}, {100, 150},       {100, 101},      {100, 100},
      {0, 1},   {295, {}}, {296, {}}, {{}, 1ull << 40}, {1ull << 33, {}}};
  const std::vector<std::pair<Seq, Seq>> seqs = {{{}, {}}, {10, 50}, {33, 33}, {{}, 5}, {118, {}}};
  const std::vector<std::vector<CanIdMatch>> ids = {
      {},
      {{0x7E8, 0x7FF, false}},
      {{0x7E0, 0x7F0, false}},  // 7E0 and 7E8
      {{0x123, 0x7FF, false}, {0x18DAF110, 0x1FFFFFFF, true}},
      {{0x7E8, 0x7FF, true}},  // the extended 7E8 only
      {{0, 0, false}}};        // every standard frame
  std::size_t cases = 0;
  for (const auto& kind : kinds) {
    for (const auto& [from, to] : times) {
      for (const auto& [first, last] : seqs) {
        for (const auto& id_set : ids) {
          for (const bool by_message_id : {false, true}) {
            if (by_message_id && id_set.empty()) continue;
            Filter filter;
            filter.kind = kind;
            filter.from_tick = from;
            filter.to_tick = to;
            filter.seq_first = first;
            filter.seq_last = last;
            filter.can_ids = id_set;
            filter.match_message_id = by_message_id;
            std::vector<std::uint32_t> expected;
            for (const Line& l : lines) {
              if (ByHand(filter, l)) expected.push_back(l.seq);
            }
            ++cases;
            const bool decode = cases % 2 == 0;
            ASSERT_EQ(ReadSeqs(file, filter, decode), expected)
                << "case " << cases << " from " << from.value_or(0) << " to " << to.value_or(0)
                << " seq " << first.value_or(0) << "-" << last.value_or(0) << " ids "
                << id_set.size() << " kind " << (kind ? static_cast<int>(*kind) : -1);
          }
        }
      }
    }
  }
  EXPECT_GT(cases, 1000u);
}

TEST(BlackboxFilter, LeftOutLinesAreNotDecodedKeptOnesAre) {
  // seqNo 9, timestamp 1, then a packed block whose varint is eleven bytes
  // long: the header reads, the samples do not decode.
  std::string bad = "\x08\x09\x18\x01\x12\x0B";
  bad += std::string(10, '\x80') + std::string(1, '\x01');
  const std::string file = "\x52" + std::string(1, static_cast<char>(bad.size())) + bad;
  Filter out;
  out.seq_first = 10;
  EXPECT_EQ(ReadSeqs(file, out, true), std::vector<std::uint32_t>{});
  Filter in;
  in.seq_first = 9;
  google::protobuf::io::ArrayInputStream input(file.data(), static_cast<int>(file.size()));
  ReaderOptions options;
  options.filter = in;
  Reader reader(&input, options);
  EXPECT_FALSE(reader.Next());
  EXPECT_TRUE(reader.damage());
  // A header that does not read keeps the line, for its decoder to report.
  EXPECT_TRUE(Selects(out, RecordKind::kLoggerLine, "\x08\x80"));
  EXPECT_TRUE(Selects(out, RecordKind::kCanLine, std::string("\x32\x05\x01", 3)));
}

TEST(BlackboxFilter, UnusualEncodingsReadTheirHeaderThroughTheRuntime) {
  struct Case {
    RecordKind kind;
    std::string encoded;
    LineHeader header;
  };
  const std::vector<Case> cases = {
      // Unknown field 7, then seqNo 5 and timestamp 6.
      {RecordKind::kLoggerLine, std::string("\x38\x01\x08\x05\x18\x06", 6), {5, 6}},
      // A two-byte key for seqNo (0x88 0x00), last occurrence wins.
      {RecordKind::kLoggerLine, std::string("\x08\x01\x88\x00\x07", 5), {7, 0}},
      // CAN: extended as a non-zero varint of 2, messageId, canId.
      {RecordKind::kCanLine,
       std::string("\x28\x02\x20\x09\x18\xE8\x0F\x10\x03", 9),
       {0, 3, 0x7E8, 9, true}},
      {RecordKind::kCanLine, std::string("\x40\x01\x18\x7F", 4), {0, 0, 0x7F, 0, false}},
  };
  for (const Case& c : cases) {
    LineHeader header;
    ASSERT_TRUE(ReadLineHeader(c.kind, c.encoded, &header));
    EXPECT_EQ(header.seq_no, c.header.seq_no);
    EXPECT_EQ(header.timestamp, c.header.timestamp);
    EXPECT_EQ(header.can_id, c.header.can_id);
    EXPECT_EQ(header.message_id, c.header.message_id);
    EXPECT_EQ(header.extended, c.header.extended);
  }
}

TEST(BlackboxFilter, CanIdSyntaxOfCandump) {
  struct Case {
    const char* text;
    bool extended_flag;
    bool ok;
    CanIdMatch match;
  };
  const std::vector<Case> cases = {
      {"7E8", false, true, {0x7E8, 0x7FF, false}},
      {"7e8:7f0", false, true, {0x7E8, 0x7F0, false}},
      {"7FF", false, true, {0x7FF, 0x7FF, false}},
      {"800", false, false, {}},
      {"00000123", false, true, {0x123, 0x1FFFFFFF, true}},
      {"18DAF110:1FFFFF00", false, true, {0x18DAF110, 0x1FFFFF00, true}},
      {"123", true, true, {0x123, 0x1FFFFFFF, true}},
      {"1FFFFFFF", true, true, {0x1FFFFFFF, 0x1FFFFFFF, true}},
      {"20000000", false, false, {}},
      {"0", false, true, {0, 0x7FF, false}},
      {"", false, false, {}},
      {"7E8:", false, false, {}},
      {"x7E8", false, false, {}},
      {"0x7E8", false, false, {}},
      {"7E8:123456789", false, false, {}},
      {"123456789", true, false, {}},
      {"7E8 ", false, false, {}},
  };
  for (const Case& c : cases) {
    CanIdMatch match;
    Error error;
    ASSERT_EQ(ParseCanIdMatch(c.text, c.extended_flag, &match, &error), c.ok)
        << c.text << " " << error.message();
    if (!c.ok) {
      EXPECT_EQ(error.kind(), ErrorKind::kInvalidArgument);
      EXPECT_NE(error.message().find(std::string("'") + c.text + "'"), std::string::npos)
          << error.message();
      continue;
    }
    EXPECT_EQ(match.id, c.match.id) << c.text;
    EXPECT_EQ(match.mask, c.match.mask) << c.text;
    EXPECT_EQ(match.extended, c.match.extended) << c.text;
  }
}

TEST(BlackboxFilter, TicksAndSecondsAndSequenceRanges) {
  struct TickCase {
    const char* text;
    const char* scale;
    std::optional<std::uint64_t> tick;
  };
  const std::vector<TickCase> ticks = {
      {"36000", "0.001", 36000},
      {"36000s", "0.001", 36000000},
      {"1.5s", "0.001", 1500},
      {"0.0015s", "0.001", 2},  // the first tick at or after 1.5 ms
      {"0.001s", "0.001", 1},
      {"0s", "0.001", 0},
      {"3s", "2.5e-4", 12000},
      {"1s", "3", 1},  // 1 s is inside the first 3-s tick: tick 1 is the first after
      {"6s", "3", 2},
      {"1e-30s", "1", 1},
      {"1e30s", "0.001", 18446744073709551615ull},
      {"18446744073709551615", "1", 18446744073709551615ull},
      {"18446744073709551616", "1", {}},
      {"-5", "1", {}},
      {"+5", "1", {}},
      {"5 s", "1", {}},
      {"s", "1", {}},
      {"5ms", "1", {}},
      {"", "1", {}},
  };
  for (const TickCase& c : ticks) {
    TimeScale scale;
    ASSERT_TRUE(TimeScale::Parse(c.scale, &scale)) << c.scale;
    std::uint64_t tick = 0;
    Error error;
    ASSERT_EQ(ParseTick(c.text, scale, &tick, &error), c.tick.has_value()) << c.text;
    if (c.tick)
      EXPECT_EQ(tick, *c.tick) << c.text;
    else
      EXPECT_NE(error.message().find(std::string("'") + c.text + "'"), std::string::npos)
          << error.message();
  }
  struct SeqCase {
    const char* text;
    bool ok;
    std::optional<std::uint32_t> first, last;
  };
  const std::vector<SeqCase> seqs = {
      {"10-20", true, 10, 20},
      {"7", true, 7, 7},
      {"10-", true, 10, {}},
      {"-20", true, {}, 20},
      {"0-4294967295", true, 0, 4294967295u},
      {"20-10", false, {}, {}},
      {"-", false, {}, {}},
      {"", false, {}, {}},
      {"1-2-3", false, {}, {}},
      {"4294967296", false, {}, {}},
      {"a-b", false, {}, {}},
      {"5--6", false, {}, {}},
  };
  for (const SeqCase& c : seqs) {
    std::optional<std::uint32_t> first, last;
    ASSERT_EQ(ParseSeqRange(c.text, &first, &last, nullptr), c.ok) << c.text;
    if (!c.ok) continue;
    EXPECT_EQ(first, c.first) << c.text;
    EXPECT_EQ(last, c.last) << c.text;
  }
}

}  // namespace
}  // namespace gcuproto::blackbox
