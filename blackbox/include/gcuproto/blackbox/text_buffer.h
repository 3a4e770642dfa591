// The block of text that formatters write into and a Sink receives.
#ifndef GCUPROTO_BLACKBOX_TEXT_BUFFER_H
#define GCUPROTO_BLACKBOX_TEXT_BUFFER_H

#include <gcuproto/blackbox/export.h>
#include <gcuproto/blackbox/sink.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace gcuproto {
namespace blackbox {

// Collects text and hands it to a sink in large blocks. Formatters reserve
// room for the longest text a line can give, write into it and advance, so
// no byte is copied or cleared twice.
class GCUPROTO_BLACKBOX_EXPORT TextBuffer {
 public:
  explicit TextBuffer(Sink* sink, std::size_t block_size = std::size_t{1} << 20);
  ~TextBuffer();
  TextBuffer(const TextBuffer&) = delete;
  TextBuffer& operator=(const TextBuffer&) = delete;

  // Room for `size` more bytes; write at most that many, then Advance().
  char* Reserve(std::size_t size) {
    if (capacity_ - used_ < size) MakeRoom(size);
    return data_.get() + used_;
  }
  void Advance(const char* end) { used_ = static_cast<std::size_t>(end - data_.get()); }
  void Append(std::string_view text);
  // Bytes collected since construction, handed over or not.
  std::uint64_t position() const { return handed_ + used_; }

  // Hands what is collected to the sink. Once a write fails, everything after
  // it is dropped and failed() stays true.
  bool Flush();
  bool failed() const { return failed_; }

 private:
  void MakeRoom(std::size_t size);

  Sink* sink_;
  std::unique_ptr<char[]> data_;
  std::size_t capacity_;
  std::size_t block_size_;
  std::size_t used_ = 0;
  std::uint64_t handed_ = 0;
  bool failed_ = false;
};

}  // namespace blackbox
}  // namespace gcuproto

#endif  // GCUPROTO_BLACKBOX_TEXT_BUFFER_H
