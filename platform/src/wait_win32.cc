#include <gcuproto/platform/wait.h>
#include <windows.h>

#include <algorithm>
#include <atomic>

#include "win32_util.h"

namespace gcuproto::platform {

namespace {

// How often a pipe is looked at again: Windows has no wait for an anonymous
// pipe's data, only PeekNamedPipe.
constexpr DWORD kPipeLookMilliseconds = 10;

std::atomic<bool> stop_received{false};
int active = 0;
// Set by the console's handler thread; the waits below wait on it.
HANDLE stop_event = nullptr;

BOOL WINAPI on_console_event(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
      stop_received = true;
      ::SetEvent(stop_event);
      return TRUE;
    default:
      return FALSE;
  }
}

// Waits up to `milliseconds` for a stop request; true when one came.
bool stop_within(DWORD milliseconds) {
  if (stop_received) return true;
  if (stop_event == nullptr) {
    ::Sleep(milliseconds);
    return false;
  }
  return ::WaitForSingleObject(stop_event, milliseconds) == WAIT_OBJECT_0 || stop_received;
}

}  // namespace

StopRequests::StopRequests() {
  if (active++ > 0) return;
  stop_received = false;
  if (stop_event == nullptr) stop_event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ::ResetEvent(stop_event);
  ::SetConsoleCtrlHandler(on_console_event, TRUE);
}

StopRequests::~StopRequests() {
  if (--active > 0) return;
  ::SetConsoleCtrlHandler(on_console_event, FALSE);
}

bool StopRequests::Received() { return stop_received; }

bool ReadableNow(const File& file) {
  const HANDLE handle = win32::HandleOf(file.descriptor());
  switch (::GetFileType(handle)) {
    case FILE_TYPE_PIPE: {
      DWORD available = 0;
      // A pipe whose writer is gone fails here, and a read returns its end.
      return !::PeekNamedPipe(handle, nullptr, 0, nullptr, &available, nullptr) || available > 0;
    }
    case FILE_TYPE_CHAR: {
      DWORD mode = 0;
      // A console is signalled while input events wait; NUL and the like
      // never make a read wait.
      return !::GetConsoleMode(handle, &mode) || ::WaitForSingleObject(handle, 0) == WAIT_OBJECT_0;
    }
    default:
      return true;
  }
}

bool WaitReadable(const File& file) {
  while (!ReadableNow(file)) {
    if (stop_within(kPipeLookMilliseconds)) return false;
  }
  return !stop_received;
}

bool Pause(std::chrono::milliseconds duration) {
  const auto milliseconds =
      std::clamp<std::chrono::milliseconds::rep>(duration.count(), 0, INFINITE - 1);
  return !stop_within(static_cast<DWORD>(milliseconds));
}

}  // namespace gcuproto::platform
