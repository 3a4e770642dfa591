#include <gcuproto/blackbox/reader.h>
#include <gcuproto/blackbox/writer.h>

#include <google/protobuf/io/coded_stream.h>

#include <gcuproto/platform/file.h>
#include <limits>

namespace gcuproto {
namespace blackbox {
namespace {

constexpr std::size_t kMaxRecordHeader = 1 + 5;  // key and a 32-bit length

// Finds where the valid records of an existing file end. Returns false with
// `error` set when the file is damaged other than by a cut-short tail.
bool CheckExistingFile(const std::string& path, std::uint64_t* valid_size, std::string* error) {
  ReaderOptions scan;
  scan.decode = false;  // only the framing matters for appending
  std::unique_ptr<Reader> reader = Reader::Open(path, scan, error);
  if (!reader) return false;
  while (reader->next()) {
  }
  if (reader->damaged() && !reader->cut_short()) {
    *error = path + ": damaged at byte " + std::to_string(reader->damage_offset()) + " (" +
             reader->damage_reason() + "); recover it before appending";
    return false;
  }
  *valid_size = reader->complete_bytes();
  return true;
}

}  // namespace

std::unique_ptr<Writer> Writer::Open(const std::string& path, WriterOptions options,
                                     std::string* error) {
  using platform::File;
  std::error_code failure;
  auto file = std::make_unique<File>(
      File::open(path, options.append ? File::Mode::kAppend : File::Mode::kWrite, &failure));
  if (failure) {
    *error = path + ": " + failure.message();
    return nullptr;
  }
  std::uint64_t valid_size = 0;
  std::uint64_t dropped = 0;
  if (options.append) {
    platform::FileInfo info;
    if ((failure = file->info(&info))) {
      *error = path + ": " + failure.message();
      return nullptr;
    }
    if (info.size > 0) {
      if (!CheckExistingFile(path, &valid_size, error)) return nullptr;
      if (valid_size < info.size) {
        if ((failure = file->truncate(valid_size))) {
          *error = path + ": cannot remove the cut-short record at its end: " + failure.message();
          return nullptr;
        }
        dropped = info.size - valid_size;
      }
    }
  }
  return std::unique_ptr<Writer>(
      new Writer(std::move(file), path, std::move(options), valid_size, dropped));
}

Writer::Writer(std::unique_ptr<platform::File> file, std::string path, WriterOptions options,
               std::uint64_t size, std::uint64_t dropped_tail)
    : file_(std::move(file)),
      path_(std::move(path)),
      options_(std::move(options)),
      committed_(size),
      dropped_tail_(dropped_tail) {
  buffer_.reserve(options_.buffer_size + kMaxRecordHeader);
}

Writer::~Writer() { Close(); }

bool Writer::Failed(const std::string& what, std::error_code error) {
  if (error_.empty()) error_ = path_ + ": " + what + ": " + error.message();
  return false;
}

template <typename Line>
bool Writer::WriteLine(RecordKind kind, const Line& line) {
  if (!error_.empty()) return false;
  if (!file_) return Failed("write after close", std::make_error_code(std::errc::bad_file_descriptor));
  const std::size_t size = line.ByteSizeLong();
  if (size > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
    return Failed("line too large", std::make_error_code(std::errc::file_too_large));
  }
  if (!buffer_.empty() && buffer_.size() + kMaxRecordHeader + size > options_.buffer_size) {
    if (!Flush()) return false;
  }
  const std::size_t start = buffer_.size();
  buffer_.resize(start + kMaxRecordHeader + size);
  auto* p = reinterpret_cast<std::uint8_t*>(&buffer_[start]);
  *p++ = KeyOf(kind);
  p = google::protobuf::io::CodedOutputStream::WriteVarint32ToArray(
      static_cast<std::uint32_t>(size), p);
  p = line.SerializeWithCachedSizesToArray(p);
  buffer_.resize(static_cast<std::size_t>(p - reinterpret_cast<std::uint8_t*>(&buffer_[0])));
  return buffer_.size() < options_.buffer_size || Flush();
}

bool Writer::Write(const BlackboxFileLine& line) { return WriteLine(RecordKind::kLoggerLine, line); }

bool Writer::Write(const BlackboxCandumpFileLine& line) {
  return WriteLine(RecordKind::kCanLine, line);
}

bool Writer::WriteRaw(RecordKind kind, std::string_view encoded_line) {
  if (!error_.empty()) return false;
  if (!file_) return Failed("write after close", std::make_error_code(std::errc::bad_file_descriptor));
  if (encoded_line.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
    return Failed("line too large", std::make_error_code(std::errc::file_too_large));
  }
  std::uint8_t header[kMaxRecordHeader];
  header[0] = KeyOf(kind);
  const std::uint8_t* header_end = google::protobuf::io::CodedOutputStream::WriteVarint32ToArray(
      static_cast<std::uint32_t>(encoded_line.size()), header + 1);
  buffer_.append(reinterpret_cast<const char*>(header), static_cast<std::size_t>(header_end - header));
  buffer_.append(encoded_line.data(), encoded_line.size());
  return buffer_.size() < options_.buffer_size || Flush();
}

bool Writer::Flush() {
  if (!error_.empty()) return false;
  if (buffer_.empty()) return true;
  if (const std::error_code failure = file_->write_all(buffer_)) {
    // Take back what part of the batch did get written, so the file ends at
    // its last complete record and stays appendable.
    file_->truncate(committed_);
    return Failed("write failed", failure);
  }
  committed_ += buffer_.size();
  buffer_.clear();
  return true;
}

bool Writer::Sync() {
  if (!Flush()) return false;
  if (const std::error_code failure = file_->sync()) return Failed("fsync failed", failure);
  return true;
}

bool Writer::Close() {
  if (!file_) return error_.empty();
  const bool flushed = Flush();
  const std::unique_ptr<platform::File> file = std::move(file_);
  const std::error_code failure = file->close();
  if (failure && flushed) return Failed("close failed", failure);
  return flushed;
}

}  // namespace blackbox
}  // namespace gcuproto
