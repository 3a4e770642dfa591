// Text exports and statistics of blackbox files, against hand-checked lines.
#include <gcuproto/blackbox/exporter.h>
#include <gcuproto/blackbox/line_decoder.h>
#include <gcuproto/blackbox/stats.h>
#include <google/protobuf/io/zero_copy_stream_impl_lite.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "wire.h"

namespace gcuproto::blackbox {
namespace {

using gcuproto_test::Bytes;

BlackboxFileLine Logger(std::uint32_t seq_no, std::uint32_t timestamp,
                        std::vector<std::int32_t> inputs, std::vector<std::int32_t> outputs) {
  BlackboxFileLine line;
  line.set_seqno(seq_no);
  line.set_timestamp(timestamp);
  for (std::int32_t v : inputs) line.add_datainput(v);
  for (std::int32_t v : outputs) line.add_dataoutput(v);
  return line;
}

BlackboxCandumpFileLine Can(std::uint32_t seq_no, std::uint32_t timestamp, std::uint32_t can_id,
                            bool extended, const std::string& data, std::uint32_t message_id = 0) {
  BlackboxCandumpFileLine line;
  line.set_seqno(seq_no);
  line.set_timestamp(timestamp);
  line.set_canid(can_id);
  line.set_messageid(message_id);
  line.set_extended(extended);
  line.set_data(data);
  return line;
}

// The formatter's text for one encoded line, or why it refused it:
// "damaged: reason" or "unsupported: reason".
std::string Format(LineFormatter* formatter, RecordKind kind, const std::string& encoded) {
  std::string text;
  StringSink sink(&text);
  TextBuffer out(&sink);
  Error error;
  if (!formatter->Line(kind, encoded, &out, &error)) {
    EXPECT_FALSE(error.has_offset());
    return (error.kind() == ErrorKind::kDamaged ? "damaged: " : "unsupported: ") + error.message();
  }
  out.Flush();
  return text;
}

std::string FileOf(const std::vector<std::pair<RecordKind, std::string>>& lines) {
  std::string file;
  for (const auto& [kind, encoded] : lines) file += gcuproto_test::Record(KeyOf(kind), encoded);
  return file;
}

TEST(BlackboxCsv, HeaderNamesEveryColumn) {
  CsvFormatter csv({3, 2});
  std::string text;
  StringSink sink(&text);
  TextBuffer out(&sink);
  csv.Begin(&out);
  out.Flush();
  EXPECT_EQ(text, "seqNo,timestamp,in0,in1,in2,out0,out1\n");
}

TEST(BlackboxCsv, RowsFromEveryEncodingOfALine) {
  struct Case {
    const char* name;
    std::string encoded;
    std::string row;
  };
  const std::vector<Case> cases = {
      {"as the library writes it", Logger(1, 2, {-1, 300}, {-2147483647 - 1}).SerializeAsString(),
       "1,2,-1,300,-2147483648\n"},
      {"fewer samples than columns", Logger(7, 0, {5}, {}).SerializeAsString(), "7,0,5,,\n"},
      {"no fields at all", "", "0,0,,,\n"},
      {"largest numbers",
       Logger(4294967295u, 4294967295u, {2147483647, 0}, {0}).SerializeAsString(),
       "4294967295,4294967295,2147483647,0,0\n"},
      // Unpacked samples, a packed record after an unpacked one, an unknown
      // field and repeated singular fields go through the general decoder.
      {"unpacked samples", Bytes({0x08, 0x03, 0x10, 0x02, 0x10, 0x04, 0x20, 0x01}), "3,0,1,2,-1\n"},
      {"unpacked then packed", Bytes({0x10, 0x02, 0x12, 0x01, 0x04, 0x18, 0x09}), "0,9,1,2,\n"},
      {"unknown field", Bytes({0x08, 0x01, 0x12, 0x01, 0x06, 0x28, 0x07, 0x18, 0x02}), "1,2,3,,\n"},
      {"last seqNo wins", Bytes({0x08, 0x01, 0x08, 0x05, 0x22, 0x01, 0x01}), "5,0,,,-1\n"},
      // A sample written with ten bytes is cut to its low 32 bits.
      {"ten-byte sample",
       Bytes({0x12, 0x0A, 0x81, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x01}),
       "0,0,-1,,\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CsvFormatter csv({2, 1});
    EXPECT_EQ(Format(&csv, RecordKind::kLoggerLine, c.encoded), c.row);
  }
}

// The block decoders take eight bytes at a time when they hold eight one-byte
// or four two-byte samples: runs of each size, broken at every position by
// longer samples, must give what the general parser gives.
TEST(BlackboxCsv, BlockDecodingAgreesWithTheGeneralParser) {
  std::mt19937 random(12345);
  auto next = [&random] { return static_cast<std::uint32_t>(random()); };
  const std::int32_t magnitude[] = {63, 8191, 1 << 20, 2147483647};
  for (int round = 0; round < 2000; ++round) {
    BlackboxFileLine line;
    line.set_seqno(next());
    const int count = static_cast<int>(next() % 48);
    const int mix = static_cast<int>(next() % 4);
    for (int i = 0; i < count; ++i) {
      // Mostly one size, now and then another.
      const int size = next() % 8 == 0 ? static_cast<int>(next() % 4) : mix;
      const std::int32_t limit = magnitude[size];
      const auto value =
          static_cast<std::int32_t>(next() % (static_cast<std::uint32_t>(limit) + 1));
      (i % 2 ? line.add_datainput(value) : line.add_datainput(-value - 1));
    }
    line.add_dataoutput(static_cast<std::int32_t>(next()));
    const std::string encoded = line.SerializeAsString();
    SCOPED_TRACE(gcuproto_test::Hex(encoded));

    BlackboxFileLine decoded;
    ASSERT_TRUE(DecodeLoggerLine(encoded, &decoded));
    EXPECT_EQ(decoded.SerializeAsString(), encoded);

    CsvFormatter csv({48, 1});
    std::string expected;
    StringSink sink(&expected);
    TextBuffer out(&sink);
    ASSERT_TRUE(csv.AppendRow(line, &out, nullptr));
    out.Flush();
    EXPECT_EQ(Format(&csv, RecordKind::kLoggerLine, encoded), expected);
  }
}

TEST(BlackboxCsv, RefusesLinesThatDoNotFitOrDecode) {
  CsvFormatter csv({2, 1});
  EXPECT_EQ(
      Format(&csv, RecordKind::kLoggerLine, Logger(1, 2, {1, 2, 3}, {}).SerializeAsString()),
      "unsupported: logger line has 3 input and 0 output samples, more than the 2 and 1 columns");
  EXPECT_EQ(Format(&csv, RecordKind::kLoggerLine, Bytes({0x12, 0x03, 0x01})),
            "damaged: logger line does not decode");
  // The packed block's last varint runs past its length.
  EXPECT_EQ(Format(&csv, RecordKind::kLoggerLine, Bytes({0x12, 0x01, 0x80, 0x01})),
            "damaged: logger line does not decode");
  EXPECT_EQ(Format(&csv, RecordKind::kCanLine, Bytes({0x32, 0x05, 0x01})),
            "damaged: CAN line does not decode");
  EXPECT_EQ(Format(&csv, RecordKind::kCanLine, Can(1, 2, 3, false, "x").SerializeAsString()), "");
}

TEST(BlackboxCsv, ScanFindsTheWidestLineOfEachKind) {
  BlackboxFileLine wide_inputs = Logger(1, 0, {}, {1});
  for (int i = 0; i < 40; ++i) wide_inputs.add_datainput(-2147483647 - 1);  // 200-byte block
  const std::string with_wide = FileOf({
      {RecordKind::kLoggerLine, Logger(2, 0, {1, 2}, {1, 2, 3}).SerializeAsString()},
      {RecordKind::kCanLine, Can(3, 0, 1, false, "abc").SerializeAsString()},
      {RecordKind::kLoggerLine, Bytes({0x20, 0x01, 0x20, 0x01, 0x20, 0x01, 0x20, 0x01})},
      {RecordKind::kLoggerLine, wide_inputs.SerializeAsString()},  // a two-byte length
  });

  google::protobuf::io::ArrayInputStream input(with_wide.data(),
                                               static_cast<int>(with_wide.size()));
  ReaderOptions options;
  options.decode = false;
  Reader reader(&input, options);
  const CsvColumns columns = ScanCsvColumns(&reader);
  EXPECT_FALSE(reader.damage());
  EXPECT_EQ(columns.inputs, 40u);
  EXPECT_EQ(columns.outputs, 4u);
}

TEST(BlackboxJsonLines, BothKindsWithEveryField) {
  JsonLinesFormatter json;
  EXPECT_EQ(
      Format(&json, RecordKind::kLoggerLine, Logger(1, 1000, {12, -3}, {0}).SerializeAsString()),
      R"({"kind":"line","seqNo":1,"timestamp":1000,"dataInput":[12,-3],"dataOutput":[0]})"
      "\n");
  EXPECT_EQ(Format(&json, RecordKind::kLoggerLine, ""),
            R"({"kind":"line","seqNo":0,"timestamp":0,"dataInput":[],"dataOutput":[]})"
            "\n");
  EXPECT_EQ(
      Format(&json, RecordKind::kCanLine,
             Can(2, 1005, 0x18FEF100, true, Bytes({0x01, 0xAB, 0x00}), 61444).SerializeAsString()),
      R"({"kind":"lineCan","seqNo":2,"timestamp":1005,"canId":419361024,"messageId":61444,)"
      R"("extended":true,"data":"01AB00"})"
      "\n");
  EXPECT_EQ(
      Format(&json, RecordKind::kCanLine, ""),
      R"({"kind":"lineCan","seqNo":0,"timestamp":0,"canId":0,"messageId":0,"extended":false,"data":""})"
      "\n");
  EXPECT_EQ(Format(&json, RecordKind::kLoggerLine, Bytes({0x08})),
            "damaged: logger line does not decode");
}

TEST(BlackboxCandump, FramesAsCanUtilsWritesThem) {
  struct Case {
    const char* name;
    BlackboxCandumpFileLine line;
    std::string text;
  };
  const std::vector<Case> cases = {
      {"standard", Can(1, 1005, 0x123, false, Bytes({0x00, 0xFF, 0x10})),
       "(0000000001.005000) can0 123#00FF10\n"},
      {"standard, small id, no data", Can(1, 0, 0x5, false, ""), "(0000000000.000000) can0 005#\n"},
      {"largest standard", Can(1, 0, 0x7FF, false, "\x01"), "(0000000000.000000) can0 7FF#01\n"},
      {"extended",
       Can(1, 1005, 0x18FEF100, true, Bytes({0x01, 0x26, 0x4B, 0x70, 0x95, 0xBA, 0xDF, 0x04})),
       "(0000000001.005000) can0 18FEF100#01264B7095BADF04\n"},
      {"extended, small id", Can(1, 1, 0x5, true, ""), "(0000000000.001000) can0 00000005#\n"},
      {"largest extended", Can(1, 0, 0x1FFFFFFF, true, "\xab"),
       "(0000000000.000000) can0 1FFFFFFF#AB\n"},
      {"CAN FD", Can(1, 0, 0x123, false, std::string(12, '\x11')),
       "(0000000000.000000) can0 123##0111111111111111111111111\n"},
      {"largest time stamp", Can(1, 4294967295u, 0x1, false, ""),
       "(0004294967.295000) can0 001#\n"},
  };
  CandumpFormatter candump(CandumpOptions{});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Format(&candump, RecordKind::kCanLine, c.line.SerializeAsString()), c.text);
  }
  // Logger lines are left out.
  EXPECT_EQ(Format(&candump, RecordKind::kLoggerLine, Logger(1, 2, {3}, {}).SerializeAsString()),
            "");
}

TEST(BlackboxCandump, RefusesFramesTheFormatCannotHold) {
  struct Case {
    BlackboxCandumpFileLine line;
    std::string reason;
  };
  const std::vector<Case> cases = {
      {Can(1, 0, 0x800, false, ""),
       "CAN line's canId 0x800 does not fit a standard (11-bit) identifier"},
      {Can(1, 0, 0x20000000, true, ""),
       "CAN line's canId 0x20000000 does not fit an extended (29-bit) identifier"},
      {Can(1, 0, 0x1, false, std::string(9, 'x')),
       "CAN line's 9 data bytes are no CAN or CAN FD frame length (0 to 8, 12, 16, 20, 24, 32, 48, "
       "64)"},
      {Can(1, 0, 0x1, false, std::string(65, 'x')),
       "CAN line's 65 data bytes are no CAN or CAN FD frame length (0 to 8, 12, 16, 20, 24, 32, "
       "48, 64)"},
  };
  CandumpFormatter candump(CandumpOptions{});
  for (const Case& c : cases) {
    EXPECT_EQ(Format(&candump, RecordKind::kCanLine, c.line.SerializeAsString()),
              "unsupported: " + c.reason);
  }
}

TEST(BlackboxCandump, TimeScaleInterfaceAndIdField) {
  struct Case {
    const char* scale;
    std::uint32_t ticks;
    const char* time;
  };
  const std::vector<Case> cases = {
      {"1", 4294967295u, "(4294967295.000000)"}, {"0.000001", 1234567, "(0000000001.234567)"},
      {"1e-7", 5, "(0000000000.000001)"},  // half a microsecond rounds up
      {"1e-7", 4, "(0000000000.000000)"},        {"0.0000015", 1, "(0000000000.000002)"},
      {"2.5e-4", 3, "(0000000000.000750)"},      {".5", 3, "(0000000001.500000)"},
      {"1E1", 7, "(0000000070.000000)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.scale);
    CandumpOptions options;
    options.interface_name = "vcan1";
    options.id_field = CanIdField::kMessageId;
    ASSERT_TRUE(TimeScale::Parse(c.scale, &options.time_scale));
    CandumpFormatter candump(options);
    EXPECT_EQ(Format(&candump, RecordKind::kCanLine,
                     Can(1, c.ticks, 0x7FF, false, "\x01", 0x42).SerializeAsString()),
              std::string(c.time) + " vcan1 042#01\n");
  }
  CandumpOptions options;
  ASSERT_TRUE(TimeScale::Parse("3", &options.time_scale));
  CandumpFormatter candump(options);
  EXPECT_EQ(Format(&candump, RecordKind::kCanLine,
                   Can(1, 3333333334u, 0x1, false, "").SerializeAsString()),
            "unsupported: CAN line's time stamp 3333333334 is past the 10 digits of seconds of the "
            "candump format");

  TimeScale scale;
  for (const char* bad : {"", "0", "0.000", "-1", "+1", "abc", "1e", ".", "1..2", "1e5x", "0x10"}) {
    EXPECT_FALSE(TimeScale::Parse(bad, &scale)) << bad;
  }
}

// A sink that refuses everything, as a full disk does.
class FullSink : public Sink {
 public:
  bool Write(std::string_view) override { return false; }
};

TEST(BlackboxExport, StopsAtARefusedLineOrAFailedWrite) {
  const std::string file = FileOf({
      {RecordKind::kCanLine, Can(1, 1, 0x123, false, "").SerializeAsString()},
      {RecordKind::kCanLine, Can(2, 2, 0x800, false, "").SerializeAsString()},
      {RecordKind::kCanLine, Can(3, 3, 0x124, false, "").SerializeAsString()},
  });
  ReaderOptions options;
  options.decode = false;
  {
    google::protobuf::io::ArrayInputStream input(file.data(), static_cast<int>(file.size()));
    Reader reader(&input, options);
    CandumpFormatter candump(CandumpOptions{});
    std::string text;
    StringSink sink(&text);
    Error error;
    EXPECT_FALSE(Export(&reader, &candump, &sink, &error));
    EXPECT_EQ(error.kind(), ErrorKind::kUnsupported);
    EXPECT_EQ(error.offset(), 9u);  // the second record
    EXPECT_EQ(error.message(),
              "CAN line's canId 0x800 does not fit a standard (11-bit) identifier");
    EXPECT_EQ(text, "(0000000000.001000) can0 123#\n");
  }
  {
    google::protobuf::io::ArrayInputStream input(file.data(), 9);  // the first line
    Reader reader(&input, options);
    CandumpFormatter candump(CandumpOptions{});
    FullSink sink;
    Error error;
    EXPECT_FALSE(Export(&reader, &candump, &sink, &error));
    EXPECT_EQ(error.kind(), ErrorKind::kIo);
  }
}

TEST(BlackboxStats, SequenceGapsRepeatsAndCanIds) {
  StatsCollector collector;
  for (std::uint32_t seq : {1u, 2u, 2u, 5u, 9u}) collector.Add(Logger(seq, 100 + seq, {1, 2}, {}));
  collector.Add(Logger(10, 50, {1, 2, 3, 4}, {7}));
  collector.Add(Can(3, 7, 0x123, false, "ab"));
  collector.Add(Can(4, 8, 0x7FF, false, ""));
  collector.Add(Can(70000, 9, 0x123, false, "abcdefgh"));  // another chunk of numbers
  collector.Add(Can(70000, 9, 0x123, true, "a"));
  const FileStats stats = collector.Finish();

  EXPECT_EQ(stats.logger_lines, 6u);
  EXPECT_EQ(stats.can_lines, 4u);
  using Gaps = std::vector<std::pair<std::uint32_t, std::uint32_t>>;
  // Logger numbers 1 2 2 5 9 10.
  EXPECT_EQ(stats.sequence_logger.numbers.min, 1u);
  EXPECT_EQ(stats.sequence_logger.numbers.max, 10u);
  EXPECT_EQ(stats.sequence_logger.distinct, 5u);
  EXPECT_EQ(stats.sequence_logger.missing, 5u);
  EXPECT_EQ(stats.sequence_logger.gaps, 2u);
  EXPECT_EQ(stats.sequence_logger.first_gaps, (Gaps{{3, 4}, {6, 8}}));
  EXPECT_EQ(stats.sequence_logger.repeated, 1u);
  // CAN numbers 3 4 70000 70000.
  EXPECT_EQ(stats.sequence_can.missing, 69995u);
  EXPECT_EQ(stats.sequence_can.first_gaps, (Gaps{{5, 69999}}));
  EXPECT_EQ(stats.sequence_can.repeated, 1u);
  // Together: 1..5 complete, 6..8 and 11..69999 missing.
  EXPECT_EQ(stats.sequence_all.lines, 10u);
  EXPECT_EQ(stats.sequence_all.distinct, 8u);
  EXPECT_EQ(stats.sequence_all.missing, 70000u - 8u);
  EXPECT_EQ(stats.sequence_all.first_gaps, (Gaps{{6, 8}, {11, 69999}}));
  EXPECT_EQ(stats.sequence_all.repeated, 2u);

  EXPECT_EQ(stats.time_logger.stamps.min, 50u);
  EXPECT_EQ(stats.time_logger.stamps.max, 109u);
  EXPECT_EQ(stats.inputs_per_line.min, 2u);
  EXPECT_EQ(stats.inputs_per_line.max, 4u);
  EXPECT_EQ(stats.outputs_per_line.min, 0u);
  EXPECT_EQ(stats.outputs_per_line.max, 1u);
  EXPECT_EQ(stats.can_data_bytes.min, 0u);
  EXPECT_EQ(stats.can_data_bytes.max, 8u);
  ASSERT_EQ(stats.can_ids.size(), 3u);
  EXPECT_EQ(stats.can_ids[0].id, 0x123u);
  EXPECT_FALSE(stats.can_ids[0].extended);
  EXPECT_EQ(stats.can_ids[0].lines, 2u);
  EXPECT_EQ(stats.can_ids[1].id, 0x7FFu);
  EXPECT_EQ(stats.can_ids[2].id, 0x123u);
  EXPECT_TRUE(stats.can_ids[2].extended);
  EXPECT_EQ(stats.can_ids_distinct, 3u);
}

TEST(BlackboxStats, ListsTheFirstGaps) {
  StatsCollector collector(CanIdField::kMessageId);
  for (std::uint32_t seq = 0; seq <= 20; seq += 2) collector.Add(Logger(seq, 0, {}, {}));
  const FileStats stats = collector.Finish();
  EXPECT_EQ(stats.sequence_logger.gaps, 10u);
  EXPECT_EQ(stats.sequence_logger.first_gaps.size(), StatsCollector::kMaxListedGaps);
}

}  // namespace
}  // namespace gcuproto::blackbox
