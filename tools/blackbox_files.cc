#include "blackbox_files.h"

#include <fmt/format.h>
#include <google/protobuf/io/zero_copy_stream_impl.h>

#include <algorithm>
#include <cstdio>

#include "errors.h"

namespace gcuproto::cli {

namespace {

constexpr std::uint64_t kProgressThreshold = std::uint64_t{64} << 20;

}  // namespace

StreamingOutput::StreamingOutput(const std::string& path) : path_(path) {
  if (is_stdout()) {
    output_ = platform::Output::StandardOutput();
    return;
  }
  std::error_code error;
  output_ = platform::Output::Open(path, &error);
  if (error) Fail(error);
}

void StreamingOutput::Fail(int error_number) const {
  Fail(std::error_code(error_number, std::generic_category()));
}

void StreamingOutput::Fail(std::error_code error, const std::string& detail) const {
  throw InputError(fmt::format("cannot write {}: {}{}", is_stdout() ? "stdout" : path_,
                               error.message(), detail.empty() ? "" : "; " + detail));
}

void StreamingOutput::Commit() {
  std::string detail;
  if (const std::error_code error = output_.Commit(&detail)) Fail(error, detail);
}

void CopyBytes(const std::string& path, std::uint64_t from, std::uint64_t to,
               StreamingOutput& output, Progress* progress, std::uint64_t progress_base) {
  std::error_code error;
  platform::File input = platform::File::Open(path, platform::File::Mode::kRead, &error);
  if (error) throw InputError(fmt::format("{}: {}", path, error.message()));
  constexpr std::uint64_t kProgressStep = std::uint64_t{16} << 20;
  while (from < to) {
    const std::uint64_t want = std::min(kProgressStep, to - from);
    const platform::CopyResult copy = platform::CopyRange(input, from, want, output.file());
    if (copy.error && copy.output_failed) output.Fail(copy.error);
    if (copy.error) throw InputError(fmt::format("{}: {}", path, copy.error.message()));
    if (copy.copied < want) throw InputError(fmt::format("{}: file shrank while being read", path));
    from += copy.copied;
    if (progress != nullptr) progress->Update(progress_base + from);
  }
}

std::string DamageMessage(const std::string& path, const blackbox::Error& damage) {
  return fmt::format("{}: damaged at byte {}: {}", path, damage.offset(), damage.message());
}

std::unique_ptr<blackbox::Reader> OpenBlackbox(const std::string& path,
                                               blackbox::ReaderOptions options,
                                               const char* not_stdin_reason) {
  if (not_stdin_reason != nullptr && !ReadableTwice(path)) {
    platform::FileInfo info;
    if (path != "-" && !platform::StatPath(path, &info) &&
        info.kind != platform::PathKind::kMissing) {
      const std::string reason(not_stdin_reason);
      throw UsageError(
          fmt::format("{} is a {}, which can be read only once, and {}; copy it to a file first",
                      path, platform::PathKindName(info.kind), reason.substr(0, reason.find(':'))));
    }
    if (path == "-") throw UsageError(not_stdin_reason);
  }
  if (path == "-") {
    // One stream for the whole run: standard input is read once.
    static google::protobuf::io::FileInputStream stdin_stream(
        platform::File::StandardInput().descriptor(), 1 << 20);
    return std::make_unique<blackbox::Reader>(&stdin_stream, std::move(options));
  }
  platform::FileInfo info;
  if (!platform::StatPath(path, &info) && info.kind == platform::PathKind::kDirectory) {
    throw InputError(fmt::format("{}: is a directory", path));
  }
  blackbox::Error error;
  std::unique_ptr<blackbox::Reader> reader =
      blackbox::Reader::Open(path, std::move(options), &error);
  if (!reader) throw InputError(error.message());
  return reader;
}

bool ReadableTwice(const std::string& path) {
  platform::FileInfo info;
  if (path.empty() || path == "-" || platform::StatPath(path, &info)) return false;
  // A missing file is not refused here: opening it gives the clearer error.
  return info.kind == platform::PathKind::kRegular ||
         info.kind == platform::PathKind::kBlockDevice || info.kind == platform::PathKind::kMissing;
}

std::uint64_t FileSize(const std::string& path) {
  platform::FileInfo info;
  if (path == "-" || platform::StatPath(path, &info)) return 0;
  return info.size;
}

Progress::Progress(std::string label, std::uint64_t total)
    : label_(std::move(label)),
      total_(total),
      shown_(total >= kProgressThreshold && platform::File::StandardError().IsTerminal()) {}

Progress::~Progress() {
  if (drawn_ > 0) std::fprintf(stderr, "\r%*s\r", static_cast<int>(drawn_), "");
}

void Progress::Update(std::uint64_t done) {
  if (!shown_) return;
  const double mib = 1024.0 * 1024.0;
  const std::string text =
      fmt::format("{}: {:3.0f}%  {:.0f} of {:.0f} MiB", label_,
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

blackbox::CanIdField ParseIdField(const std::string& name) {
  return name == "messageId" ? blackbox::CanIdField::kMessageId : blackbox::CanIdField::kCanId;
}

}  // namespace gcuproto::cli
