// The tool's runs with posix_spawn, a pipe and signals.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "tool_runner.h"

extern char** environ;

namespace gcuproto::link::testing {

struct Tool::Process {
  pid_t pid = -1;
  int out = -1;
};

Tool::Tool(std::vector<std::string> args) : process_(std::make_unique<Process>()) {
  args.insert(args.begin(), GCUPROTO_TOOL);
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  int out[2];
  EXPECT_EQ(pipe(out), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  EXPECT_EQ(posix_spawn(&process_->pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  process_->out = out[0];
}

Tool::~Tool() {
  if (process_->pid > 0) {
    kill(process_->pid, SIGKILL);
    waitpid(process_->pid, nullptr, 0);
  }
  close(process_->out);
}

std::string Tool::Line(double seconds) {
  std::string line;
  pollfd entry{process_->out, POLLIN, 0};
  char c;
  while (poll(&entry, 1, static_cast<int>(seconds * 1000)) > 0 && read(process_->out, &c, 1) == 1 &&
         c != '\n') {
    line += c;
  }
  return line;
}

std::string Tool::Rest(double seconds) {
  std::string rest;
  pollfd entry{process_->out, POLLIN, 0};
  char buffer[4096];
  ssize_t got;
  while (poll(&entry, 1, static_cast<int>(seconds * 1000)) > 0 &&
         (got = read(process_->out, buffer, sizeof buffer)) > 0) {
    rest.append(buffer, static_cast<std::size_t>(got));
  }
  return rest;
}

void Tool::Signal(int signal) { kill(process_->pid, signal); }

int Tool::Wait(double seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  int status = 0;
  while (waitpid(process_->pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  process_->pid = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace gcuproto::link::testing
