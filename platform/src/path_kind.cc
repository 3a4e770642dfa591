// The parts of <gcuproto/platform/file.h> that are the same on every system.
#include <gcuproto/platform/file.h>

#include <algorithm>
#include <memory>
#include <string_view>
#include <utility>

#include "common.h"

namespace gcuproto::platform {

const char* PathKindName(PathKind kind) {
  switch (kind) {
    case PathKind::kMissing:
      return "missing";
    case PathKind::kRegular:
      return "regular file";
    case PathKind::kDirectory:
      return "directory";
    case PathKind::kFifo:
      return "FIFO";
    case PathKind::kCharDevice:
      return "character device";
    case PathKind::kBlockDevice:
      return "block device";
    case PathKind::kSocket:
      return "socket";
    case PathKind::kOther:
      break;
  }
  return "special file";
}

File::~File() {
  if (owned_ && fd_ >= 0) os::DropDescriptor(fd_);
}

File::File(File&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), owned_(std::exchange(other.owned_, false)) {}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    if (owned_ && fd_ >= 0) os::DropDescriptor(fd_);
    fd_ = std::exchange(other.fd_, -1);
    owned_ = std::exchange(other.owned_, false);
  }
  return *this;
}

void CopyByBlocks(File& from, std::uint64_t offset, std::uint64_t length, File& to,
                  CopyResult* result) {
  constexpr std::size_t kBlock = std::size_t{1} << 20;
  std::unique_ptr<char[]> buffer;
  while (result->copied < length) {
    if (!buffer) buffer.reset(new char[kBlock]);
    const auto want =
        static_cast<std::size_t>(std::min<std::uint64_t>(kBlock, length - result->copied));
    const std::size_t n = from.ReadAt(buffer.get(), want, offset + result->copied, &result->error);
    if (result->error || n == 0) return;
    result->error = to.WriteAll(std::string_view(buffer.get(), n));
    if (result->error) {
      result->output_failed = true;
      return;
    }
    result->copied += n;
  }
}

Output::~Output() {
  if (!temporary_.empty()) {
    file_.Close();
    os::RemoveFile(temporary_);
  }
}

Output::Output(Output&& other) noexcept
    : file_(std::move(other.file_)),
      target_(std::move(other.target_)),
      temporary_(std::exchange(other.temporary_, {})),
      copy_in_place_(other.copy_in_place_) {}

Output& Output::operator=(Output&& other) noexcept {
  if (this != &other) {
    if (!temporary_.empty()) {
      file_.Close();
      os::RemoveFile(temporary_);
    }
    file_ = std::move(other.file_);
    target_ = std::move(other.target_);
    temporary_ = std::exchange(other.temporary_, {});
    copy_in_place_ = other.copy_in_place_;
  }
  return *this;
}

Output Output::StandardOutput() {
  Output output;
  output.file_ = File::StandardOutput();
  output.target_ = "-";
  return output;
}

std::error_code Output::Commit(std::string* detail) {
  if (temporary_.empty()) return file_.Close();
  const std::string temporary = temporary_;
  auto discard = [&](std::error_code error) {
    file_.Close();
    os::RemoveFile(temporary);
    temporary_.clear();
    return error;
  };
  if (std::error_code error = file_.Sync()) return discard(error);
  if (!copy_in_place_) {
    if (std::error_code error = file_.Close()) return discard(error);
    if (std::error_code error = os::ReplaceTarget(temporary, target_)) return discard(error);
    temporary_.clear();
    return {};
  }
  // Other hard links share the file, or a new file could not keep its owner:
  // rewrite it in place. The old content goes only now, and only to be
  // replaced by the complete output that is safely in the temporary file.
  FileInfo info;
  if (std::error_code error = file_.Info(&info)) return discard(error);
  std::error_code error;
  File target = File::Open(target_, File::Mode::kReadWrite, &error);
  if (error) return discard(error);
  const CopyResult copy = CopyRange(file_, 0, info.size, target);
  error = copy.error;
  if (!error && copy.copied != info.size) error = std::make_error_code(std::errc::io_error);
  if (!error) error = target.Truncate(info.size);
  if (!error) error = target.Sync();
  if (!error) error = target.Close();
  if (error) {
    // The old file may be half rewritten; the temporary keeps the output.
    file_.Close();
    temporary_.clear();
    if (detail != nullptr) *detail = "the complete output is in " + temporary;
    return error;
  }
  return discard({});
}

}  // namespace gcuproto::platform
