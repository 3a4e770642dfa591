// The workloads run through the library, in three ways of holding messages.
#include <gcuproto/blackbox.pb.h>
#include <gcuproto/blackbox/reader.h>
#include <gcuproto/commands.pb.h>
#include <gcuproto/firmwareFile.pb.h>
#include <google/protobuf/arena.h>
#include <google/protobuf/io/zero_copy_stream_impl_lite.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "workloads.h"

namespace gcuproto_bench {
namespace {

using google::protobuf::Arena;
using google::protobuf::RepeatedField;

// Long-lived objects: parsing clears the old content first, which keeps the
// storage of strings, repeated fields and repeated messages for the next
// parse (not that of a oneof member, which Clear() deletes).
struct HeapReused {
  static constexpr const char* kName = "gcuproto_heap";
  template <typename T>
  class Holder {
   public:
    explicit Holder(HeapReused*) {}
    T* Next() { return &object_; }
    T& get() { return object_; }

   private:
    T object_;
  };
  void Begin() {}
};

// A new heap object for each operation; the previous one is destroyed then.
struct HeapNew {
  static constexpr const char* kName = "gcuproto_new";
  template <typename T>
  class Holder {
   public:
    explicit Holder(HeapNew*) {}
    T* Next() {
      object_ = std::make_unique<T>();
      return object_.get();
    }
    T& get() { return *object_; }

   private:
    std::unique_ptr<T> object_;
  };
  void Begin() {}
};

// Objects on an arena that is reset before each operation. Its first block
// is ours and is kept by Reset(), so an operation that fits allocates nothing
// from the system; when an operation needed more, Begin() starts over with a
// first block a quarter larger than all the arena held. The warm-up runs
// before timing make every timed operation fit.
class ArenaReset {
 public:
  static constexpr const char* kName = "gcuproto_arena";
  template <typename T>
  class Holder {
   public:
    explicit Holder(ArenaReset* owner) : owner_(owner) {}
    T* Next() {
      object_ = Arena::CreateMessage<T>(owner_->arena_.get());
      return object_;
    }
    T& get() { return *object_; }

   private:
    ArenaReset* owner_;
    T* object_ = nullptr;
  };

  ArenaReset() { Renew(64 * 1024); }

  void Begin() {
    const std::size_t used = arena_->SpaceAllocated();
    if (used > block_size_) {
      Renew(used + used / 4);
    } else {
      arena_->Reset();
    }
  }

 private:
  void Renew(std::size_t block_size) {
    arena_.reset();
    block_size_ = block_size;
    block_.reset(new char[block_size]);  // left uninitialised
    google::protobuf::ArenaOptions options;
    options.initial_block = block_.get();
    options.initial_block_size = block_size;
    options.max_block_size = 1 << 20;  // fewer blocks while it outgrows the first
    arena_ = std::make_unique<Arena>(options);
  }

  std::size_t block_size_ = 0;
  std::unique_ptr<char[]> block_;
  std::unique_ptr<Arena> arena_;
};

bool Parse(google::protobuf::MessageLite* message, const std::string& bytes) {
  return message->ParseFromArray(bytes.data(), static_cast<int>(bytes.size()));
}

// What the timed loops do with decoded values: add them up.

std::uint64_t Sum(const RepeatedField<std::int32_t>& values) {
  std::uint64_t sum = static_cast<std::uint64_t>(values.size());
  for (std::int32_t value : values) sum += static_cast<std::uint32_t>(value);
  return sum;
}

std::uint64_t Consume(const Response& response) {
  std::uint64_t sum = response.version() + static_cast<std::uint64_t>(response.resp_case());
  switch (response.resp_case()) {
    case Response::kPong:
      return sum + response.pong().seq_no();
    case Response::kLoggerData: {
      const DataloggerDataResp& data = response.loggerdata();
      return sum + data.seqno() + data.timestamp() + Sum(data.data());
    }
    case Response::kMapTunerGetMap: {
      const MapTunerGetMapResp& map = response.maptunergetmap();
      return sum + map.mapid() + Sum(map.x()) + Sum(map.y()) + Sum(map.values());
    }
    default:
      return sum;
  }
}

std::uint64_t Consume(const FirmwareFile& file) {
  std::uint64_t sum = file.version() + file.firmwarepublickey().size() +
                      file.encryptionpublickey().size() + file.aeskey().size() +
                      static_cast<std::uint64_t>(file.commands_size());
  for (const FirmwareCommand& command : file.commands()) {
    sum += command.index() + command.data().size() + command.checkpoint();
    if (!command.data().empty()) sum += static_cast<unsigned char>(command.data()[0]);
  }
  return sum;
}

std::uint64_t Consume(const BlackboxFileLine& line) {
  return line.seqno() + line.timestamp() + Sum(line.datainput()) + Sum(line.dataoutput());
}

std::uint64_t Consume(const BlackboxCandumpFileLine& line) {
  return line.seqno() + line.timestamp() + line.canid() + line.messageid() + line.extended() +
         line.data().size();
}

std::uint64_t Consume(const BlackboxFile& file) {
  std::uint64_t sum = static_cast<std::uint64_t>(file.line_size() + file.linecan_size());
  for (const BlackboxFileLine& line : file.line()) sum += Consume(line);
  for (const BlackboxCandumpFileLine& line : file.linecan()) sum += Consume(line);
  return sum;
}

// Digests of every decoded value, for the start-up check only.

std::uint64_t Digest(std::uint64_t digest, const RepeatedField<std::int32_t>& values) {
  digest = Mix(digest, static_cast<std::uint64_t>(values.size()));
  for (std::int32_t value : values) digest = Mix(digest, static_cast<std::uint32_t>(value));
  return digest;
}

std::uint64_t Digest(std::uint64_t digest, const std::string& bytes) {
  digest = Mix(digest, bytes.size());
  for (char byte : bytes) digest = Mix(digest, static_cast<unsigned char>(byte));
  return digest;
}

std::string Digest(const Response& response) {
  std::uint64_t digest = Mix(kDigestStart, response.version());
  digest = Mix(digest, static_cast<std::uint64_t>(response.resp_case()));
  switch (response.resp_case()) {
    case Response::kPong:
      digest = Mix(digest, response.pong().seq_no());
      break;
    case Response::kLoggerData: {
      const DataloggerDataResp& data = response.loggerdata();
      digest = Mix(Mix(digest, data.seqno()), data.timestamp());
      digest = Digest(digest, data.data());
      break;
    }
    case Response::kMapTunerGetMap: {
      const MapTunerGetMapResp& map = response.maptunergetmap();
      digest = Mix(digest, map.mapid());
      digest = Digest(Digest(Digest(digest, map.x()), map.y()), map.values());
      break;
    }
    default:
      break;
  }
  return std::to_string(digest);
}

std::string Digest(const FirmwareFile& file) {
  std::uint64_t digest = Mix(kDigestStart, file.version());
  digest = Digest(digest, file.firmwarepublickey());
  digest = Digest(digest, file.encryptionpublickey());
  digest = Digest(digest, file.aeskey());
  digest = Mix(digest, static_cast<std::uint64_t>(file.commands_size()));
  for (const FirmwareCommand& command : file.commands()) {
    digest = Digest(Mix(digest, command.index()), command.data());
    digest = Mix(digest, command.checkpoint());
  }
  return std::to_string(digest);
}

// Logger and CAN lines are digested apart: the whole-file view keeps them in
// two lists, a reader meets them interleaved.
struct BlackboxDigest {
  std::uint64_t logger = kDigestStart;
  std::uint64_t can = kDigestStart;

  void Add(const BlackboxFileLine& line) {
    logger = Mix(Mix(logger, line.seqno()), line.timestamp());
    logger = Digest(Digest(logger, line.datainput()), line.dataoutput());
  }
  void Add(const BlackboxCandumpFileLine& line) {
    can = Mix(Mix(Mix(Mix(can, line.seqno()), line.timestamp()), line.canid()), line.messageid());
    can = Digest(Mix(can, line.extended()), line.data());
  }
  std::string Text() const { return std::to_string(logger) + "/" + std::to_string(can); }
};

std::string Digest(const BlackboxFile& file) {
  BlackboxDigest digest;
  for (const BlackboxFileLine& line : file.line()) digest.Add(line);
  for (const BlackboxCandumpFileLine& line : file.linecan()) digest.Add(line);
  return digest.Text();
}

// Kernels. Each Run() is one timed operation.

// Encode a ping Command, decode the Pong Response.
template <typename Policy>
class PingRoundTrip {
 public:
  static std::int64_t Bytes() { return PingBytes(); }
  std::uint64_t Run() {
    policy_.Begin();
    Command* command = command_.Next();
    command->set_version(1);
    command->mutable_ping()->set_seq_no(7);
    if (!command->SerializeToArray(out_, sizeof out_)) return 0;
    written_ = static_cast<std::size_t>(command->GetCachedSize());
    Response* response = response_.Next();
    if (!Parse(response, PongResponseBytes())) return 0;
    return written_ + Consume(*response);
  }
  Result Check() {
    Run();
    return {std::string(out_, written_), Digest(response_.get())};
  }

 private:
  Policy policy_;
  typename Policy::template Holder<Command> command_{&policy_};
  typename Policy::template Holder<Response> response_{&policy_};
  char out_[64];
  std::size_t written_ = 0;
};

template <typename Policy, typename Message, Input kInput>
class ParseKernel {
 public:
  static std::int64_t Bytes() { return static_cast<std::int64_t>(kInput().size()); }
  std::uint64_t Run() {
    policy_.Begin();
    Message* message = message_.Next();
    if (!Parse(message, kInput())) return 0;
    return Consume(*message);
  }
  Result Check() {
    if (Run() == 0) return {};
    return {"", Digest(message_.get())};
  }

 private:
  Policy policy_;
  typename Policy::template Holder<Message> message_{&policy_};
};

// Serialises a message built once (by parsing the input, not timed) into a
// buffer kept from one operation to the next.
template <typename Policy, typename Message, Input kInput>
class SerialiseKernel {
 public:
  SerialiseKernel() {
    policy_.Begin();
    message_ = holder_.Next();
    Parse(message_, kInput());
    out_.resize(kInput().size() + 64);
  }
  static std::int64_t Bytes() { return static_cast<std::int64_t>(kInput().size()); }
  std::uint64_t Run() {
    if (!message_->SerializeToArray(out_.data(), static_cast<int>(out_.size()))) return 0;
    return static_cast<std::uint64_t>(message_->GetCachedSize());
  }
  Result Check() {
    const std::uint64_t written = Run();
    return {std::string(out_.data(), written), ""};
  }

 private:
  Policy policy_;
  typename Policy::template Holder<Message> holder_{&policy_};
  Message* message_ = nullptr;
  std::vector<char> out_;
};

// Reads the blackbox file line by line with the streaming reader, which
// reuses its two line messages.
class BlackboxReadKernel {
 public:
  static std::int64_t Bytes() { return static_cast<std::int64_t>(BlackboxFileBytes().size()); }
  std::uint64_t Run() {
    return Read([](const BlackboxFileLine& line) { return Consume(line); },
                [](const BlackboxCandumpFileLine& line) { return Consume(line); });
  }
  Result Check() {
    BlackboxDigest digest;
    const std::uint64_t lines = Read(
        [&](const BlackboxFileLine& line) {
          digest.Add(line);
          return 1u;
        },
        [&](const BlackboxCandumpFileLine& line) {
          digest.Add(line);
          return 1u;
        });
    if (lines == 0) return {};
    return {"", digest.Text()};
  }

 private:
  template <typename OnLogger, typename OnCan>
  std::uint64_t Read(OnLogger on_logger, OnCan on_can) {
    const std::string& file = BlackboxFileBytes();
    google::protobuf::io::ArrayInputStream input(file.data(), static_cast<int>(file.size()));
    gcuproto::blackbox::Reader reader(&input);
    std::uint64_t sum = 0;
    while (reader.Next()) {
      sum += reader.kind() == gcuproto::blackbox::RecordKind::kLoggerLine
                 ? on_logger(reader.logger_line())
                 : on_can(reader.can_line());
    }
    return reader.damage() ? 0 : sum + reader.logger_lines() + reader.can_lines();
  }
};

template <typename Policy>
void AddPolicyCases(std::vector<Case>& cases) {
  const char* impl = Policy::kName;
  cases.push_back(MakeCase<PingRoundTrip<Policy>>(kPingRoundTrip, impl));
  cases.push_back(MakeCase<ParseKernel<Policy, Response, LoggerResponseBytes>>(kLoggerParse, impl));
  cases.push_back(MakeCase<ParseKernel<Policy, Response, MapResponseBytes>>(kMapParse, impl));
  cases.push_back(
      MakeCase<ParseKernel<Policy, FirmwareFile, FirmwareFileBytes>>(kFirmwareParse, impl));
  cases.push_back(
      MakeCase<ParseKernel<Policy, BlackboxFile, BlackboxFileBytes>>(kBlackboxParse, impl));
}

// A message built once serialises the same whether it was made new or
// reused, so the serialisations run on the heap and on an arena only.
template <typename Policy>
void AddSerialiseCases(std::vector<Case>& cases) {
  const char* impl = Policy::kName;
  cases.push_back(
      MakeCase<SerialiseKernel<Policy, Response, LoggerResponseBytes>>(kLoggerSerialise, impl));
  cases.push_back(
      MakeCase<SerialiseKernel<Policy, Response, MapResponseBytes>>(kMapSerialise, impl));
  cases.push_back(
      MakeCase<SerialiseKernel<Policy, FirmwareFile, FirmwareFileBytes>>(kFirmwareSerialise, impl));
}

}  // namespace

std::vector<Case> GcuprotoCases() {
  std::vector<Case> cases;
  AddPolicyCases<HeapReused>(cases);
  AddPolicyCases<HeapNew>(cases);
  AddPolicyCases<ArenaReset>(cases);
  AddSerialiseCases<HeapReused>(cases);
  AddSerialiseCases<ArenaReset>(cases);
  cases.push_back(MakeCase<BlackboxReadKernel>(kBlackboxRead, HeapReused::kName));
  return cases;
}

}  // namespace gcuproto_bench
