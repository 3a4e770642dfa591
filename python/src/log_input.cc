#include "log_input.h"

#include <fcntl.h>
#include <google/protobuf/io/zero_copy_stream_impl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace gcuproto {
namespace python {

namespace {
constexpr int kBlockSize = 1 << 20;
}  // namespace

struct LogInput::Streams {
  int fd = -1;
  std::unique_ptr<google::protobuf::io::FileInputStream> file;
  std::unique_ptr<google::protobuf::io::LimitingInputStream> limited;

  ~Streams() {
    limited.reset();
    file.reset();
    if (fd >= 0) ::close(fd);
  }
};

OpenError::OpenError(std::string path, int error_number)
    : std::runtime_error(path + ": " + std::strerror(error_number)),
      path_(std::move(path)),
      error_number_(error_number) {}

std::runtime_error ChangedBetweenPasses(const std::string& line, std::uint64_t offset,
                                        const std::string& more) {
  return std::runtime_error(line + " at byte " + std::to_string(offset) + " has " + more +
                            " than when the file was first read: the file changed");
}

LogInput::LogInput(const std::string& path, const Selection& selection, bool decode,
                   std::optional<std::uint64_t> limit)
    : streams_(std::make_unique<Streams>()) {
  streams_->fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (streams_->fd < 0) throw OpenError(path, errno);
  streams_->file =
      std::make_unique<google::protobuf::io::FileInputStream>(streams_->fd, kBlockSize);
  google::protobuf::io::ZeroCopyInputStream* input = streams_->file.get();
  if (limit) {
    streams_->limited = std::make_unique<google::protobuf::io::LimitingInputStream>(
        input, static_cast<std::int64_t>(*limit));
    input = streams_->limited.get();
  }

  blackbox::ReaderOptions options;
  options.decode = decode;
  options.resync = selection.keep_damaged;
  options.filter = selection.filter;
  reader_ = std::make_unique<blackbox::Reader>(input, std::move(options));
}

LogInput::~LogInput() = default;

int LogInput::read_error() const { return streams_->file->GetErrno(); }

}  // namespace python
}  // namespace gcuproto
