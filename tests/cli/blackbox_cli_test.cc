// gcuproto blackbox recover and cat through the installed tool: what they
// write, byte for byte, and what they report.
#include <gcuproto/blackbox.pb.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tool_run.h"

namespace {

namespace fs = std::filesystem;

using gcuproto_test::ReadFile;
using gcuproto_test::ToolRun;
using gcuproto_test::WriteFile;

class BlackboxCli : public ::testing::Test {
 protected:
  ToolRun run(const std::string& args, const std::string& stdout_target = "") {
    return gcuproto_test::run_tool(dir_, args, stdout_target);
  }

  // The files in the test's directory.
  std::string listing() const {
    std::string names;
    for (const auto& entry : fs::directory_iterator(dir_))
      names += entry.path().filename().string() + " ";
    return names;
  }

  gcuproto_test::ScratchDir scratch_{"gcuproto_blackbox_cli"};
  const fs::path dir_ = scratch_.path();
};

// Logger and CAN lines interleaved as a unit writes them, with the record
// boundaries.
std::string make_log(int lines, std::vector<std::size_t>* boundaries) {
  std::string file;
  for (int i = 0; i < lines; ++i) {
    BlackboxFile one;
    if (i % 3 == 2) {
      BlackboxCandumpFileLine* line = one.add_linecan();
      line->set_seqno(static_cast<std::uint32_t>(i + 1));
      line->set_canid(0x100u + static_cast<std::uint32_t>(i));
      line->set_data(std::string(static_cast<std::size_t>(i % 9), '\x5A'));
    } else {
      BlackboxFileLine* line = one.add_line();
      line->set_seqno(static_cast<std::uint32_t>(i + 1));
      line->set_timestamp(static_cast<std::uint32_t>(10 * i));
      for (int k = 0; k < i; ++k) line->add_datainput(k * 1000 - 3000);
    }
    file += one.SerializeAsString();
    boundaries->push_back(file.size());
  }
  return file;
}

TEST_F(BlackboxCli, RecoverKeepsTheCompletePrefixOfACutFile) {
  std::vector<std::size_t> boundaries;
  const std::string log = make_log(12, &boundaries);
  // Cuts inside the key's record header, inside a line, and on a boundary.
  for (const std::size_t cut :
       {boundaries[4] + 1, boundaries[7] + 5, boundaries[9] - 1, boundaries[10]}) {
    SCOPED_TRACE(cut);
    WriteFile(dir_ / "cut.bin", log.substr(0, cut));
    const ToolRun result = run("blackbox recover cut.bin -o out.bin");
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "");
    std::size_t kept = 0;
    int lines = 0;
    while (lines < static_cast<int>(boundaries.size()) &&
           boundaries[static_cast<std::size_t>(lines)] <= cut) {
      kept = boundaries[static_cast<std::size_t>(lines++)];
    }
    const std::string out = ReadFile(dir_ / "out.bin");
    EXPECT_EQ(out, log.substr(0, kept));
    BlackboxFile parsed;
    EXPECT_TRUE(parsed.ParseFromString(out));
    EXPECT_EQ(parsed.line_size() + parsed.linecan_size(), lines);
    const int can = lines / 3;
    std::string expected = "cut.bin: kept " + std::to_string(lines - can) + " logger and " +
                           std::to_string(can) + " CAN lines, " + std::to_string(kept) + " of " +
                           std::to_string(cut) + " bytes\n";
    if (kept == cut) {
      expected += "cut.bin: nothing dropped (" + std::to_string(lines) + " lines)\n";
    } else {
      expected += "cut.bin: dropped the last " + std::to_string(cut - kept) +
                  " bytes, damaged at byte " + std::to_string(kept) + ": ";
    }
    EXPECT_EQ(result.err.substr(0, expected.size()), expected);
  }
}

TEST_F(BlackboxCli, RecoverDropsALineThatDoesNotDecodeAndKeepsTheRest) {
  std::vector<std::size_t> boundaries;
  const std::string log = make_log(6, &boundaries);
  // A whole logger record whose seqNo varint runs off the line's end.
  const std::string bad("\x52\x02\x08\x80", 4);
  WriteFile(dir_ / "in.bin",
            log.substr(0, boundaries[2]) + bad + log.substr(boundaries[2]) + "\x52");
  const ToolRun result = run("blackbox recover in.bin -o out.bin");
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(ReadFile(dir_ / "out.bin"), log);
  const std::string size = std::to_string(log.size() + bad.size() + 1);
  EXPECT_EQ(result.err,
            "in.bin: kept 4 logger and 2 CAN lines, " + std::to_string(log.size()) + " of " + size +
                " bytes\n"
                "in.bin: dropped 1 line that does not decode (4 bytes), the first at byte " +
                std::to_string(boundaries[2]) +
                "\n"
                "in.bin: dropped the last 1 bytes, damaged at byte " +
                std::to_string(log.size() + bad.size()) +
                ": logger line cut short inside its length\n");
}

TEST_F(BlackboxCli, RecoverLeavesNoFileWhenItCannotWrite) {
  std::vector<std::size_t> boundaries;
  WriteFile(dir_ / "in.bin", make_log(3, &boundaries));
  const ToolRun result = run("blackbox recover in.bin -o in.bin/out.bin");
  EXPECT_EQ(result.status, 1);
  // Windows calls a path through a file missing, where POSIX says ENOTDIR.
#ifdef _WIN32
  EXPECT_EQ(result.err, "gcuproto: cannot write in.bin/out.bin: No such file or directory\n");
#else
  EXPECT_EQ(result.err, "gcuproto: cannot write in.bin/out.bin: Not a directory\n");
#endif
  EXPECT_EQ(listing(), "in.bin ");
  const ToolRun missing = run("blackbox recover missing.bin -o out.bin");
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err, "gcuproto: missing.bin: No such file or directory\n");
  EXPECT_EQ(listing(), "in.bin ");
}

TEST_F(BlackboxCli, CatJoinsFilesIntoOneThatReadsBack) {
  std::vector<std::size_t> boundaries;
  const std::string first = make_log(5, &boundaries);
  const std::string second = make_log(8, &boundaries);
  WriteFile(dir_ / "a.bin", first);
  WriteFile(dir_ / "b.bin", second);
  WriteFile(dir_ / "empty.bin", "");
  ToolRun result = run("blackbox cat a.bin empty.bin b.bin -o joined.bin");
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, "");
  const std::string joined = ReadFile(dir_ / "joined.bin");
  EXPECT_EQ(joined, first + second);
  BlackboxFile parsed;
  ASSERT_TRUE(parsed.ParseFromString(joined));
  EXPECT_EQ(parsed.line_size() + parsed.linecan_size(), 13);
  EXPECT_EQ(parsed.line(0).seqno(), 1u);
  EXPECT_EQ(parsed.line(3).seqno(), 5u);  // the first file's last logger line
  EXPECT_EQ(parsed.line(4).seqno(), 1u);  // the second file's first

  // An output that is one of the inputs is refused before anything is written.
  result = run("blackbox cat a.bin b.bin -o a.bin");
  EXPECT_EQ(result.status, 2) << result.err;
  EXPECT_EQ(ReadFile(dir_ / "a.bin"), first);
}

TEST_F(BlackboxCli, AFullDiskIsAnError) {
#ifdef _WIN32
  GTEST_SKIP() << "no /dev/full on Windows";
#endif
  if (!fs::is_character_file("/dev/full")) GTEST_SKIP() << "no /dev/full on this system";
  // The text of 4 lines fails at the last flush, that of 800 (over a
  // megabyte) while the lines are exported.
  for (const int lines : {4, 800}) {
    std::vector<std::size_t> boundaries;
    WriteFile(dir_ / "in.bin", make_log(lines, &boundaries));
    const ToolRun result = run("blackbox export in.bin --format jsonl -o -", "/dev/full");
    EXPECT_EQ(result.status, 1) << lines;
    EXPECT_EQ(result.err, "gcuproto: cannot write stdout: No space left on device\n") << lines;
  }
}

}  // namespace
