// Running the installed tool from gtest cases.
#ifndef GCUPROTO_TESTS_CLI_TOOL_RUN_H
#define GCUPROTO_TESTS_CLI_TOOL_RUN_H

#ifndef _WIN32
#include <sys/wait.h>
#endif

#include <cstdlib>
#include <filesystem>
#include <string>

#include "scratch_dir.h"

namespace gcuproto_test {

struct ToolRun {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs the installed tool with `args` (shell words) in `dir`. Its stdout goes
// to `stdout_target` (a path the shell resolves in `dir`) when one is given;
// otherwise both streams are captured in files beside `dir`, so that they do
// not show up among the files a case checks for. The shell is sh on POSIX and
// cmd on Windows: the words, a "<" and the quoting below mean the same to both.
inline ToolRun run_tool(const std::filesystem::path& dir, const std::string& args,
                        const std::string& stdout_target = "") {
  const std::filesystem::path out = dir.parent_path() / (dir.filename().string() + ".out");
  const std::filesystem::path err = dir.parent_path() / (dir.filename().string() + ".err");
  const std::string target = stdout_target.empty() ? out.string() : stdout_target;
#ifdef _WIN32
  // The tool's path made whole while the current drive is still the build's:
  // "cd /d" moves to the drive of the temporary directory.
  static const std::string tool = std::filesystem::absolute(GCUPROTO_CLI_TOOL).string();
  const std::string command = "cd /d \"" + dir.string() + "\" && \"" + tool + "\" " + args +
                              " >\"" + target + "\" 2>\"" + err.string() + "\"";
  // Under load wine now and then fails to start cmd (-1) or cmd fails to
  // start the program and says it cannot find it (9009); the tool returns
  // neither, so such a run is tried again.
  int status = std::system(command.c_str());
  for (int attempt = 1; (status == -1 || status == 9009) && attempt < 5; ++attempt) {
    status = std::system(command.c_str());
  }
#else
  const std::string command = "cd '" + dir.string() + "' && '" GCUPROTO_CLI_TOOL "' " + args +
                              " >'" + target + "' 2>'" + err.string() + "'";
  const int wait_status = std::system(command.c_str());
  const int status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
#endif
  ToolRun run;
  run.status = status;
  run.out = ReadFile(out);
  run.err = ReadFile(err);
  std::filesystem::remove(out);
  std::filesystem::remove(err);
  return run;
}

}  // namespace gcuproto_test

#endif  // GCUPROTO_TESTS_CLI_TOOL_RUN_H
