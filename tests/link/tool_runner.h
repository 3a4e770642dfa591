// A run of the tool with its stdout on a pipe, for the tool's tests; killed
// if it outlives the test. tool_runner_posix.cc and tool_runner_win32.cc
// start and stop it as each system does.
#ifndef GCUPROTO_TESTS_LINK_TOOL_RUNNER_H
#define GCUPROTO_TESTS_LINK_TOOL_RUNNER_H

#include <memory>
#include <string>
#include <vector>

namespace gcuproto::link::testing {

class Tool {
 public:
  explicit Tool(std::vector<std::string> args);  // UTF-8
  ~Tool();
  Tool(const Tool&) = delete;
  Tool& operator=(const Tool&) = delete;

  // A line of stdout, waiting at most `seconds` for each byte.
  std::string Line(double seconds);
  // The rest of stdout up to its end, or up to `seconds` without a byte.
  std::string Rest(double seconds);
  // Asks the tool to stop: the signal on POSIX; on Windows, where a process
  // takes no signals from outside, Ctrl-Break in its console (Ctrl-C under
  // wine, which sends no other console event) whatever the signal.
  void Signal(int signal);
  // The exit status, or -1 when it does not end within `seconds`.
  int Wait(double seconds);

 private:
  struct Process;
  std::unique_ptr<Process> process_;
};

}  // namespace gcuproto::link::testing

#endif  // GCUPROTO_TESTS_LINK_TOOL_RUNNER_H
