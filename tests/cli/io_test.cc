// What the tool does to the paths it writes and reads: regular files replaced
// whole with their mode and links kept, symbolic links followed, special
// files written directly, an output over an input refused, inputs that can be
// read once only, and inputs larger than a message can be.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstdlib>
#include <regex>
#include <string>

#include "tool_run.h"

namespace {

struct Case {
  const char* name;
  const char* setup;  // shell, in the case's folder holding the samples
  const char* args;   // the tool's arguments, shell words
  int status;
  const char* stderr_pattern;  // regex the error matches; "" for no error
  const char* check;           // shell that exits 0 when the files are as they must be
};

const Case kCases[] = {
    // Outputs.
    {"private_file_keeps_mode", "echo old >out && chmod 600 out",
     "decode Command command.bin -o out", 0, "",
     "test $(stat -c %a out) = 600 && cmp out command.txt"},
    {"symlink_target_replaced", "echo old >target && ln -s target link",
     "decode Command command.bin -o link", 0, "", "test -L link && cmp target command.txt"},
    {"hard_links_kept", "echo old >a && ln a b", "decode Command command.bin -o a", 0, "",
     "test $(stat -c %h a) = 2 && cmp b command.txt"},
    {"fifo_written_directly", "mkfifo p && (timeout 10 cat p >got &)",
     "decode Command command.bin -o p", 0, "",
     "test -p p && for i in 1 2 3 4 5 6 7 8 9 10; do cmp -s got command.txt && exit 0; sleep 0.2; "
     "done; exit 1"},
    {"device_written_directly", "mknod null c 1 3 || exit 77", "decode Command command.bin -o null",
     0, "", "test -c null"},
    {"full_device_fails", "", "encode Command command.txt -o /dev/full", 1,
     "^gcuproto: cannot write /dev/full: No space left on device\n$", "true"},
    {"failed_run_keeps_old_file", "echo old >out", "decode Command command.txt -o out", 1,
     "does not parse", "test \"$(cat out)\" = old && ! ls | grep -q '^out.'"},
    // An output that is an input.
    {"decode_over_input", "cp command.bin in", "decode Command in -o in", 2,
     "^gcuproto: the output in is the input in: .*-o in.txt\n$", "cmp in command.bin"},
    {"decode_over_stdin", "cp command.bin in", "decode Command -o in <in", 2, "is the input stdin",
     "cmp in command.bin"},
    {"export_over_linked_input", "ln -s blackbox.bin link",
     "blackbox export link --format jsonl -o blackbox.bin", 2,
     "the output blackbox.bin is the input link", "cmp blackbox.bin ../blackbox.bin"},
    {"recover_over_input", "", "blackbox recover blackbox.bin -o blackbox.bin", 2,
     "recover blackbox.bin -o blackbox.bin.recovered\n$", "cmp blackbox.bin ../blackbox.bin"},
    {"cat_over_input", "cp blackbox.bin b", "blackbox cat blackbox.bin b -o b", 2, "is the input b",
     "cmp b blackbox.bin"},
    {"hard_link_over_input", "ln blackbox.bin other", "blackbox recover blackbox.bin -o other", 2,
     "the output other is the input blackbox.bin", "cmp other ../blackbox.bin"},
    // Inputs read once.
    {"info_from_fifo", "mkfifo p && (timeout 10 sh -c 'cat blackbox.bin >p' &)", "blackbox info p",
     0, "", "true"},
    {"recover_from_fifo_refused", "mkfifo p", "blackbox recover p -o out", 2,
     "^gcuproto: p is a FIFO, which can be read only once, and recover reads its input twice",
     "test ! -e out"},
    {"recover_from_stdin_refused", "", "blackbox recover - -o out <blackbox.bin", 2, "give a file",
     "test ! -e out"},
    // Sizes: sparse files take no room on disk.
    {"sparse_3gib_decode", "truncate -s 3G big", "decode Command big", 1,
     "^gcuproto: big is 3221225472 bytes, more than the 2 GiB a message can have\n$", "true"},
    {"sparse_3gib_encode", "truncate -s 3G big", "encode Command big --out hex", 1,
     "more than the 2 GiB", "true"},
    {"sparse_3gib_firmware", "truncate -s 3G big", "firmware big", 1, "more than the 2 GiB",
     "true"},
    {"max_size_file", "truncate -s 2K big", "decode Command big --max-size 1K", 1,
     "^gcuproto: big is 2048 bytes, more than --max-size \\(1024 bytes\\); raise --max-size",
     "true"},
    {"max_size_pipe", "", "decode Command --max-size 1M </dev/zero", 1,
     "^gcuproto: stdin holds more than --max-size \\(1048576 bytes\\)", "true"},
    {"max_size_device", "", "firmware /dev/zero --max-size 64K", 1,
     "^gcuproto: /dev/zero holds more than", "true"},
    {"large_blackbox_message", "truncate -s 100M big", "decode BlackboxFile big", 1,
     "^gcuproto: big is 104857600 bytes, more than the 64 MiB decode reads as one BlackboxFile. a "
     "blackbox log this "
     "large is read record by record by 'gcuproto blackbox info'",
     "true"},
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

class ToolPaths : public ::testing::TestWithParam<Case> {};

#ifndef _WIN32
int shell(const std::string& dir, const std::string& script) {
  const std::string command = "cd '" + dir + "' && (" + script + ")";
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
#endif

TEST_P(ToolPaths, Run) {
  const Case& c = GetParam();
#ifdef _WIN32
  (void)c;
  GTEST_SKIP()
      << "the cases set up and check their files with a POSIX shell (sh, ln, mkfifo, stat, "
         "truncate, /dev/zero)";
#else
  std::string root = ::testing::TempDir() + "gcuproto_io_XXXXXX";
  ASSERT_NE(::mkdtemp(root.data()), nullptr);
  const std::string dir = root + "/run";
  ASSERT_EQ(shell(root, "mkdir run && cp '" GCUPROTO_SAMPLES "'/* run/ && cp '" GCUPROTO_SAMPLES
                        "'/blackbox.bin ."),
            0);
  const int setup = shell(dir, c.setup[0] != '\0' ? c.setup : "true");
  if (setup == 77) GTEST_SKIP() << "setup not possible here (mknod needs root)";
  ASSERT_EQ(setup, 0) << c.setup;
  const gcuproto_test::ToolRun run = gcuproto_test::run_tool(dir, c.args);
  EXPECT_EQ(run.status, c.status) << run.err;
  if (c.stderr_pattern[0] == '\0') {
    EXPECT_EQ(run.err, "");
  } else {
    EXPECT_TRUE(std::regex_search(run.err, std::regex(c.stderr_pattern))) << run.err;
  }
  EXPECT_EQ(shell(dir, c.check), 0) << c.check;
  shell(root, "cd / && rm -rf '" + root + "'");
#endif
}

INSTANTIATE_TEST_SUITE_P(Cases, ToolPaths, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
