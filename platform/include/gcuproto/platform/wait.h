// Waiting on an input that is still being written, and the requests to stop
// that end such a wait: SIGINT and SIGTERM on POSIX; Ctrl-C, Ctrl-Break and
// the closing of the console on Windows.
#ifndef GCUPROTO_PLATFORM_WAIT_H
#define GCUPROTO_PLATFORM_WAIT_H

#include <gcuproto/platform/file.h>

#include <chrono>

namespace gcuproto::platform {

// While one exists, a request to stop does not end the process: it is noted,
// and every wait below ends at once. They nest; the last one gone restores
// what was there before the first.
class StopRequests {
 public:
  StopRequests();
  ~StopRequests();
  StopRequests(const StopRequests&) = delete;
  StopRequests& operator=(const StopRequests&) = delete;
  static bool Received();
};

// Whether a read of `file` returns at once, with bytes or at the end.
bool ReadableNow(const File& file);
// Waits until ReadableNow(file); false when a stop request came first.
bool WaitReadable(const File& file);
// Waits `duration`; false when a stop request ended the wait.
bool Pause(std::chrono::milliseconds duration);

}  // namespace gcuproto::platform

#endif  // GCUPROTO_PLATFORM_WAIT_H
