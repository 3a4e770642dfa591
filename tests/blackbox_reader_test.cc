// The streaming blackbox reader against whole-file parsing, on generated files,
// cut-short files and inputs larger than 4 GiB.
#include <gcuproto/blackbox.pb.h>
#include <gcuproto/blackbox/line_decoder.h>
#include <gcuproto/blackbox/reader.h>
#include <google/protobuf/io/zero_copy_stream_impl_lite.h>
#include <google/protobuf/util/message_differencer.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "wire.h"

namespace {

using gcuproto::blackbox::DecodeLoggerLine;
using gcuproto::blackbox::ErrorKind;
using gcuproto::blackbox::Reader;
using gcuproto::blackbox::ReaderOptions;
using gcuproto::blackbox::RecordKind;
using gcuproto_test::Bytes;
using google::protobuf::util::MessageDifferencer;

using gcuproto_test::Record;

struct Generated {
  std::string bytes;
  std::vector<std::uint64_t> line_offsets;  // offset of every line record, in file order
  std::vector<std::uint64_t> line_ends;
  std::vector<RecordKind> kinds;
  std::vector<std::uint64_t> boundaries = {0};  // where records start or end
  int unknown_records = 0;
};

// A file of both line kinds interleaved, with empty lines and unknown
// top-level records between them.
Generated MakeFile(std::uint32_t seed, int lines) {
  std::mt19937 random(seed);
  Generated file;
  for (int i = 0; i < lines; ++i) {
    switch (random() % 6) {
      case 0: {
        BlackboxCandumpFileLine can;
        can.set_seqno(static_cast<std::uint32_t>(i));
        can.set_timestamp(random());
        can.set_canid(random() % 0x800);
        can.set_extended(random() % 2 == 0);
        can.set_data(std::string(random() % 9, static_cast<char>(random())));
        file.line_offsets.push_back(file.bytes.size());
        file.kinds.push_back(RecordKind::kCanLine);
        file.bytes += Record(0x5A, can.SerializeAsString());
        break;
      }
      case 1:  // an empty line of either kind
        file.line_offsets.push_back(file.bytes.size());
        file.kinds.push_back(i % 2 ? RecordKind::kLoggerLine : RecordKind::kCanLine);
        file.bytes += Record(i % 2 ? 0x52 : 0x5A, "");
        break;
      case 2: {  // an unknown record: varint, fixed64, group or bytes
        static const std::string unknown[] = {
            Bytes({0x60, 0x96, 0x01}), Bytes({0x61, 1, 2, 3, 4, 5, 6, 7, 8}),
            Bytes({0x63, 0x08, 0x01, 0x64}), Bytes({0x50, 0x05}), Record(0x62, "xyz")};
        file.bytes += unknown[random() % 5];
        ++file.unknown_records;
        --i;
        file.boundaries.push_back(file.bytes.size());
        continue;
      }
      default: {
        BlackboxFileLine line;
        line.set_seqno(static_cast<std::uint32_t>(i));
        line.set_timestamp(random());
        for (int s = 0; s < 32; ++s) line.add_datainput(static_cast<std::int32_t>(random()));
        for (unsigned s = random() % 4; s > 0; --s) line.add_dataoutput(-static_cast<int>(s));
        file.line_offsets.push_back(file.bytes.size());
        file.kinds.push_back(RecordKind::kLoggerLine);
        file.bytes += Record(0x52, line.SerializeAsString());
      }
    }
    file.line_ends.push_back(file.bytes.size());
    file.boundaries.push_back(file.bytes.size());
  }
  return file;
}

TEST(BlackboxReader, SameLinesAsWholeFileParse) {
  for (std::uint32_t seed : {1u, 2u, 3u}) {
    SCOPED_TRACE(seed);
    const Generated file = MakeFile(seed, 300);
    BlackboxFile whole;
    ASSERT_TRUE(whole.ParseFromString(file.bytes));

    google::protobuf::io::ArrayInputStream input(file.bytes.data(),
                                                 static_cast<int>(file.bytes.size()), 7);
    Reader reader(&input);
    int logger = 0;
    int can = 0;
    std::size_t index = 0;
    while (reader.Next()) {
      ASSERT_LT(index, file.line_offsets.size());
      EXPECT_EQ(reader.offset(), file.line_offsets[index]);
      EXPECT_EQ(reader.kind(), file.kinds[index]);
      if (reader.kind() == RecordKind::kLoggerLine) {
        EXPECT_TRUE(MessageDifferencer::Equals(reader.logger_line(), whole.line(logger)));
        EXPECT_EQ(reader.raw(), whole.line(logger).SerializeAsString());
        ++logger;
      } else {
        EXPECT_TRUE(MessageDifferencer::Equals(reader.can_line(), whole.linecan(can)));
        ++can;
      }
      ++index;
    }
    EXPECT_FALSE(reader.damage()) << reader.damage()->message();
    EXPECT_EQ(index, file.line_offsets.size());
    EXPECT_EQ(logger, whole.line_size());
    EXPECT_EQ(can, whole.linecan_size());
    EXPECT_EQ(reader.unknown_records(), static_cast<std::uint64_t>(file.unknown_records));
    EXPECT_EQ(reader.complete_bytes(), file.bytes.size());
  }
}

TEST(BlackboxReader, RawViewMatchesRawFileParse) {
  const Generated file = MakeFile(9, 100);
  BlackboxFileL raw_file;
  ASSERT_TRUE(raw_file.ParseFromString(file.bytes));
  ReaderOptions options;
  options.decode = false;
  std::istringstream stream(file.bytes);
  Reader reader(&stream, options);
  int logger = 0;
  int can = 0;
  while (reader.Next()) {
    if (reader.kind() == RecordKind::kLoggerLine) {
      EXPECT_EQ(reader.raw(), raw_file.line(logger++));
    } else {
      EXPECT_EQ(reader.raw(), raw_file.linecan(can++));
    }
  }
  EXPECT_FALSE(reader.damage());
  EXPECT_EQ(logger, raw_file.line_size());
  EXPECT_EQ(can, raw_file.linecan_size());
}

TEST(BlackboxReader, EveryCutKeepsEveryCompleteLineAndReportsTheTail) {
  const Generated file = MakeFile(5, 12);
  for (std::size_t cut = 0; cut <= file.bytes.size(); ++cut) {
    SCOPED_TRACE(cut);
    const std::string prefix = file.bytes.substr(0, cut);
    google::protobuf::io::ArrayInputStream input(prefix.data(), static_cast<int>(prefix.size()), 3);
    Reader reader(&input);
    std::vector<std::uint64_t> seen;
    while (reader.Next()) seen.push_back(reader.offset());

    // Exactly the lines whose records end at or before the cut.
    std::vector<std::uint64_t> expected;
    for (std::size_t i = 0; i < file.line_offsets.size(); ++i) {
      if (file.line_ends[i] <= cut) expected.push_back(file.line_offsets[i]);
    }
    const bool at_boundary =
        std::find(file.boundaries.begin(), file.boundaries.end(), cut) != file.boundaries.end();
    BlackboxFile whole;
    ASSERT_EQ(whole.ParseFromString(prefix), at_boundary);
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(reader.damage().has_value(), !at_boundary);
    if (reader.damage()) {
      EXPECT_EQ(reader.damage()->kind(), ErrorKind::kCutShort) << reader.damage()->message();
      EXPECT_EQ(reader.damage()->offset(), reader.complete_bytes());
      EXPECT_LT(reader.damage()->offset(), cut);
    } else {
      EXPECT_EQ(reader.complete_bytes(), cut);
    }
  }
}

TEST(BlackboxReader, DamageIsReportedWithOffsetAndReason) {
  const std::string line = Record(0x52, Bytes({0x08, 0x01}));
  struct Case {
    const char* what;
    std::string bytes;
    std::uint64_t offset;
    const char* reason;
    ErrorKind kind;
  };
  const Case cases[] = {
      {"line cut short", line + Bytes({0x52, 0x05, 0x08}), 4,
       "logger line cut short: 1 of 5 bytes present", ErrorKind::kCutShort},
      {"length cut short", line + Bytes({0x5A, 0x80}), 4, "CAN line cut short inside its length",
       ErrorKind::kCutShort},
      {"key cut short", line + Bytes({0xD2}), 4, "record cut short inside its key",
       ErrorKind::kCutShort},
      {"field number zero", line + Bytes({0x02, 0x00}), 4, "invalid record key 2",
       ErrorKind::kDamaged},
      {"end group without start", line + Bytes({0x5C}), 4, "invalid record key 92",
       ErrorKind::kDamaged},
      {"line that does not decode", line + Record(0x52, Bytes({0x08, 0x80})), 4,
       "logger line does not decode", ErrorKind::kDamaged},
      {"CAN line that does not decode", line + Record(0x5A, Bytes({0x32, 0x09})), 4,
       "CAN line does not decode", ErrorKind::kDamaged},
      {"unknown record cut short", line + Bytes({0x61, 1, 2}), 4, "unknown record cut short",
       ErrorKind::kCutShort},
      {"length of 2 GiB", line + Bytes({0x52, 0x80, 0x80, 0x80, 0x80, 0x08}), 4,
       "logger line has a malformed length", ErrorKind::kDamaged},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::istringstream stream(c.bytes);
    Reader reader(&stream);
    ASSERT_TRUE(reader.Next());
    EXPECT_EQ(reader.logger_line().seqno(), 1u);
    EXPECT_FALSE(reader.Next());
    EXPECT_FALSE(reader.Next());  // stays finished
    ASSERT_TRUE(reader.damage());
    EXPECT_EQ(reader.damage()->offset(), c.offset);
    EXPECT_EQ(reader.damage()->message(), c.reason);
    EXPECT_EQ(reader.damage()->kind(), c.kind);
    BlackboxFile whole;
    EXPECT_FALSE(whole.ParseFromString(c.bytes)) << "the whole-file parse accepts it";
  }
}

// A key of five bytes keeps its low 32 bits, as in a whole-file parse: the
// bits above are dropped, not taken for damage.
TEST(BlackboxReader, FiveByteKeysKeepTheirLow32Bits) {
  const std::string unknown_fixed64 =
      Bytes({0x89, 0x80, 0x80, 0x80, 0x10, 1, 2, 3, 4, 5, 6, 7, 8});  // field 1, wire type 1
  const std::string logger_line = Bytes({0xD2, 0x80, 0x80, 0x80, 0x70, 0x02, 0x08, 0x09});
  const std::string bytes = unknown_fixed64 + logger_line;
  BlackboxFile whole;
  ASSERT_TRUE(whole.ParseFromString(bytes));
  ASSERT_EQ(whole.line_size(), 1);

  std::istringstream stream(bytes);
  Reader reader(&stream);
  ASSERT_TRUE(reader.Next());
  EXPECT_EQ(reader.offset(), unknown_fixed64.size());
  EXPECT_EQ(reader.logger_line().seqno(), 9u);
  EXPECT_DEBUG_DEATH(reader.can_line(), "kCanLine");  // the record is a logger line
  EXPECT_FALSE(reader.Next());
  EXPECT_FALSE(reader.damage()) << reader.damage()->message();
  EXPECT_EQ(reader.unknown_records(), 1u);
}

TEST(BlackboxReader, UndecodableLinesCanBeSkipped) {
  const std::string bytes = Record(0x52, Bytes({0x08, 0x01})) + Record(0x52, Bytes({0x12, 0x05})) +
                            Record(0x52, Bytes({0x08, 0x03}));
  std::vector<std::uint64_t> skipped;
  ReaderOptions options;
  options.on_undecodable_line = [&](std::uint64_t offset, RecordKind) {
    skipped.push_back(offset);
  };
  std::istringstream stream(bytes);
  Reader reader(&stream, options);
  std::vector<std::uint32_t> seq;
  while (reader.Next()) seq.push_back(reader.logger_line().seqno());
  EXPECT_EQ(seq, (std::vector<std::uint32_t>{1, 3}));
  EXPECT_EQ(skipped, (std::vector<std::uint64_t>{4}));
  EXPECT_EQ(reader.undecodable_lines(), 1u);
  EXPECT_FALSE(reader.damage());
}

// An input that generates its bytes as it is read: two skipped unknown
// records of almost 2 GiB each, then logger lines, so that lines stand past
// 4 GiB without the test holding or writing that much.
class HugeInput : public google::protobuf::io::ZeroCopyInputStream {
 public:
  HugeInput(std::uint32_t filler_records, const std::string& tail) {
    const std::uint32_t filler = 0x7FFFFFF0;
    header_ = std::string(1, static_cast<char>(0x62)) + gcuproto_test::Varint(filler);
    for (std::uint32_t i = 0; i < filler_records; ++i) segments_.push_back({header_, filler});
    segments_.push_back({tail, 0});
  }

  bool Next(const void** data, int* size) override {
    while (index_ < segments_.size()) {
      Segment& s = segments_[index_];
      if (pos_ < s.text.size()) {
        *data = s.text.data() + pos_;
        *size = static_cast<int>(s.text.size() - pos_);
        count_ += *size;
        pos_ = s.text.size();
        return true;
      }
      if (s.zeros > 0) {
        const auto n = static_cast<int>(std::min<std::uint64_t>(s.zeros, zeros_.size()));
        s.zeros -= static_cast<std::uint64_t>(n);
        *data = zeros_.data();
        *size = n;
        count_ += n;
        return true;
      }
      ++index_;
      pos_ = 0;
    }
    return false;
  }
  void BackUp(int count) override {
    // Only the text segments are ever backed up into in these tests.
    pos_ -= static_cast<std::size_t>(count);
    count_ -= count;
  }
  bool Skip(int count) override {
    while (count > 0 && index_ < segments_.size()) {
      Segment& s = segments_[index_];
      const auto text_left = static_cast<int>(s.text.size() - pos_);
      const int from_text = std::min(count, text_left);
      pos_ += static_cast<std::size_t>(from_text);
      count -= from_text;
      count_ += from_text;
      const auto from_zeros =
          static_cast<int>(std::min<std::uint64_t>(s.zeros, static_cast<std::uint64_t>(count)));
      s.zeros -= static_cast<std::uint64_t>(from_zeros);
      count -= from_zeros;
      count_ += from_zeros;
      if (pos_ == s.text.size() && s.zeros == 0) {
        ++index_;
        pos_ = 0;
      }
    }
    return count == 0;
  }
  std::int64_t ByteCount() const override { return count_; }
  std::uint64_t header_size() const { return header_.size(); }

 private:
  struct Segment {
    std::string text;
    std::uint64_t zeros;
  };
  std::string header_;
  std::vector<Segment> segments_;
  std::size_t index_ = 0;
  std::size_t pos_ = 0;
  std::int64_t count_ = 0;
  std::string zeros_ = std::string(1 << 16, '\0');
};

TEST(BlackboxReader, OffsetsPastFourGiB) {
  BlackboxFileLine line;
  line.set_seqno(41);
  line.add_datainput(-5);
  const std::string first = Record(0x52, line.SerializeAsString());
  line.set_seqno(42);
  const std::string tail =
      first + Record(0x52, line.SerializeAsString()) + Bytes({0x52, 0x09, 0x08});

  const std::uint32_t filler_records = 3;  // 3 x (2 GiB - 16) > 4 GiB
  HugeInput input(filler_records, tail);
  Reader reader(&input);
  const std::uint64_t start = filler_records * (input.header_size() + 0x7FFFFFF0ull);
  ASSERT_GT(start, 1ull << 32);

  ASSERT_TRUE(reader.Next());
  EXPECT_EQ(reader.offset(), start);
  EXPECT_EQ(reader.logger_line().seqno(), 41u);
  ASSERT_TRUE(reader.Next());
  EXPECT_EQ(reader.offset(), start + first.size());
  EXPECT_EQ(reader.logger_line().seqno(), 42u);
  EXPECT_FALSE(reader.Next());
  EXPECT_EQ(reader.unknown_records(), filler_records);
  ASSERT_TRUE(reader.damage());
  EXPECT_EQ(reader.damage()->kind(), ErrorKind::kCutShort);
  EXPECT_EQ(reader.damage()->offset(), start + 2 * first.size());
  EXPECT_EQ(reader.damage()->message(), "logger line cut short: 1 of 9 bytes present");
}

// The specialised line decoder must agree with the general parser on every
// input, valid or not.
TEST(LoggerLineDecoder, AgreesWithTheGeneralParser) {
  std::mt19937 random(1234);
  const std::vector<std::string> seeds = {
      Bytes({0x08, 0x01, 0x12, 0x02, 0x01, 0x02, 0x18, 0x02}),
      Bytes({0x10, 0x02, 0x12, 0x02, 0x02, 0x04, 0x20, 0x03}),
      Bytes({0x12, 0x05, 0xFF, 0xFF, 0xFF, 0xFF, 0x0F}),
      Bytes({0x22, 0x0A, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01}),
      Bytes({0x08, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x01}),
      Bytes({0x12, 0x80, 0x80, 0x80, 0x80, 0x80, 0x00}),
      Bytes({0x28, 0x01, 0x08, 0x05}),
      Bytes({0x18, 0x07, 0x00}),
      Bytes({0x12, 0x00, 0x10, 0x03, 0x28, 0x28}),
      Bytes({0x22, 0x00}),
  };
  BlackboxFileLine fast;
  BlackboxFileLine general;
  int accepted = 0;
  for (int i = 0; i < 20000; ++i) {
    std::string input = seeds[random() % seeds.size()];
    for (unsigned edits = random() % 4; edits > 0; --edits) {
      const std::size_t at = random() % (input.size() + 1);
      switch (random() % 3) {
        case 0:
          input.insert(at, 1, static_cast<char>(random()));
          break;
        case 1:
          if (at < input.size()) input.erase(at, 1);
          break;
        default:
          if (at < input.size()) input[at] = static_cast<char>(random());
      }
    }
    // Every other input goes into a line that never held samples, whose
    // repeated fields have no storage yet.
    BlackboxFileLine fresh;
    BlackboxFileLine* const decoded = i % 2 == 0 ? &fast : &fresh;
    const bool fast_ok = DecodeLoggerLine(input, decoded);
    const bool general_ok = general.ParseFromString(input);
    ASSERT_EQ(fast_ok, general_ok) << gcuproto_test::Hex(input);
    if (general_ok) {
      ++accepted;
      ASSERT_TRUE(MessageDifferencer::Equals(*decoded, general)) << gcuproto_test::Hex(input);
    }
  }
  EXPECT_GT(accepted, 1000);
}

}  // namespace
