#include "stop_signal.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <thread>

namespace gcuproto::cli {

namespace {

std::atomic<bool> stop{false};

void note_stop_signal(int) { stop = true; }

}  // namespace

void catch_stop_signals() {
  std::signal(SIGINT, note_stop_signal);
  std::signal(SIGTERM, note_stop_signal);
}

bool stop_requested() { return stop; }

void wait_for_stop_signal() {
  while (!stop) std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

}  // namespace gcuproto::cli
