#include <gcuproto/blackbox/line_decoder.h>
#include <gcuproto/blackbox/reader.h>

#include <google/protobuf/io/zero_copy_stream_impl.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <istream>
#include <vector>

#include "byte_source.h"

namespace gcuproto {
namespace blackbox {
namespace {

using Status = ByteSource::Status;

// Large buffers: the records are small and the input is read front to back.
constexpr int kBufferSize = 1 << 20;

// Field keys take at most five varint bytes, of which the low 32 bits count;
// lengths are below 2^31 (the fifth byte at most 0x07); other varints take up
// to ten bytes: the limits the runtime's parser applies to a whole-file parse.
constexpr int kKeyBytes = 5;
constexpr std::uint8_t kKeyLastByteMax = 0x7F;
constexpr std::uint64_t kKeyMask = 0xFFFFFFFF;
constexpr int kSizeBytes = 5;
constexpr std::uint8_t kSizeLastByteMax = 0x07;
constexpr int kVarintBytes = 10;
constexpr std::uint8_t kVarintLastByteMax = 0x7F;

// The runtime's default recursion budget; groups nest no deeper than that.
constexpr std::size_t kMaxGroupDepth = 100;

const char* KindName(RecordKind kind) {
  return kind == RecordKind::kLoggerLine ? "logger line" : "CAN line";
}

}  // namespace

struct Reader::OwnedInput {
  int fd = -1;
  std::unique_ptr<google::protobuf::io::FileInputStream> file;
  std::istream* istream = nullptr;
  std::unique_ptr<google::protobuf::io::IstreamInputStream> stream;

  ~OwnedInput() {
    file.reset();
    if (fd >= 0) ::close(fd);
  }
};

Reader::Reader(google::protobuf::io::ZeroCopyInputStream* input, ReaderOptions options)
    : source_(std::make_unique<ByteSource>(input)), options_(std::move(options)) {}

Reader::Reader(std::istream* input, ReaderOptions options)
    : owned_(std::make_unique<OwnedInput>()), options_(std::move(options)) {
  owned_->istream = input;
  owned_->stream = std::make_unique<google::protobuf::io::IstreamInputStream>(input, kBufferSize);
  source_ = std::make_unique<ByteSource>(owned_->stream.get());
}

Reader::~Reader() = default;

std::unique_ptr<Reader> Reader::Open(const std::string& path, ReaderOptions options,
                                     std::string* error) {
  auto owned = std::make_unique<OwnedInput>();
  owned->fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (owned->fd < 0) {
    *error = path + ": " + std::strerror(errno);
    return nullptr;
  }
  owned->file = std::make_unique<google::protobuf::io::FileInputStream>(owned->fd, kBufferSize);
  auto reader = std::make_unique<Reader>(owned->file.get(), std::move(options));
  reader->owned_ = std::move(owned);
  return reader;
}

bool Reader::Fail(std::uint64_t offset, std::string reason) {
  finished_ = true;
  raw_ = {};
  damage_offset_ = offset;
  damage_reason_ = std::move(reason);
  return false;
}

bool Reader::FailCutShort(std::uint64_t offset, std::string reason) {
  cut_short_ = true;
  return Fail(offset, std::move(reason));
}

bool Reader::SkipUnknownRecord(std::uint32_t key) {
  // Groups hold nested fields up to the end-group key of the same number.
  std::vector<std::uint32_t> open_groups;
  const std::uint64_t start = offset_;
  for (;;) {
    const std::uint32_t number = key >> 3;
    std::uint64_t value;
    std::uint64_t available;
    Status status = Status::kOk;
    switch (key & 7) {
      case 0:
        status = source_->ReadVarint(kVarintBytes, kVarintLastByteMax, &value);
        break;
      case 1:
        status = source_->Skip(8, &available);
        break;
      case 2:
        status = source_->ReadVarint(kSizeBytes, kSizeLastByteMax, &value);
        if (status == Status::kOk) status = source_->Skip(value, &available);
        break;
      case 3:
        if (open_groups.size() == kMaxGroupDepth) {
          return Fail(start, "unknown record nests groups too deeply");
        }
        open_groups.push_back(number);
        break;
      case 4:
        if (open_groups.empty() || open_groups.back() != number) {
          return Fail(start, "unknown record has an unmatched end-group key");
        }
        open_groups.pop_back();
        break;
      case 5:
        status = source_->Skip(4, &available);
        break;
      default:
        return Fail(start, "unknown record has an invalid wire type");
    }
    if (status == Status::kEnd || status == Status::kTruncated) {
      return FailCutShort(start, "unknown record cut short");
    }
    if (status == Status::kMalformed) return Fail(start, "unknown record has a malformed varint");
    if (open_groups.empty()) return true;

    std::uint64_t next_key;
    status = source_->ReadVarint(kKeyBytes, kKeyLastByteMax, &next_key);
    if (status == Status::kEnd || status == Status::kTruncated) {
      return FailCutShort(start, "unknown record cut short inside a group");
    }
    next_key &= kKeyMask;
    if (status == Status::kMalformed || (next_key >> 3) == 0) {
      return Fail(start, "unknown record has an invalid key inside a group");
    }
    key = static_cast<std::uint32_t>(next_key);
  }
}

bool Reader::Decode() {
  if (kind_ == RecordKind::kLoggerLine) return DecodeLoggerLine(raw_, &logger_line_);
  return can_line_.ParseFromArray(raw_.data(), static_cast<int>(raw_.size()));
}

// The general path of next(): any key and length, records that cross the
// input's buffers, unknown records (skipped, with skipped_unknown_ set).
// False when the read ends, at the end of the input or at damage.
bool Reader::ReadRecordSlowly() {
  skipped_unknown_ = false;
  std::uint64_t key;
  switch (source_->ReadVarint(kKeyBytes, kKeyLastByteMax, &key)) {
    case Status::kOk:
      break;
    case Status::kEnd:
      finished_ = true;
      raw_ = {};
      if (owned_ && owned_->file && owned_->file->GetErrno() != 0) {
        return Fail(offset_, std::string("read error: ") + std::strerror(owned_->file->GetErrno()));
      }
      if (owned_ && owned_->istream && owned_->istream->bad()) {
        return Fail(offset_, "read error");
      }
      return false;
    case Status::kTruncated:
      return FailCutShort(offset_, "record cut short inside its key");
    case Status::kMalformed:
      return Fail(offset_, "malformed record key");
  }
  key &= kKeyMask;
  const std::uint32_t number = static_cast<std::uint32_t>(key >> 3);
  const unsigned wire_type = static_cast<unsigned>(key & 7);
  if (number == 0 || wire_type == 4 || wire_type == 6 || wire_type == 7) {
    return Fail(offset_, "invalid record key " + std::to_string(key));
  }
  if (wire_type != 2 || (number != 10 && number != 11)) {
    if (!SkipUnknownRecord(static_cast<std::uint32_t>(key))) return false;
    ++unknown_records_;
    complete_bytes_ = source_->position();
    skipped_unknown_ = true;
    return true;
  }

  kind_ = number == 10 ? RecordKind::kLoggerLine : RecordKind::kCanLine;
  std::uint64_t size;
  switch (source_->ReadVarint(kSizeBytes, kSizeLastByteMax, &size)) {
    case Status::kOk:
      break;
    case Status::kEnd:
    case Status::kTruncated:
      return FailCutShort(offset_, std::string(KindName(kind_)) + " cut short inside its length");
    case Status::kMalformed:
      return Fail(offset_, std::string(KindName(kind_)) + " has a malformed length");
  }
  if (size > options_.max_line_size) {
    return Fail(offset_, std::string(KindName(kind_)) + " of " + std::to_string(size) +
                             " bytes exceeds the limit of " +
                             std::to_string(options_.max_line_size));
  }
  std::uint64_t available = 0;
  if (source_->ReadView(size, &raw_, &available) != Status::kOk) {
    return FailCutShort(offset_, std::string(KindName(kind_)) + " cut short: " +
                             std::to_string(available) + " of " + std::to_string(size) +
                             " bytes present");
  }
  return true;
}

bool Reader::next() {
  if (finished_) return false;
  for (;;) {
    offset_ = source_->position();
    std::uint8_t line_key;
    if (source_->TryReadRecord(kLoggerLineKey, kCanLineKey, options_.max_line_size, &line_key, &raw_)) {
      kind_ = line_key == kLoggerLineKey ? RecordKind::kLoggerLine : RecordKind::kCanLine;
    } else if (!ReadRecordSlowly()) {
      return false;
    } else if (skipped_unknown_) {
      continue;
    }
    end_offset_ = source_->position();
    if (!options_.filter.SelectsAll() && !Selects(options_.filter, kind_, raw_)) {
      complete_bytes_ = end_offset_;
      continue;
    }
    if (options_.decode && !Decode()) {
      if (!options_.on_undecodable_line) {
        return Fail(offset_, std::string(KindName(kind_)) + " does not decode");
      }
      options_.on_undecodable_line(offset_, kind_);
      ++undecodable_lines_;
      complete_bytes_ = end_offset_;
      continue;
    }
    ++(kind_ == RecordKind::kLoggerLine ? logger_lines_ : can_lines_);
    complete_bytes_ = end_offset_;
    return true;
  }
}

}  // namespace blackbox
}  // namespace gcuproto
