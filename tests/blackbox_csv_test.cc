// CSV that widens as it goes, the time column, and JSON lines from the
// encoding, against the exports that know everything beforehand.
#include <gcuproto/blackbox/exporter.h>
#include <google/protobuf/io/zero_copy_stream_impl_lite.h>
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "wire.h"

namespace gcuproto::blackbox {
namespace {

// Logger lines of random widths, now and then a wider one (or all of one
// width), and CAN lines.
std::string RandomFile(std::mt19937* random, bool ragged = true) {
  std::string file;
  for (int i = 0; i < 300; ++i) {
    if ((*random)() % 5 == 0) {
      BlackboxCandumpFileLine line;
      line.set_canid((*random)() % 0x800);
      file += gcuproto_test::Record(KeyOf(RecordKind::kCanLine), line.SerializeAsString());
      continue;
    }
    BlackboxFileLine line;
    line.set_seqno((*random)());
    line.set_timestamp((*random)());
    const std::uint32_t wide = (*random)() % 40 == 0 ? 30 : 6;
    for (std::uint32_t n = ragged ? (*random)() % wide : 5; n > 0; --n)
      line.add_datainput(static_cast<std::int32_t>((*random)()) >> ((*random)() % 32));
    for (std::uint32_t n = ragged ? (*random)() % (wide / 2) : 2; n > 0; --n)
      line.add_dataoutput(static_cast<std::int32_t>((*random)() % 100) - 50);
    file += gcuproto_test::Record(KeyOf(RecordKind::kLoggerLine), line.SerializeAsString());
  }
  return file;
}

std::string ExportFile(const std::string& file, LineFormatter* formatter, const char* source) {
  std::string text;
  StringSink sink(&text);
  Exporter exporter(formatter, &sink);
  exporter.Begin();
  // Two inputs, the second the same bytes under another name.
  for (int copy = 0; copy < 2; ++copy) {
    google::protobuf::io::ArrayInputStream input(file.data(), static_cast<int>(file.size()), 5000);
    ReaderOptions options;
    options.decode = false;
    Reader reader(&input, options);
    EXPECT_TRUE(formatter->SetSource(std::string(source) + std::to_string(copy), nullptr));
    Error error;
    EXPECT_TRUE(exporter.Run(&reader, &error)) << error.message();
  }
  EXPECT_TRUE(exporter.Flush(nullptr));
  return text;
}

TEST(BlackboxCsvWidening, RowsPutRightEqualTheExportWithKnownWidths) {
  std::mt19937 random(99);
  for (int round = 0; round < 40; ++round) {
    const std::string file = RandomFile(&random, round % 5 != 0);
    google::protobuf::io::ArrayInputStream scan_input(file.data(), static_cast<int>(file.size()));
    Reader scan(&scan_input);
    const CsvColumns columns = ScanCsvColumns(&scan);
    CsvOptions options;
    options.time = round % 2 == 0;
    options.source = round % 3 != 0;
    const char* source = round % 4 == 0 ? "unit, \"7\"" : "unit";
    CsvFormatter fixed(columns, options);
    const std::string expected = ExportFile(file, &fixed, source);

    options.grow = true;
    // Without a header until the end, or under the first line's header.
    options.header_first = round % 5 < 2;
    CsvFormatter growing({}, options);
    const std::string rows = ExportFile(file, &growing, source);
    EXPECT_EQ(growing.columns().inputs, columns.inputs);
    EXPECT_EQ(growing.columns().outputs, columns.outputs);
    if (options.header_first && !growing.widened()) {
      ASSERT_EQ(rows, expected) << "round " << round;
      continue;
    }
    std::string text;
    StringSink sink(&text);
    TextBuffer out(&sink);
    growing.WriteHeader(&out);
    CsvWidener widener(growing);
    // In pieces that cut rows anywhere.
    for (std::size_t at = options.header_first ? growing.rows_start() : 0; at < rows.size();) {
      const std::size_t size = std::min<std::size_t>(1 + random() % 200, rows.size() - at);
      widener.Feed(std::string_view(rows).substr(at, size), &out);
      at += size;
    }
    out.Flush();
    ASSERT_EQ(text, expected) << "round " << round << ", widenings " << growing.widenings().size();
  }
}

TEST(BlackboxCsvWidening, TimeColumnIsExactInSeconds) {
  struct Case {
    const char* scale;
    std::uint32_t ticks;
    const char* text;
  };
  const std::vector<Case> cases = {
      {"0.001", 1234, "1.234"},
      {"0.001", 5, "0.005"},
      {"0.001", 0, "0.000"},
      {"1", 77, "77"},
      {"2.5e-4", 3, "0.00075"},
      {"10", 3, "30"},
      {"1e3", 0, "0"},
      {"0.5", 3, "1.5"},
      {"0.001", 4294967295u, "4294967.295"},
      {"1e-9", 4294967295u, "4.294967295"},
      {"123456789.123456789", 4294967295u, "530242871630958626.100715755"},
  };
  for (const Case& c : cases) {
    CsvOptions options;
    options.time = true;
    ASSERT_TRUE(TimeScale::Parse(c.scale, &options.time_scale));
    CsvFormatter csv({0, 0}, options);
    BlackboxFileLine line;
    line.set_timestamp(c.ticks);
    std::string text;
    StringSink sink(&text);
    TextBuffer out(&sink);
    ASSERT_TRUE(csv.AppendRow(line, &out, nullptr));
    out.Flush();
    EXPECT_EQ(text, "0," + std::to_string(c.ticks) + "," + c.text + "\n") << c.scale;
  }
}

TEST(BlackboxJsonLinesFast, EncodingPathEqualsDecodedPath) {
  std::mt19937 random(5);
  const std::string file = RandomFile(&random);
  JsonLinesFormatter json;
  const std::string text = ExportFile(file, &json, "a\"b\\c\x01");
  // The same lines through the decoded path.
  std::string expected;
  StringSink sink(&expected);
  TextBuffer out(&sink);
  JsonLinesFormatter decoded;
  for (int copy = 0; copy < 2; ++copy) {
    ASSERT_TRUE(decoded.SetSource("a\"b\\c\x01" + std::to_string(copy), nullptr));
    google::protobuf::io::ArrayInputStream input(file.data(), static_cast<int>(file.size()));
    Reader reader(&input);
    while (reader.Next()) {
      if (reader.kind() == RecordKind::kLoggerLine)
        decoded.AppendLine(reader.logger_line(), &out);
      else
        decoded.AppendLine(reader.can_line(), &out);
    }
  }
  out.Flush();
  EXPECT_EQ(text, expected);
  EXPECT_EQ(text.rfind(R"({"source":"a\"b\\c\u00010","kind":)", 0), 0u);
}

}  // namespace
}  // namespace gcuproto::blackbox
