#include "blackbox_files.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <google/protobuf/io/zero_copy_stream_impl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <algorithm>

#include "errors.h"

namespace gcuproto::cli {

namespace {

bool names_stdout(const std::string& path) { return path.empty() || path == "-"; }

constexpr std::uint64_t kProgressThreshold = std::uint64_t{64} << 20;

}  // namespace

StreamingOutput::StreamingOutput(const std::string& path) : path_(path) {
  if (names_stdout(path)) {
    fd_ = STDOUT_FILENO;
    return;
  }
  temporary_ = path + ".XXXXXX";
  fd_ = ::mkstemp(temporary_.data());
  if (fd_ < 0) throw InputError(fmt::format("cannot write {}: {}", path, std::strerror(errno)));
  // mkstemp gives the owner alone access; a plain open() would have given
  // what the umask allows.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd_, 0666 & ~mask);
}

StreamingOutput::~StreamingOutput() {
  if (!temporary_.empty()) {
    if (fd_ >= 0) ::close(fd_);
    ::unlink(temporary_.c_str());
  }
}

void StreamingOutput::fail(int error_number) const {
  throw InputError(fmt::format("cannot write {}: {}", names_stdout(path_) ? "stdout" : path_,
                               std::strerror(error_number)));
}

void StreamingOutput::commit() {
  if (temporary_.empty()) return;
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) fail(errno);
  if (std::rename(temporary_.c_str(), path_.c_str()) != 0) fail(errno);
  temporary_.clear();
}

void copy_bytes(const std::string& path, std::uint64_t from, std::uint64_t to,
                StreamingOutput& output, Progress* progress, std::uint64_t progress_base) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw InputError(fmt::format("{}: {}", path, std::strerror(errno)));
  constexpr std::size_t kBlock = std::size_t{1} << 20;
  std::unique_ptr<char[]> buffer(new char[kBlock]);
  blackbox::FdSink sink(output.fd());
  std::uint64_t done_since_progress = 0;
  while (from < to) {
    const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(kBlock, to - from));
    const ssize_t n = ::pread(fd, buffer.get(), want, static_cast<off_t>(from));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int error = n < 0 ? errno : 0;
      ::close(fd);
      throw InputError(fmt::format("{}: {}", path, error != 0 ? std::strerror(error) : "file shrank while being read"));
    }
    if (!sink.Write(std::string_view(buffer.get(), static_cast<std::size_t>(n)))) {
      ::close(fd);
      output.fail(sink.error_number());
    }
    from += static_cast<std::uint64_t>(n);
    done_since_progress += static_cast<std::uint64_t>(n);
    if (progress != nullptr && done_since_progress >= (std::uint64_t{16} << 20)) {
      progress->update(progress_base + from);
      done_since_progress = 0;
    }
  }
  ::close(fd);
}

std::string damage_message(const std::string& path, const blackbox::Reader& reader) {
  return fmt::format("{}: damaged at byte {}: {}", path, reader.damage_offset(), reader.damage_reason());
}

std::unique_ptr<blackbox::Reader> open_blackbox(const std::string& path,
                                                blackbox::ReaderOptions options,
                                                const char* not_stdin_reason) {
  if (path == "-") {
    if (not_stdin_reason != nullptr) throw UsageError(not_stdin_reason);
    // One stream for the whole run: standard input is read once.
    static google::protobuf::io::FileInputStream stdin_stream(STDIN_FILENO, 1 << 20);
    return std::make_unique<blackbox::Reader>(&stdin_stream, std::move(options));
  }
  struct stat info;
  if (::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
    throw InputError(fmt::format("{}: is a directory", path));
  }
  std::string error;
  std::unique_ptr<blackbox::Reader> reader = blackbox::Reader::Open(path, std::move(options), &error);
  if (!reader) throw InputError(error);
  return reader;
}

std::uint64_t file_size(const std::string& path) {
  struct stat info;
  if (path == "-" || ::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return 0;
  return static_cast<std::uint64_t>(info.st_size);
}

Progress::Progress(std::string label, std::uint64_t total)
    : label_(std::move(label)),
      total_(total),
      shown_(total >= kProgressThreshold && ::isatty(STDERR_FILENO) == 1) {}

Progress::~Progress() {
  if (drawn_ > 0) std::fprintf(stderr, "\r%*s\r", static_cast<int>(drawn_), "");
}

void Progress::update(std::uint64_t done) {
  if (!shown_) return;
  const double mib = 1024.0 * 1024.0;
  const std::string text = fmt::format("{}: {:3.0f}%  {:.0f} of {:.0f} MiB", label_,
                                       100.0 * static_cast<double>(done) / static_cast<double>(total_),
                                       static_cast<double>(done) / mib, static_cast<double>(total_) / mib);
  // Spaces over what a longer line before left.
  const std::size_t blank = drawn_ > text.size() ? drawn_ - text.size() : 0;
  std::fprintf(stderr, "\r%s%*s", text.c_str(), static_cast<int>(blank), "");
  std::fflush(stderr);
  drawn_ = std::max(drawn_, text.size());
}

const char* const kIdFieldHelp =
    "which field of a CAN line holds the frame's identifier: canId (the default: the "
    "unit's \"CAN id\") or messageId";

blackbox::CanIdField parse_id_field(const std::string& name) {
  return name == "messageId" ? blackbox::CanIdField::kMessageId : blackbox::CanIdField::kCanId;
}

}  // namespace gcuproto::cli
