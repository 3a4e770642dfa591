#include <gcuproto/blackbox/exporter.h>
#include <gcuproto/blackbox/line_formatter.h>
#include <gcuproto/blackbox/sink.h>
#include <gcuproto/blackbox/text_buffer.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ostream>

namespace gcuproto {
namespace blackbox {

Sink::~Sink() = default;

bool FdSink::Write(std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd_, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error_number_ = n < 0 ? errno : ENOSPC;
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

bool OstreamSink::Write(std::string_view data) {
  out_->write(data.data(), static_cast<std::streamsize>(data.size()));
  return static_cast<bool>(*out_);
}

bool StringSink::Write(std::string_view data) {
  out_->append(data.data(), data.size());
  return true;
}

TextBuffer::TextBuffer(Sink* sink, std::size_t block_size)
    : sink_(sink), data_(new char[block_size]), capacity_(block_size), block_size_(block_size) {}

TextBuffer::~TextBuffer() = default;

void TextBuffer::MakeRoom(std::size_t size) {
  Flush();
  if (capacity_ < size) {
    // One line longer than a block: a buffer of its own size, given back at
    // the next flush so that memory stays bounded by the longest line.
    capacity_ = size;
    data_.reset(new char[capacity_]);
  }
}

void TextBuffer::Append(std::string_view text) {
  char* p = Reserve(text.size());
  std::copy(text.begin(), text.end(), p);
  Advance(p + text.size());
}

bool TextBuffer::Flush() {
  if (used_ > 0 && !failed_) failed_ = !sink_->Write(std::string_view(data_.get(), used_));
  handed_ += used_;
  used_ = 0;
  if (capacity_ > block_size_) {
    capacity_ = block_size_;
    data_.reset(new char[capacity_]);
  }
  return !failed_;
}

LineFormatter::~LineFormatter() = default;

void LineFormatter::Begin(TextBuffer*) {}

bool LineFormatter::SetSource(std::string_view, Error*) { return true; }

namespace {

Error SinkFailed() { return Error(ErrorKind::kIo, "the output could not be written"); }

}  // namespace

bool Exporter::Run(Reader* reader, Error* error,
                   const std::function<void(std::uint64_t offset)>& on_progress) {
  constexpr std::uint64_t kProgressStep = std::uint64_t{16} << 20;
  std::uint64_t next_progress = kProgressStep;
  Error refused;
  while (reader->Next()) {
    if (!formatter_->Line(reader->kind(), reader->raw(), &out_, &refused)) {
      // Text of the lines before it is still handed over: to a file that the
      // caller then removes, to a pipe as far as it went.
      out_.Flush();
      return Report(error, refused.At(reader->offset()));
    }
    if (out_.failed()) break;
    if (on_progress && reader->end_offset() >= next_progress) {
      on_progress(reader->end_offset());
      next_progress = reader->end_offset() + kProgressStep;
    }
  }
  return !out_.failed() || Report(error, SinkFailed());
}

bool Exporter::Flush(Error* error) { return out_.Flush() || Report(error, SinkFailed()); }

bool Export(Reader* reader, LineFormatter* formatter, Sink* sink, Error* error,
            const std::function<void(std::uint64_t offset)>& on_progress) {
  Exporter exporter(formatter, sink);
  exporter.Begin();
  return exporter.Run(reader, error, on_progress) && exporter.Flush(error);
}

}  // namespace blackbox
}  // namespace gcuproto
