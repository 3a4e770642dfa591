#include "live_input.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "blackbox_files.h"
#include "errors.h"

namespace gcuproto::cli {

namespace {

constexpr int kBufferSize = 1 << 20;
// How often a followed regular file is looked at again.
constexpr long kFollowPollNanoseconds = 50'000'000;

volatile std::sig_atomic_t stop_received = 0;
int stop_signals_active = 0;
sigset_t unblocked_mask;  // the mask to wait with: the two signals let through
struct sigaction old_int, old_term;

extern "C" void on_stop_signal(int) { stop_received = 1; }

}  // namespace

StopSignals::StopSignals() {
  if (stop_signals_active++ > 0) return;
  stop_received = 0;
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = on_stop_signal;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, &old_int);
  ::sigaction(SIGTERM, &action, &old_term);
  // Blocked except while waiting: a signal cannot slip in between the check
  // of the flag and the wait.
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  ::sigprocmask(SIG_BLOCK, &stop, &unblocked_mask);
  sigdelset(&unblocked_mask, SIGINT);
  sigdelset(&unblocked_mask, SIGTERM);
}

StopSignals::~StopSignals() {
  if (--stop_signals_active > 0) return;
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  ::sigprocmask(SIG_UNBLOCK, &stop, nullptr);
  ::sigaction(SIGINT, &old_int, nullptr);
  ::sigaction(SIGTERM, &old_term, nullptr);
}

bool StopSignals::received() { return stop_received != 0; }

LiveInput::LiveInput(const std::string& path, std::function<void()> on_wait)
    : on_wait_(std::move(on_wait)), buffer_(new char[kBufferSize]) {
  if (path == "-") {
    fd_ = STDIN_FILENO;
  } else {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) throw InputError(fmt::format("{}: {}", path, std::strerror(errno)));
    owns_fd_ = true;
  }
  struct stat info;
  if (::fstat(fd_, &info) == 0) {
    if (S_ISDIR(info.st_mode)) {
      if (owns_fd_) ::close(fd_);
      throw InputError(fmt::format("{}: is a directory", path));
    }
    regular_ = S_ISREG(info.st_mode);
  }
}

LiveInput::~LiveInput() {
  if (owns_fd_) ::close(fd_);
}

// Waits until the descriptor has data (for_data) or a while has passed, or
// a stop signal came; false for the signal.
bool LiveInput::Wait(bool for_data) {
  if (StopSignals::received()) return false;
  struct pollfd poll_fd = {fd_, POLLIN, 0};
  const struct timespec pause = {0, kFollowPollNanoseconds};
  const sigset_t* mask = stop_signals_active > 0 ? &unblocked_mask : nullptr;
  const int n = for_data ? ::ppoll(&poll_fd, 1, nullptr, mask) : ::ppoll(nullptr, 0, &pause, mask);
  (void)n;  // EINTR and timeouts alike: the caller looks again
  return !StopSignals::received();
}

bool LiveInput::Fill() {
  for (;;) {
    if (!regular_) {
      // Would the read wait? Then first hand on what is done.
      struct pollfd poll_fd = {fd_, POLLIN, 0};
      if (::poll(&poll_fd, 1, 0) == 0) {
        if (on_wait_) on_wait_();
        if (!Wait(true)) {
          stopped_ = true;
          return false;
        }
        continue;
      }
    }
    const ssize_t n = ::read(fd_, buffer_.get(), kBufferSize);
    if (n > 0) {
      filled_ = static_cast<int>(n);
      read_ += n;
      return true;
    }
    if (n < 0 && errno == EINTR) {
      if (StopSignals::received()) {
        stopped_ = true;
        return false;
      }
      continue;
    }
    if (n < 0) {
      if (errno == EAGAIN) {  // a non-blocking descriptor handed to us
        if (on_wait_) on_wait_();
        if (!Wait(true)) {
          stopped_ = true;
          return false;
        }
        continue;
      }
      error_ = std::string("read error: ") + std::strerror(errno);
      return false;
    }
    return false;  // the end, for now
  }
}

bool LiveInput::WaitForMore() {
  if (!regular_) return false;
  struct stat info;
  if (::fstat(fd_, &info) == 0 && info.st_size < read_) {
    error_ = fmt::format("the file shrank to {} bytes while followed at byte {}",
                         static_cast<std::int64_t>(info.st_size), read_);
    return false;
  }
  if (on_wait_) on_wait_();
  if (!Wait(false)) {
    stopped_ = true;
    return false;
  }
  return true;
}

bool LiveInput::Next(const void** data, int* size) {
  if (backed_up_ > 0) {
    *data = buffer_.get() + filled_ - backed_up_;
    *size = backed_up_;
    position_ += backed_up_;
    backed_up_ = 0;
    return true;
  }
  if (!Fill()) return false;
  *data = buffer_.get();
  *size = filled_;
  position_ += filled_;
  return true;
}

void LiveInput::BackUp(int count) {
  backed_up_ = count;
  position_ -= count;
}

bool LiveInput::Skip(int count) {
  const void* data;
  int size;
  while (count > 0) {
    if (!Next(&data, &size)) return false;
    if (size > count) {
      BackUp(size - count);
      return true;
    }
    count -= size;
  }
  return true;
}

void read_to_end(const std::string& name, LiveInput& input, blackbox::Reader& reader, bool follow,
                 const std::function<void()>& drain) {
  for (;;) {
    drain();
    if (!input.error().empty()) {
      throw InputError(fmt::format("{}: {} at byte {}", name, input.error(), reader.complete_bytes()));
    }
    if (reader.damaged()) throw InputError(damage_message(name, reader));
    if (!follow || input.stopped()) return;
    if (!input.WaitForMore()) {
      if (!input.error().empty()) throw InputError(fmt::format("{}: {}", name, input.error()));
      if (input.stopped()) return;
      // A pipe's end is final: a record it left unfinished is damage.
      if (reader.waiting()) {
        throw InputError(fmt::format("{}: damaged at byte {}: the input ended inside a record", name,
                                     reader.complete_bytes()));
      }
      return;
    }
    reader.resume();
  }
}

}  // namespace gcuproto::cli
