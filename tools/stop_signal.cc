#include "stop_signal.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <thread>

namespace gcuproto::cli {

namespace {

std::atomic<bool> stop{false};

void NoteStopSignal(int) { stop = true; }

}  // namespace

void CatchStopSignals() {
  std::signal(SIGINT, NoteStopSignal);
  std::signal(SIGTERM, NoteStopSignal);
#ifdef SIGBREAK
  // A Windows console delivers Ctrl-Break as SIGBREAK, and it is the one
  // event another program can send to a single process group there.
  std::signal(SIGBREAK, NoteStopSignal);
#endif
}

bool StopRequested() { return stop; }

void WaitForStopSignal() {
  while (!stop) std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

}  // namespace gcuproto::cli
