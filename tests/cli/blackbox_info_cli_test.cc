// gcuproto blackbox info through the installed tool: the figures of generated
// files, and --json parsed and compared with the text of the same run.
#include <gcuproto/blackbox.pb.h>
#include <google/protobuf/struct.pb.h>
#include <google/protobuf/util/json_util.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>

#include "tool_run.h"

namespace {

namespace fs = std::filesystem;
using google::protobuf::Struct;
using google::protobuf::Value;

// 3000 logger lines every 10 ticks with a 5-minute hole after line 1000,
// the clock set back 20 s at line 2000, seqNo 1500 missing, 1600 twice; two
// CAN lines after each: 0x7E8 or an extended id, and another extended id.
std::string make_log() {
  std::string file;
  std::uint32_t time = 0;
  for (std::uint32_t i = 1; i <= 3000; ++i) {
    BlackboxFile one;
    time += i == 1001 ? 300000 : 10;
    if (i == 2000) time -= 20000;
    if (i != 1500) {
      BlackboxFileLine* line = one.add_line();
      line->set_seqno(i == 1601 ? 1600 : i);
      line->set_timestamp(time);
      for (int k = 0; k < 4; ++k) line->add_datainput(k);
    }
    for (std::uint32_t k = 0; k < 2; ++k) {
      BlackboxCandumpFileLine* can = one.add_linecan();
      can->set_seqno(100000 + 2 * i + k);
      can->set_timestamp(time);
      const bool standard = k == 0 && i % 3 == 0;
      can->set_canid(standard ? 0x7E8 : (k == 0 ? 0x18000000 : 0x19000000) + i);
      can->set_extended(!standard);
    }
    file += one.SerializeAsString();
  }
  return file;
}

class BlackboxInfoCli : public ::testing::Test {
 protected:
  gcuproto_test::ToolRun run(const std::string& args) {
    return gcuproto_test::run_tool(dir_, args);
  }

  gcuproto_test::ScratchDir scratch_{"gcuproto_info_cli"};
  const fs::path dir_ = scratch_.path();
};

Struct parse(const std::string& json) {
  Struct parsed;
  const auto status = google::protobuf::util::JsonStringToMessage(json, &parsed);
  EXPECT_TRUE(status.ok()) << status.ToString() << "\n" << json.substr(0, 300);
  return parsed;
}

const Value& at(const Struct& object, const std::string& path) {
  const Struct* current = &object;
  const Value* value = nullptr;
  std::size_t start = 0;
  for (;;) {
    const std::size_t dot = path.find('.', start);
    const std::string key = path.substr(start, dot - start);
    const auto found = current->fields().find(key);
    if (found == current->fields().end()) {
      ADD_FAILURE() << "no " << path;
      return Value::default_instance();
    }
    value = &found->second;
    if (dot == std::string::npos) return *value;
    current = &value->struct_value();
    start = dot + 1;
  }
}

double number(const Struct& object, const std::string& path) {
  return at(object, path).number_value();
}

// The first number after `label` in the text.
double text_number(const std::string& text, const std::string& label) {
  std::smatch match;
  const std::regex pattern(label + "[^0-9]*([0-9.]+)");
  if (!std::regex_search(text, match, pattern)) {
    ADD_FAILURE() << "no " << label;
    return -1;
  }
  return std::stod(match[1]);
}

TEST_F(BlackboxInfoCli, FiguresOfAGeneratedFileAgreeInTextAndJson) {
  gcuproto_test::WriteFile(dir_ / "a.bin", make_log());
  gcuproto_test::WriteFile(dir_ / "b.bin", make_log());
  const auto text = run("blackbox info a.bin b.bin");
  const auto json_run = run("blackbox info --json a.bin b.bin");
  ASSERT_EQ(text.status, 0) << text.err;
  ASSERT_EQ(json_run.status, 0) << json_run.err;
  const Struct report = parse(json_run.out);
  ASSERT_EQ(at(report, "files").list_value().values_size(), 2);
  const Struct& file = at(report, "files").list_value().values(0).struct_value();

  struct Figure {
    const char* json;
    const char* text;  // the label the number follows in the text
    double value;
  };
  const Figure figures[] = {
      {"logger_lines", "logger lines:", 2999},
      {"can_lines", "\nCAN lines:", 6000},
      {"sequence.logger.distinct", "  logger lines: +1\\.\\.3000, ", 2998},
      {"sequence.logger.missing", "2998 distinct. ", 2},  // 1500 and 1601
      {"sequence.logger.repeated", "missing in 2 gaps: 1500, 1601. ", 1},
      {"time.logger.seconds", "time stamps:[^\n]*\n  logger lines: +[0-9]+\\.\\.[0-9]+, ", 319.97},
      {"time.logger.backwards", "logger lines, backwards: +", 1},
      {"can_ids.distinct", "\nCAN ids: +", 5001},
      {"input_samples", "input samples per line: +4 \\(", 11996},
  };
  for (const Figure& figure : figures) {
    SCOPED_TRACE(figure.json);
    EXPECT_NEAR(number(file, figure.json), figure.value, 1e-9);
    EXPECT_NEAR(text_number(text.out, figure.text), figure.value, 1e-9);
  }
  // The hole is the largest step, at the line after it.
  const Struct& gap = at(file, "time.logger.largest_steps").list_value().values(0).struct_value();
  EXPECT_EQ(number(gap, "from"), 10000);
  EXPECT_EQ(number(gap, "to"), 310000);
  EXPECT_EQ(number(gap, "seqNo"), 1001);
  EXPECT_NE(text.out.find("10000 -> 310000 (300.000 s) at byte " +
                          std::to_string(int(number(gap, "offset"))) + " (seqNo 1001)"),
            std::string::npos);
  // 0x7E8 on every third line: 1000 lines over the CAN lines' span.
  const Struct& id = at(file, "can_ids.ids").list_value().values(0).struct_value();
  EXPECT_EQ(at(id, "hex").string_value(), "7E8");
  EXPECT_EQ(number(id, "lines"), 1000);
  EXPECT_NEAR(number(id, "per_second"), 1000 / 319.97, 1e-9);
  EXPECT_TRUE(std::regex_search(text.out, std::regex("\n +7E8 +standard +1000 +3\\.1\n")))
      << text.out;
  // The total: the same ids in both files.
  EXPECT_EQ(number(report, "total.files"), 2);
  EXPECT_EQ(number(report, "total.logger_lines"), 2 * 2999);
  EXPECT_EQ(number(report, "total.can_ids.distinct"), 5001);
  EXPECT_EQ(text_number(text.out, "\ntotal: +"), 2);
  EXPECT_EQ(text_number(text.out, "total:[^\n]*\nlogger lines: +"), 2 * 2999);
}

// A record cut short: summarised up to it, the bytes after the last complete
// record counted from a file and from a pipe alike, status 1.
TEST_F(BlackboxInfoCli, CutFileFromAFileAndFromStdin) {
  const std::string log = make_log();
  gcuproto_test::WriteFile(dir_ / "cut.bin", log.substr(0, log.size() - 13));
  for (const char* args : {"blackbox info --json cut.bin", "blackbox info --json - < cut.bin"}) {
    SCOPED_TRACE(args);
    const auto result = run(args);
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("damaged at byte"), std::string::npos);
    const Struct report = parse(result.out);
    const Struct& file = at(report, "files").list_value().values(0).struct_value();
    EXPECT_EQ(number(file, "bytes"), log.size() - 13);
    ASSERT_EQ(at(file, "damage").list_value().values_size(), 1);
    const Struct& damage = at(file, "damage").list_value().values(0).struct_value();
    EXPECT_TRUE(at(damage, "tail").bool_value());
    EXPECT_EQ(number(damage, "offset") + number(damage, "length"), log.size() - 13);
    EXPECT_GT(number(damage, "length"), 0);
    EXPECT_EQ(number(file, "complete_bytes"), number(damage, "offset"));
  }
}

}  // namespace
