// Input read as it arrives: from a pipe or a file still being written, with
// a hook that runs whenever the next read would wait (so that the output so
// far can be handed on), and, for --follow, waiting at the end of a regular
// file for more, like tail -f, until SIGINT or SIGTERM.
#ifndef GCUPROTO_TOOLS_LIVE_INPUT_H
#define GCUPROTO_TOOLS_LIVE_INPUT_H

#include <google/protobuf/io/zero_copy_stream.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace gcuproto::cli {

// While one exists, SIGINT and SIGTERM do not end the process: they end the
// waiting of every LiveInput, which then reports the end of its input.
class StopSignals {
 public:
  StopSignals();
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;
  static bool received();
};

class LiveInput : public google::protobuf::io::ZeroCopyInputStream {
 public:
  struct Options {
    // At the end of a regular file, wait for it to grow.
    bool follow = false;
    // Runs before a read that would wait.
    std::function<void()> on_wait;
  };

  // Opens `path`, or standard input for "-"; throws InputError.
  LiveInput(const std::string& path, Options options);
  ~LiveInput() override;

  bool Next(const void** data, int* size) override;
  void BackUp(int count) override;
  bool Skip(int count) override;
  std::int64_t ByteCount() const override { return position_; }

  // Why the input ended early ("" when it did not): a read error, or a
  // followed file that shrank.
  const std::string& error() const { return error_; }
  // Following ended because of a signal.
  bool stopped() const { return stopped_; }

 private:
  bool Fill();
  bool Wait(bool for_data);

  int fd_ = -1;
  bool owns_fd_ = false;
  bool regular_ = false;
  Options options_;
  std::unique_ptr<char[]> buffer_;
  int filled_ = 0;
  int backed_up_ = 0;
  std::int64_t position_ = 0;  // bytes handed out
  std::int64_t read_ = 0;      // bytes read from the descriptor
  std::string error_;
  bool stopped_ = false;
};

}  // namespace gcuproto::cli

#endif  // GCUPROTO_TOOLS_LIVE_INPUT_H
