// Input read as it arrives: from a pipe or a file still being written, with
// a hook that runs whenever the next read would wait, so that the output so
// far can be handed on. For --follow, a reader in follow mode stops at the
// end of the file and WaitForMore() waits, like tail -f, until the file
// grows or a stop request comes (platform::StopRequests, which the caller
// holds); then the reader resumes.
#ifndef GCUPROTO_TOOLS_LIVE_INPUT_H
#define GCUPROTO_TOOLS_LIVE_INPUT_H

#include <gcuproto/platform/file.h>
#include <google/protobuf/io/zero_copy_stream.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace gcuproto::blackbox {
class Reader;
}  // namespace gcuproto::blackbox

namespace gcuproto::cli {

class LiveInput : public google::protobuf::io::ZeroCopyInputStream {
 public:
  // Opens `path`, or standard input for "-"; throws InputError.
  // `on_wait`, if set, runs before a read that would wait.
  LiveInput(const std::string& path, std::function<void()> on_wait);
  ~LiveInput() override;

  bool Next(const void** data, int* size) override;
  void BackUp(int count) override;
  bool Skip(int count) override;
  std::int64_t ByteCount() const override { return position_; }

  // At the end of the input: whether more can come (a regular file can
  // grow; a pipe's end is final). Waits a moment for it; false when a stop
  // signal came, the input cannot grow, or the file shrank (error()).
  bool WaitForMore();

  // Why the input ended early ("" when it did not): a read error, or a
  // followed file that shrank.
  const std::string& error() const { return error_; }
  // Reading ended because of a stop signal.
  bool stopped() const { return stopped_; }

 private:
  bool Fill();

  platform::File file_;
  bool regular_ = false;
  std::function<void()> on_wait_;
  std::unique_ptr<char[]> buffer_;
  int filled_ = 0;
  int backed_up_ = 0;
  std::int64_t position_ = 0;  // bytes handed out
  std::int64_t read_ = 0;      // bytes read from the descriptor
  std::string error_;
  bool stopped_ = false;
};

// Reads `input` through `reader` (made on it) to the end: `drain` reads the
// reader until Next() is false. Following (the reader in follow mode), it
// then waits for more and resumes, until a stop signal; the output ends with
// the last complete record. Throws InputError naming `name` for damage, a
// read error, or a pipe that ends inside a record.
void ReadToEnd(const std::string& name, LiveInput& input, blackbox::Reader& reader, bool follow,
               const std::function<void()>& drain);

}  // namespace gcuproto::cli

#endif  // GCUPROTO_TOOLS_LIVE_INPUT_H
