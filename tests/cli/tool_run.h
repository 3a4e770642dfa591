// Running the installed tool from gtest cases.
#ifndef GCUPROTO_TESTS_CLI_TOOL_RUN_H
#define GCUPROTO_TESTS_CLI_TOOL_RUN_H

#include <sys/wait.h>

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
// not show up among the files a case checks for.
inline ToolRun run_tool(const std::filesystem::path& dir, const std::string& args,
                        const std::string& stdout_target = "") {
  const std::filesystem::path out = dir.parent_path() / (dir.filename().string() + ".out");
  const std::filesystem::path err = dir.parent_path() / (dir.filename().string() + ".err");
  const std::string command = "cd '" + dir.string() + "' && '" GCUPROTO_CLI_TOOL "' " + args +
                              " >'" + (stdout_target.empty() ? out.string() : stdout_target) +
                              "' 2>'" + err.string() + "'";
  const int status = std::system(command.c_str());
  ToolRun run;
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.out = ReadFile(out);
  run.err = ReadFile(err);
  std::filesystem::remove(out);
  std::filesystem::remove(err);
  return run;
}

}  // namespace gcuproto_test

#endif  // GCUPROTO_TESTS_CLI_TOOL_RUN_H
