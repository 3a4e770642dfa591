#include "live_input.h"

#include <fmt/format.h>
#include <gcuproto/platform/wait.h>

#include "blackbox_files.h"
#include "errors.h"

namespace gcuproto::cli {

namespace {

constexpr int kBufferSize = 1 << 20;
// How often a followed regular file is looked at again.
constexpr std::chrono::milliseconds kFollowPoll{50};

}  // namespace

LiveInput::LiveInput(const std::string& path, std::function<void()> on_wait)
    : on_wait_(std::move(on_wait)), buffer_(new char[kBufferSize]) {
  if (path == "-") {
    file_ = platform::File::StandardInput();
  } else {
    std::error_code error;
    file_ = platform::File::Open(path, platform::File::Mode::kRead, &error);
    if (error) throw InputError(fmt::format("{}: {}", path, error.message()));
  }
  platform::FileInfo info;
  if (!file_.Info(&info)) {
    if (info.kind == platform::PathKind::kDirectory) {
      throw InputError(fmt::format("{}: is a directory", path));
    }
    regular_ = info.kind == platform::PathKind::kRegular;
  }
}

LiveInput::~LiveInput() = default;

bool LiveInput::Fill() {
  for (;;) {
    // Would the read wait? Then first hand on what is done.
    if (!regular_ && !platform::ReadableNow(file_)) {
      if (on_wait_) on_wait_();
      if (!platform::WaitReadable(file_)) {
        stopped_ = true;
        return false;
      }
    }
    std::error_code error;
    const std::size_t n = file_.Read(buffer_.get(), kBufferSize, &error);
    if (n > 0) {
      filled_ = static_cast<int>(n);
      read_ += static_cast<std::int64_t>(n);
      return true;
    }
    if (error == std::errc::resource_unavailable_try_again) {  // a non-blocking input handed to us
      if (on_wait_) on_wait_();
      if (!platform::WaitReadable(file_)) {
        stopped_ = true;
        return false;
      }
      continue;
    }
    if (error) {
      error_ = "read error: " + error.message();
      return false;
    }
    return false;  // the end, for now
  }
}

bool LiveInput::WaitForMore() {
  if (!regular_) return false;
  platform::FileInfo info;
  if (!file_.Info(&info) && info.size < static_cast<std::uint64_t>(read_)) {
    error_ = fmt::format("the file shrank to {} bytes while followed at byte {}", info.size, read_);
    return false;
  }
  if (on_wait_) on_wait_();
  if (!platform::Pause(kFollowPoll)) {
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

void ReadToEnd(const std::string& name, LiveInput& input, blackbox::Reader& reader, bool follow,
               const std::function<void()>& drain) {
  for (;;) {
    drain();
    if (!input.error().empty()) {
      throw InputError(
          fmt::format("{}: {} at byte {}", name, input.error(), reader.complete_bytes()));
    }
    if (reader.damage()) throw InputError(DamageMessage(name, *reader.damage()));
    if (!follow || input.stopped()) return;
    if (!input.WaitForMore()) {
      if (!input.error().empty()) throw InputError(fmt::format("{}: {}", name, input.error()));
      if (input.stopped()) return;
      // A pipe's end is final: a record it left unfinished is damage.
      if (reader.waiting()) {
        throw InputError(fmt::format("{}: damaged at byte {}: the input ended inside a record",
                                     name, reader.complete_bytes()));
      }
      return;
    }
    reader.Resume();
  }
}

}  // namespace gcuproto::cli
