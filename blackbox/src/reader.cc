#include <gcuproto/blackbox/line_decoder.h>
#include <gcuproto/blackbox/reader.h>
#include <gcuproto/platform/file.h>
#include <google/protobuf/io/zero_copy_stream_impl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <istream>
#include <optional>
#include <vector>

#include "byte_source.h"

namespace gcuproto {
namespace blackbox {
namespace {

using Status = ByteSource::Status;

// Large buffers: the records are small and the input is read front to back.
constexpr int kBufferSize = 1 << 20;

// Of a key's varint, the low 32 bits count.
constexpr std::uint64_t kKeyMask = 0xFFFFFFFF;

// The runtime's default recursion budget; groups nest no deeper than that.
constexpr std::size_t kMaxGroupDepth = 100;

const char* KindName(RecordKind kind) {
  return kind == RecordKind::kLoggerLine ? "logger line" : "CAN line";
}

enum class Payload { kRead, kCutShort, kDamaged };

// The length and payload of a line record whose key was just read, with the
// same checks and reasons on every path. With `one_byte_key_at`, the offset
// of a one-byte key, a length written longer than it needs is damage too.
Payload ReadPayload(ByteSource* source, RecordKind kind, std::uint64_t max_size,
                    std::optional<std::uint64_t> one_byte_key_at, std::string_view* bytes,
                    std::string* why) {
  const std::string name = KindName(kind);
  std::uint64_t size;
  switch (source->ReadVarint(wire::kLengthLimit, &size)) {
    case Status::kOk:
      break;
    case Status::kEnd:
    case Status::kTruncated:
      *why = name + " cut short inside its length";
      return Payload::kCutShort;
    case Status::kMalformed:
      *why = name + " has a malformed length";
      return Payload::kDamaged;
  }
  if (one_byte_key_at && source->position() - *one_byte_key_at != 1 + wire::VarintSize(size)) {
    *why = name + " has a padded length";
    return Payload::kDamaged;
  }
  if (size > max_size) {
    *why = name + " of " + std::to_string(size) + " bytes exceeds the limit of " +
           std::to_string(max_size);
    return Payload::kDamaged;
  }
  std::uint64_t available = 0;
  if (source->ReadView(size, bytes, &available) != Status::kOk) {
    *why = name + " cut short: " + std::to_string(available) + " of " + std::to_string(size) +
           " bytes present";
    return Payload::kCutShort;
  }
  return Payload::kRead;
}

// Reads what a std::istream has ready: it waits for one byte, then takes
// what the stream's buffer says can be had without waiting. (The runtime's
// IstreamInputStream fills its whole buffer first, so a pipe's records would
// come out only a megabyte at a time.)
class ReadyBytesInput : public google::protobuf::io::CopyingInputStream {
 public:
  explicit ReadyBytesInput(std::istream* input) : input_(input) {}

  int Read(void* buffer, int size) override {
    using Traits = std::istream::traits_type;
    std::streambuf* bytes = input_->rdbuf();
    if (bytes == nullptr) return 0;
    try {
      if (Traits::eq_int_type(bytes->sgetc(), Traits::eof())) {
        input_->setstate(std::ios::eofbit);
        return 0;
      }
      auto* out = static_cast<char*>(buffer);
      std::streamsize done = 0;
      std::streamsize ready = 1;  // the byte sgetc() waited for
      while (done < size && ready > 0) {
        const std::streamsize got =
            bytes->sgetn(out + done, std::min<std::streamsize>(ready, size - done));
        if (got <= 0) break;
        done += got;
        ready = bytes->in_avail();
      }
      return static_cast<int>(done);
    } catch (...) {
      input_->setstate(std::ios::badbit);
      return -1;
    }
  }

 private:
  std::istream* input_;
};

// Resync mode's limits: the lines looked ahead to judge one, the window
// they may fill, how many lines must follow each other for the reading to
// be taken up again after damage, and the longest line trusted for that.
constexpr std::size_t kLookAheadLines = 32;
constexpr std::uint64_t kLookAheadBytes = std::uint64_t{1} << 20;
constexpr std::size_t kChainLines = 4;
constexpr std::uint32_t kMaxChainLine = 1u << 20;
// Sequence numbers of neighbouring lines of a kind differ by at most this.
constexpr std::uint32_t kMaxSeqStep = 1u << 16;

}  // namespace

struct Reader::OwnedInput {
  platform::File handle;  // outlives the stream over its descriptor
  std::unique_ptr<google::protobuf::io::FileInputStream> file;
  std::istream* istream = nullptr;
  std::unique_ptr<ReadyBytesInput> ready_bytes;
  std::unique_ptr<google::protobuf::io::CopyingInputStreamAdaptor> stream;
};

Reader::Reader(google::protobuf::io::ZeroCopyInputStream* input, ReaderOptions options)
    : source_(std::make_unique<ByteSource>(input)), options_(std::move(options)) {}

Reader::Reader(std::istream* input, ReaderOptions options)
    : owned_(std::make_unique<OwnedInput>()), options_(std::move(options)) {
  owned_->istream = input;
  owned_->ready_bytes = std::make_unique<ReadyBytesInput>(input);
  owned_->stream = std::make_unique<google::protobuf::io::CopyingInputStreamAdaptor>(
      owned_->ready_bytes.get(), kBufferSize);
  source_ = std::make_unique<ByteSource>(owned_->stream.get());
}

Reader::~Reader() = default;

std::unique_ptr<Reader> Reader::Open(const std::string& path, ReaderOptions options, Error* error) {
  auto owned = std::make_unique<OwnedInput>();
  std::error_code failure;
  owned->handle = platform::File::Open(path, platform::File::Mode::kRead, &failure);
  if (failure) {
    Report(error, Error(ErrorKind::kIo, path + ": " + failure.message()));
    return nullptr;
  }
  owned->file = std::make_unique<google::protobuf::io::FileInputStream>(owned->handle.descriptor(),
                                                                        kBufferSize);
  auto reader = std::make_unique<Reader>(owned->file.get(), std::move(options));
  reader->owned_ = std::move(owned);
  return reader;
}

bool Reader::Fail(ErrorKind kind, std::uint64_t offset, std::string reason) {
  finished_ = true;
  raw_ = {};
  damage_.emplace(kind, offset, std::move(reason));
  return false;
}

bool Reader::FailCutShort(std::uint64_t offset, std::string reason) {
  if (options_.follow && source_->kept() && source_->kept_from() <= offset) {
    // A live log's record still being written: read it again later.
    source_->Rewind(offset);
    finished_ = true;
    waiting_ = true;
    raw_ = {};
    return false;
  }
  return Fail(ErrorKind::kCutShort, offset, std::move(reason));
}

bool Reader::StopAtEnd() {
  finished_ = true;
  raw_ = {};
  if (owned_ && owned_->file && owned_->file->GetErrno() != 0) {
    return Fail(ErrorKind::kIo, source_->position(),
                std::string("read error: ") + std::strerror(owned_->file->GetErrno()));
  }
  if (owned_ && owned_->istream && owned_->istream->bad()) {
    return Fail(ErrorKind::kIo, source_->position(), "read error");
  }
  return false;
}

std::uint64_t Reader::bytes_read() const { return source_->position(); }

bool Reader::Resume() {
  if (!finished_) return true;
  if (damage_) return false;
  finished_ = false;
  waiting_ = false;
  input_done_ = false;
  // An istream that met its end stays failed until told otherwise.
  if (owned_ && owned_->istream) owned_->istream->clear();
  if (owned_ && owned_->handle.is_open()) owned_->handle.ForgetEnd();
  return true;
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
        status = source_->ReadVarint(wire::kValueLimit, &value);
        break;
      case 1:
        status = source_->Skip(8, &available);
        break;
      case 2:
        status = source_->ReadVarint(wire::kLengthLimit, &value);
        // Following a live log keeps the bytes of each record until it is
        // whole, but not those of a huge one.
        if (status == Status::kOk && value > options_.max_line_size) source_->Unkeep();
        if (status == Status::kOk) status = source_->Skip(value, &available);
        break;
      case 3:
        if (open_groups.size() == kMaxGroupDepth) {
          return Fail(ErrorKind::kDamaged, start, "unknown record nests groups too deeply");
        }
        open_groups.push_back(number);
        break;
      case 4:
        if (open_groups.empty() || open_groups.back() != number) {
          return Fail(ErrorKind::kDamaged, start, "unknown record has an unmatched end-group key");
        }
        open_groups.pop_back();
        break;
      case 5:
        status = source_->Skip(4, &available);
        break;
      default:
        return Fail(ErrorKind::kDamaged, start, "unknown record has an invalid wire type");
    }
    if (status == Status::kEnd || status == Status::kTruncated) {
      return FailCutShort(start, "unknown record cut short");
    }
    if (status == Status::kMalformed)
      return Fail(ErrorKind::kDamaged, start, "unknown record has a malformed varint");
    if (open_groups.empty()) return true;

    std::uint64_t next_key;
    status = source_->ReadVarint(wire::kKeyLimit, &next_key);
    if (status == Status::kEnd || status == Status::kTruncated) {
      return FailCutShort(start, "unknown record cut short inside a group");
    }
    next_key &= kKeyMask;
    if (status == Status::kMalformed || (next_key >> 3) == 0) {
      return Fail(ErrorKind::kDamaged, start, "unknown record has an invalid key inside a group");
    }
    key = static_cast<std::uint32_t>(next_key);
  }
}

bool Reader::Decode() {
  if (kind_ == RecordKind::kLoggerLine) return DecodeLoggerLine(raw_, &logger_line_);
  return can_line_.ParseFromArray(raw_.data(), static_cast<int>(raw_.size()));
}

// The general path of Next(): any key and length, records that cross the
// input's buffers, unknown records (skipped, with skipped_unknown_ set).
// False when the read ends, at the end of the input or at damage.
bool Reader::ReadRecordSlowly() {
  skipped_unknown_ = false;
  std::uint64_t key;
  switch (source_->ReadVarint(wire::kKeyLimit, &key)) {
    case Status::kOk:
      break;
    case Status::kEnd:
      return StopAtEnd();
    case Status::kTruncated:
      return FailCutShort(offset_, "record cut short inside its key");
    case Status::kMalformed:
      return Fail(ErrorKind::kDamaged, offset_, "malformed record key");
  }
  key &= kKeyMask;
  const std::uint32_t number = static_cast<std::uint32_t>(key >> 3);
  const unsigned wire_type = static_cast<unsigned>(key & 7);
  if (number == 0 || wire_type == 4 || wire_type == 6 || wire_type == 7) {
    return Fail(ErrorKind::kDamaged, offset_, "invalid record key " + std::to_string(key));
  }
  if (wire_type != 2 || (number != 10 && number != 11)) {
    if (!SkipUnknownRecord(static_cast<std::uint32_t>(key))) return false;
    ++unknown_records_;
    complete_bytes_ = source_->position();
    skipped_unknown_ = true;
    return true;
  }

  kind_ = number == 10 ? RecordKind::kLoggerLine : RecordKind::kCanLine;
  std::string why;
  switch (ReadPayload(source_.get(), kind_, options_.max_line_size, std::nullopt, &raw_, &why)) {
    case Payload::kRead:
      return true;
    case Payload::kCutShort:
      return FailCutShort(offset_, std::move(why));
    case Payload::kDamaged:
      break;
  }
  return Fail(ErrorKind::kDamaged, offset_, std::move(why));
}

bool Reader::Next() {
  if (finished_) return false;
  if (options_.resync) return NextChecked();
  for (;;) {
    offset_ = source_->position();
    if (options_.follow) source_->Keep(offset_);
    std::uint8_t line_key;
    if (source_->TryReadRecord(kLoggerLineKey, kCanLineKey, options_.max_line_size, &line_key,
                               &raw_)) {
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
        return Fail(ErrorKind::kDamaged, offset_,
                    std::string(KindName(kind_)) + " does not decode");
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

// Resync mode. Lines are read a little ahead of delivery, so that each can
// be judged against the lines of its kind on both sides; after damage the
// reading is taken up again where kChainLines lines in a row frame, decode
// and follow each other.

namespace {

// b follows a: the next sequence number or a few later, time not going
// backwards (both counters may wrap), and a logger line with as many samples.
template <typename L>
bool Follows(const L& a, const L& b, std::uint64_t max_seq_step = kMaxSeqStep) {
  const std::uint32_t seq_step = b.seq_no - a.seq_no;
  const std::uint32_t time_step = b.timestamp - a.timestamp;
  return seq_step != 0 && seq_step <= max_seq_step && time_step < (1u << 31) &&
         a.inputs == b.inputs && a.outputs == b.outputs;
}

int Index(RecordKind kind) { return kind == RecordKind::kLoggerLine ? 0 : 1; }

}  // namespace

void Reader::AddSpan(std::uint64_t offset, std::uint64_t end, ErrorKind kind, std::string reason,
                     std::uint64_t records) {
  if (end <= offset) return;
  if (!damage_) damage_.emplace(kind, offset, reason);
  if (!spans_.empty() && spans_.back().offset + spans_.back().length == offset) {
    spans_.back().length += end - offset;
    spans_.back().records_skipped += records;
    return;
  }
  spans_.push_back({offset, end - offset, Error(kind, offset, std::move(reason)), records});
}

// One line record at the current position, framed as the writer frames it
// (a one-byte key, a minimal length) and decoded without unknown fields.
int Reader::TakeSlot() {
  if (free_slots_.empty()) {
    free_slots_.push_back(static_cast<int>(logger_pool_.size()));
    logger_pool_.emplace_back();
    can_pool_.emplace_back();
  }
  const int slot = free_slots_.back();
  free_slots_.pop_back();
  return slot;
}

Reader::Framed Reader::ReadLine(std::uint32_t max_size, Line* line, std::string* why) {
  line->offset = source_->position();
  line->before_damage = false;
  line->slot = -1;
  std::uint8_t line_key;
  std::string_view bytes;
  if (source_->TryReadRecord(kLoggerLineKey, kCanLineKey, max_size, &line_key, &bytes)) {
    line->kind = line_key == kLoggerLineKey ? RecordKind::kLoggerLine : RecordKind::kCanLine;
    line->end = source_->position();
    line->payload = line->end - bytes.size();
    if (line->payload - line->offset == 3 && bytes.size() < 0x80) {
      *why = std::string(KindName(line->kind)) + " has a padded length";
      return Framed::kDamage;
    }
    return CheckLine(bytes, line, why);
  }
  std::uint64_t key;
  switch (source_->ReadVarint(wire::kKeyLimit, &key)) {
    case Status::kOk:
      break;
    case Status::kEnd:
      return Framed::kEnd;
    case Status::kTruncated:
      *why = "record cut short inside its key";
      return Framed::kCutShort;
    case Status::kMalformed:
      *why = "malformed record key";
      return Framed::kDamage;
  }
  if (key != kLoggerLineKey && key != kCanLineKey) {
    *why = "not a line record (key " + std::to_string(key & kKeyMask) + ")";
    return Framed::kDamage;
  }
  line->kind = key == kLoggerLineKey ? RecordKind::kLoggerLine : RecordKind::kCanLine;
  switch (ReadPayload(source_.get(), line->kind, max_size, line->offset, &bytes, why)) {
    case Payload::kRead:
      break;
    case Payload::kCutShort:
      return Framed::kCutShort;
    case Payload::kDamaged:
      return Framed::kDamage;
  }
  line->end = source_->position();
  line->payload = line->end - bytes.size();
  return CheckLine(bytes, line, why);
}

// Decodes a framed line into a slot of the pools; damage when it does not
// decode or has fields its kind does not have.
Reader::Framed Reader::CheckLine(std::string_view bytes, Line* line, std::string* why) {
  const int slot = TakeSlot();
  bool valid;
  if (line->kind == RecordKind::kLoggerLine) {
    BlackboxFileLine& decoded = logger_pool_[static_cast<std::size_t>(slot)];
    valid = DecodeLoggerLine(bytes, &decoded) &&
            BlackboxFileLine::GetReflection()->GetUnknownFields(decoded).empty();
    line->seq_no = decoded.seqno();
    line->timestamp = decoded.timestamp();
    line->inputs = decoded.datainput_size();
    line->outputs = decoded.dataoutput_size();
  } else {
    BlackboxCandumpFileLine& decoded = can_pool_[static_cast<std::size_t>(slot)];
    valid = decoded.ParseFromArray(bytes.data(), static_cast<int>(bytes.size())) &&
            BlackboxCandumpFileLine::GetReflection()->GetUnknownFields(decoded).empty();
    line->seq_no = decoded.seqno();
    line->timestamp = decoded.timestamp();
    line->inputs = line->outputs = 0;
  }
  if (!valid) {
    free_slots_.push_back(slot);
    *why = std::string(KindName(line->kind)) + " does not decode";
    return Framed::kDamage;
  }
  line->slot = slot;
  return Framed::kLine;
}

const Reader::Line* Reader::Previous(RecordKind kind) const {
  for (std::size_t i = ahead_.size(); i > ahead_first_; --i) {
    if (ahead_[i - 1].kind == kind) return &ahead_[i - 1];
  }
  return have_last_[Index(kind)] ? &last_[Index(kind)] : nullptr;
}

// Reads one more line into ahead_, or what stands in its place: the end, a
// cut-short tail, or damage and the resynchronisation after it.
void Reader::ReadAhead() {
  const std::uint64_t at = source_->position();
  source_->Keep(ahead_first_ < ahead_.size() ? ahead_[ahead_first_].offset : at);
  Line line;
  std::string why;
  switch (ReadLine(options_.max_line_size, &line, &why)) {
    case Framed::kLine:
      ahead_.push_back(line);
      return;
    case Framed::kEnd:
      input_done_ = true;
      StopAtEnd();
      finished_ = false;  // what is ahead is still to be delivered
      return;
    case Framed::kCutShort:
      input_done_ = true;
      AddSpan(at, source_->position(), ErrorKind::kCutShort, std::move(why), 1);
      return;
    case Framed::kDamage:
      if (ahead_first_ < ahead_.size()) ahead_.back().before_damage = true;
      resync_pending_ = true;
      resync_at_ = at;
      resync_why_ = std::move(why);
      return;
  }
}

// Looks for the first offset after `damage` from which kChainLines lines
// frame, decode and follow each other, or fewer up to the end of the input
// that follow the lines before the damage.
void Reader::Resync(std::uint64_t damage, std::string reason) {
  std::uint64_t candidate = damage + 1;
  for (;; ++candidate) {
    source_->Rewind(candidate);
    source_->Keep(candidate);
    if (!source_->SkipToEither(kLoggerLineKey, kCanLineKey)) {
      AddSpan(damage, source_->position(), ErrorKind::kDamaged, reason, 0);
      input_done_ = true;
      return;
    }
    candidate = source_->position();
    std::vector<Line> chain;
    bool ended = false;  // by the end of the input, not by damage
    bool paired = false;
    while (chain.size() < kChainLines) {
      Line line;
      std::string why;
      const Framed framed = ReadLine(kMaxChainLine, &line, &why);
      if (framed != Framed::kLine) {
        ended = framed == Framed::kEnd || framed == Framed::kCutShort;
        break;
      }
      const Line* before = nullptr;
      for (const Line& earlier : chain) {
        if (earlier.kind == line.kind) before = &earlier;
      }
      if (before != nullptr) {
        if (!Follows(*before, line)) {
          FreeSlot(line);
          break;
        }
        paired = true;
      }
      chain.push_back(line);
    }
    bool taken = chain.size() == kChainLines && paired;
    if (!taken && ended && !chain.empty()) {
      // Near the end, fewer lines do when they follow the lines before the
      // damage; as many lines as bytes went missing may lie between.
      taken = true;
      for (const Line& line : chain) {
        const Line* before = Previous(line.kind);
        if (before == nullptr || !Follows(*before, line, kMaxSeqStep + (candidate - damage)))
          taken = false;
      }
    }
    if (!taken) {
      for (const Line& line : chain) FreeSlot(line);
      continue;
    }
    // Lines missing from the numbering across the span.
    std::uint64_t missing = 0;
    for (RecordKind kind : {RecordKind::kLoggerLine, RecordKind::kCanLine}) {
      const Line* before = Previous(kind);
      for (const Line& line : chain) {
        if (line.kind != kind) continue;
        if (before != nullptr && Follows(*before, line, kMaxSeqStep + (candidate - damage))) {
          missing += static_cast<std::uint32_t>(line.seq_no - before->seq_no) - 1;
        }
        break;
      }
    }
    AddSpan(damage, candidate, ErrorKind::kDamaged, std::move(reason), missing);
    ahead_.insert(ahead_.end(), chain.begin(), chain.end());
    source_->Rewind(chain.back().end);
    return;
  }
}

// Whether a line fits between the lines of its kind before and after it:
// it is dropped when the two neighbours follow each other but it breaks
// their sequence, or when damage follows it and it does not follow the
// line before.
bool Reader::Keeps(const Line& line) const {
  const Line* before = have_last_[Index(line.kind)] ? &last_[Index(line.kind)] : nullptr;
  if (before == nullptr) return true;
  const Line* after = nullptr;
  if (!line.before_damage) {
    for (std::size_t i = ahead_first_; i < ahead_.size(); ++i) {
      if (ahead_[i].kind == line.kind) {
        after = &ahead_[i];
        break;
      }
      if (ahead_[i].before_damage) break;
    }
  }
  if (after == nullptr) return !line.before_damage || Follows(*before, line);
  return !Follows(*before, *after) || (Follows(*before, line) && Follows(line, *after));
}

bool Reader::NextChecked() {
  for (;;) {
    // Read ahead until the next line can be judged: a line of its kind
    // after it, damage after it, or the limits of looking ahead.
    while (!input_done_) {
      if (resync_pending_) {
        if (ahead_first_ < ahead_.size()) break;
        resync_pending_ = false;
        Resync(resync_at_, std::move(resync_why_));
        continue;
      }
      if (ahead_first_ < ahead_.size()) {
        const Line& front = ahead_[ahead_first_];
        bool judged = front.before_damage;
        for (std::size_t i = ahead_first_ + 1; i < ahead_.size() && !judged; ++i) {
          judged = ahead_[i].kind == front.kind || ahead_[i - 1].before_damage;
        }
        if (judged || ahead_.size() - ahead_first_ >= kLookAheadLines ||
            ahead_.back().end - front.offset >= kLookAheadBytes) {
          break;
        }
      }
      ReadAhead();
    }
    if (ahead_first_ == ahead_.size()) {
      finished_ = true;
      raw_ = {};
      return false;
    }
    const Line line = ahead_[ahead_first_++];
    if (ahead_first_ == ahead_.size() || ahead_first_ >= 64) {
      ahead_.erase(ahead_.begin(), ahead_.begin() + static_cast<std::ptrdiff_t>(ahead_first_));
      ahead_first_ = 0;
    }
    if (!Keeps(line)) {
      FreeSlot(line);
      AddSpan(line.offset, line.end, ErrorKind::kDamaged,
              std::string(KindName(line.kind)) + " out of sequence", 1);
      continue;
    }
    kind_ = line.kind;
    offset_ = line.offset;
    end_offset_ = line.end;
    raw_ = source_->View(line.payload, line.end - line.payload);
    // Decoded when it was read ahead.
    if (kind_ == RecordKind::kLoggerLine) {
      logger_line_.Swap(&logger_pool_[static_cast<std::size_t>(line.slot)]);
    } else {
      can_line_.Swap(&can_pool_[static_cast<std::size_t>(line.slot)]);
    }
    FreeSlot(line);
    have_last_[Index(kind_)] = true;
    last_[Index(kind_)] = line;
    complete_bytes_ = end_offset_;
    if (!options_.filter.SelectsAll() && !Selects(options_.filter, kind_, raw_)) continue;
    ++(kind_ == RecordKind::kLoggerLine ? logger_lines_ : can_lines_);
    return true;
  }
}

}  // namespace blackbox
}  // namespace gcuproto
