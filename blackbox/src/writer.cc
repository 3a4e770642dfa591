#include <gcuproto/blackbox/reader.h>
#include <gcuproto/blackbox/writer.h>
#include <gcuproto/platform/file.h>
#include <google/protobuf/io/coded_stream.h>

#include <cassert>
#include <limits>

namespace gcuproto {
namespace blackbox {
namespace {

constexpr std::size_t kMaxRecordHeader = 1 + 5;  // key and a 32-bit length

// Finds where the valid records of an existing file end. Fails when the
// file is damaged other than by a cut-short tail.
bool CheckExistingFile(const std::string& path, std::uint64_t* valid_size, Error* error) {
  ReaderOptions scan;
  scan.decode = false;  // only the framing matters for appending
  std::unique_ptr<Reader> reader = Reader::Open(path, scan, error);
  if (!reader) return false;
  while (reader->Next()) {
  }
  const std::optional<Error>& damage = reader->damage();
  if (damage && damage->kind() != ErrorKind::kCutShort) {
    return Report(error, Error(damage->kind(), damage->offset(),
                               path + ": damaged at byte " + std::to_string(damage->offset()) +
                                   " (" + damage->message() + "); recover it before appending"));
  }
  *valid_size = reader->complete_bytes();
  return true;
}

}  // namespace

std::unique_ptr<Writer> Writer::Open(const std::string& path, WriterOptions options, Error* error) {
  using platform::File;
  std::error_code failure;
  auto file = std::make_unique<File>(
      File::Open(path, options.append ? File::Mode::kAppend : File::Mode::kWrite, &failure));
  if (failure) {
    Report(error, Error(ErrorKind::kIo, path + ": " + failure.message()));
    return nullptr;
  }
  std::uint64_t valid_size = 0;
  std::uint64_t dropped = 0;
  if (options.append) {
    platform::FileInfo info;
    if ((failure = file->Info(&info))) {
      Report(error, Error(ErrorKind::kIo, path + ": " + failure.message()));
      return nullptr;
    }
    if (info.size > 0) {
      if (!CheckExistingFile(path, &valid_size, error)) return nullptr;
      if (valid_size < info.size) {
        if ((failure = file->Truncate(valid_size))) {
          Report(error,
                 Error(ErrorKind::kIo, path + ": cannot remove the cut-short record at its end: " +
                                           failure.message()));
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

bool Writer::Failed(const std::string& what, std::error_code failure, Error* error) {
  if (!failure_) failure_.emplace(ErrorKind::kIo, path_ + ": " + what + ": " + failure.message());
  buffer_.clear();
  return Report(error, *failure_);
}

bool Writer::Misused(Error* error) const {
  assert(!"a blackbox::Writer was written to after a failure or after Close()");
  // Release builds answer with the failure that came before.
  if (failure_) return Report(error, *failure_);
  return Report(error, Error(ErrorKind::kInvalidArgument, path_ + ": write after close"));
}

template <typename Line>
bool Writer::WriteLine(RecordKind kind, const Line& line, Error* error) {
  if (!Writable()) return Misused(error);
  const std::size_t size = line.ByteSizeLong();
  if (size > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
    return Failed("line too large", std::make_error_code(std::errc::file_too_large), error);
  }
  if (!buffer_.empty() && buffer_.size() + kMaxRecordHeader + size > options_.buffer_size) {
    if (!Flush(error)) return false;
  }
  const std::size_t start = buffer_.size();
  buffer_.resize(start + kMaxRecordHeader + size);
  auto* p = reinterpret_cast<std::uint8_t*>(&buffer_[start]);
  *p++ = KeyOf(kind);
  p = google::protobuf::io::CodedOutputStream::WriteVarint32ToArray(
      static_cast<std::uint32_t>(size), p);
  p = line.SerializeWithCachedSizesToArray(p);
  buffer_.resize(static_cast<std::size_t>(p - reinterpret_cast<std::uint8_t*>(&buffer_[0])));
  return buffer_.size() < options_.buffer_size || Flush(error);
}

bool Writer::Write(const BlackboxFileLine& line, Error* error) {
  return WriteLine(RecordKind::kLoggerLine, line, error);
}

bool Writer::Write(const BlackboxCandumpFileLine& line, Error* error) {
  return WriteLine(RecordKind::kCanLine, line, error);
}

bool Writer::WriteRaw(RecordKind kind, std::string_view encoded_line, Error* error) {
  if (!Writable()) return Misused(error);
  if (encoded_line.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
    return Failed("line too large", std::make_error_code(std::errc::file_too_large), error);
  }
  std::uint8_t header[kMaxRecordHeader];
  header[0] = KeyOf(kind);
  const std::uint8_t* header_end = google::protobuf::io::CodedOutputStream::WriteVarint32ToArray(
      static_cast<std::uint32_t>(encoded_line.size()), header + 1);
  buffer_.append(reinterpret_cast<const char*>(header),
                 static_cast<std::size_t>(header_end - header));
  buffer_.append(encoded_line.data(), encoded_line.size());
  return buffer_.size() < options_.buffer_size || Flush(error);
}

bool Writer::Flush(Error* error) {
  if (!Writable()) return Misused(error);
  if (buffer_.empty()) return true;
  if (const std::error_code failure = file_->WriteAll(buffer_)) {
    // Take back what part of the batch did get written, so the file ends at
    // its last complete record and stays appendable.
    file_->Truncate(committed_);
    return Failed("write failed", failure, error);
  }
  committed_ += buffer_.size();
  buffer_.clear();
  return true;
}

bool Writer::Sync(Error* error) {
  if (!Flush(error)) return false;
  if (const std::error_code failure = file_->Sync()) return Failed("fsync failed", failure, error);
  return true;
}

bool Writer::Close(Error* error) {
  if (!file_) return !failure_ || Report(error, *failure_);
  const bool flushed = failure_ ? Report(error, *failure_) : Flush(error);
  const std::unique_ptr<platform::File> file = std::move(file_);
  const std::error_code failure = file->Close();
  if (failure && flushed) return Failed("close failed", failure, error);
  return flushed;
}

}  // namespace blackbox
}  // namespace gcuproto
