#include <gcuproto/blackbox/reader.h>
#include <gcuproto/blackbox/writer.h>

#include <google/protobuf/io/coded_stream.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
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
  int flags = O_WRONLY | O_CREAT | O_CLOEXEC | O_APPEND;
  if (!options.append) flags |= O_TRUNC;
  const int fd = ::open(path.c_str(), flags, 0666);
  if (fd < 0) {
    *error = path + ": " + std::strerror(errno);
    return nullptr;
  }
  std::uint64_t valid_size = 0;
  std::uint64_t dropped = 0;
  if (options.append) {
    struct stat info;
    if (::fstat(fd, &info) != 0) {
      *error = path + ": " + std::strerror(errno);
      ::close(fd);
      return nullptr;
    }
    if (info.st_size > 0) {
      if (!CheckExistingFile(path, &valid_size, error)) {
        ::close(fd);
        return nullptr;
      }
      const auto file_size = static_cast<std::uint64_t>(info.st_size);
      if (valid_size < file_size) {
        if (::ftruncate(fd, static_cast<off_t>(valid_size)) != 0) {
          *error = path + ": cannot remove the cut-short record at its end: " +
                   std::strerror(errno);
          ::close(fd);
          return nullptr;
        }
        dropped = file_size - valid_size;
      }
    }
  }
  return std::unique_ptr<Writer>(new Writer(fd, path, std::move(options), valid_size, dropped));
}

Writer::Writer(int fd, std::string path, WriterOptions options, std::uint64_t size,
               std::uint64_t dropped_tail)
    : fd_(fd),
      path_(std::move(path)),
      options_(std::move(options)),
      committed_(size),
      dropped_tail_(dropped_tail) {
  buffer_.reserve(options_.buffer_size + kMaxRecordHeader);
}

Writer::~Writer() { Close(); }

bool Writer::Failed(const std::string& what, int error_number) {
  if (error_.empty()) error_ = path_ + ": " + what + ": " + std::strerror(error_number);
  return false;
}

template <typename Line>
bool Writer::WriteLine(RecordKind kind, const Line& line) {
  if (!error_.empty()) return false;
  if (fd_ < 0) return Failed("write after close", EBADF);
  const std::size_t size = line.ByteSizeLong();
  if (size > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
    return Failed("line too large", EFBIG);
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
  if (fd_ < 0) return Failed("write after close", EBADF);
  if (encoded_line.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
    return Failed("line too large", EFBIG);
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
  std::size_t written = 0;
  while (written < buffer_.size()) {
    const ssize_t n = ::write(fd_, buffer_.data() + written, buffer_.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int saved = n < 0 ? errno : ENOSPC;
      // Take back what part of the batch did get written, so the file ends
      // at its last complete record and stays appendable.
      if (written > 0) {
        while (::ftruncate(fd_, static_cast<off_t>(committed_)) != 0 && errno == EINTR) {
        }
      }
      return Failed("write failed", saved);
    }
    written += static_cast<std::size_t>(n);
  }
  committed_ += buffer_.size();
  buffer_.clear();
  return true;
}

bool Writer::Sync() {
  if (!Flush()) return false;
  if (::fsync(fd_) != 0) return Failed("fsync failed", errno);
  return true;
}

bool Writer::Close() {
  if (fd_ < 0) return error_.empty();
  const bool flushed = Flush();
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0 && flushed) return Failed("close failed", errno);
  return flushed;
}

}  // namespace blackbox
}  // namespace gcuproto
