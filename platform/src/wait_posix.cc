#include <gcuproto/platform/wait.h>
#include <poll.h>
#include <signal.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>

namespace gcuproto::platform {

namespace {

volatile std::sig_atomic_t stop_received = 0;
int active = 0;
sigset_t unblocked_mask;  // the mask to wait with: the two signals let through
struct sigaction old_int, old_term;

extern "C" void on_stop_request(int) { stop_received = 1; }

sigset_t stop_set() {
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  return stop;
}

// One wait, with the stop signals let through only for its length.
void wait(pollfd* entry, const timespec* timeout) {
  const sigset_t* mask = active > 0 ? &unblocked_mask : nullptr;
  ::ppoll(entry, entry != nullptr ? 1 : 0, timeout, mask);  // EINTR and timeouts alike: look again
}

}  // namespace

StopRequests::StopRequests() {
  if (active++ > 0) return;
  stop_received = 0;
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = on_stop_request;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, &old_int);
  ::sigaction(SIGTERM, &action, &old_term);
  // Blocked except while waiting: a signal cannot slip in between the check
  // of the flag and the wait.
  const sigset_t stop = stop_set();
  ::sigprocmask(SIG_BLOCK, &stop, &unblocked_mask);
  sigdelset(&unblocked_mask, SIGINT);
  sigdelset(&unblocked_mask, SIGTERM);
}

StopRequests::~StopRequests() {
  if (--active > 0) return;
  const sigset_t stop = stop_set();
  ::sigprocmask(SIG_UNBLOCK, &stop, nullptr);
  ::sigaction(SIGINT, &old_int, nullptr);
  ::sigaction(SIGTERM, &old_term, nullptr);
}

bool StopRequests::Received() { return stop_received != 0; }

bool ReadableNow(const File& file) {
  pollfd entry = {file.descriptor(), POLLIN, 0};
  return ::poll(&entry, 1, 0) != 0;
}

bool WaitReadable(const File& file) {
  while (!StopRequests::Received()) {
    pollfd entry = {file.descriptor(), POLLIN, 0};
    wait(&entry, nullptr);
    if (ReadableNow(file)) return !StopRequests::Received();
  }
  return false;
}

bool Pause(std::chrono::milliseconds duration) {
  if (StopRequests::Received()) return false;
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(duration);
  const timespec timeout = {static_cast<std::time_t>(seconds.count()),
                            static_cast<long>((duration - seconds).count()) * 1'000'000L};
  wait(nullptr, &timeout);
  return !StopRequests::Received();
}

}  // namespace gcuproto::platform
