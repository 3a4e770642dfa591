// The workloads run through protobuf-c's code of the same schema files, with
// its default allocator (malloc and free).
//
// Decoding unpacks into a new tree that free_unpacked releases: protobuf-c
// has no way to decode into an existing message, and no streaming reader, so
// it reads a blackbox file whole. Encoding asks for the packed size, as a
// caller must to size its buffer, and packs into a buffer kept from one
// operation to the next.
#include <blackbox.pb-c.h>
#include <commands.pb-c.h>
#include <firmwareFile.pb-c.h>
#include <gcuproto/codec/wire.h>

#include <cstdint>
#include <string>
#include <vector>

#include "workloads.h"

namespace gcuproto_bench {
namespace {

const std::uint8_t* Data(const std::string& bytes) {
  return reinterpret_cast<const std::uint8_t*>(bytes.data());
}

// The generated unpack and free functions of each message type.
template <typename Message>
struct Api;

template <>
struct Api<Response> {
  static Response* Unpack(const std::string& bytes) {
    return response__unpack(nullptr, bytes.size(), Data(bytes));
  }
  static void Free(Response* message) { response__free_unpacked(message, nullptr); }
};

template <>
struct Api<FirmwareFile> {
  static FirmwareFile* Unpack(const std::string& bytes) {
    return firmware_file__unpack(nullptr, bytes.size(), Data(bytes));
  }
  static void Free(FirmwareFile* message) { firmware_file__free_unpacked(message, nullptr); }
};

template <>
struct Api<BlackboxFile> {
  static BlackboxFile* Unpack(const std::string& bytes) {
    return blackbox_file__unpack(nullptr, bytes.size(), Data(bytes));
  }
  static void Free(BlackboxFile* message) { blackbox_file__free_unpacked(message, nullptr); }
};

// What the timed loops do with decoded values: add them up, as the library's
// cases do.

std::uint64_t Sum(const std::int32_t* values, std::size_t count) {
  std::uint64_t sum = count;
  for (std::size_t i = 0; i < count; ++i) sum += static_cast<std::uint32_t>(values[i]);
  return sum;
}

std::uint64_t Consume(const Response& response) {
  std::uint64_t sum = response.version + static_cast<std::uint64_t>(response.resp_case);
  switch (response.resp_case) {
    case RESPONSE__RESP_PONG:
      return sum + response.pong->seq_no;
    case RESPONSE__RESP_LOGGER_DATA: {
      const DataloggerDataResp& data = *response.loggerdata;
      return sum + data.seqno + data.timestamp + Sum(data.data, data.n_data);
    }
    case RESPONSE__RESP_MAP_TUNER_GET_MAP: {
      const MapTunerGetMapResp& map = *response.maptunergetmap;
      return sum + map.mapid + Sum(map.x, map.n_x) + Sum(map.y, map.n_y) +
             Sum(map.values, map.n_values);
    }
    default:
      return sum;
  }
}

std::uint64_t Consume(const FirmwareFile& file) {
  std::uint64_t sum = file.version + file.firmwarepublickey.len + file.encryptionpublickey.len +
                      file.aeskey.len + file.n_commands;
  for (std::size_t i = 0; i < file.n_commands; ++i) {
    const FirmwareCommand& command = *file.commands[i];
    sum += command.index + command.data.len + (command.checkpoint ? 1 : 0);
    if (command.data.len != 0) sum += command.data.data[0];
  }
  return sum;
}

std::uint64_t Consume(const BlackboxFile& file) {
  std::uint64_t sum = file.n_line + file.n_linecan;
  for (std::size_t i = 0; i < file.n_line; ++i) {
    const BlackboxFileLine& line = *file.line[i];
    sum += line.seqno + line.timestamp + Sum(line.datainput, line.n_datainput) +
           Sum(line.dataoutput, line.n_dataoutput);
  }
  for (std::size_t i = 0; i < file.n_linecan; ++i) {
    const BlackboxCandumpFileLine& line = *file.linecan[i];
    sum += line.seqno + line.timestamp + line.canid + line.messageid + (line.extended ? 1 : 0) +
           line.data.len;
  }
  return sum;
}

// Digests of every decoded value, in the order the library's cases use.

std::uint64_t Digest(std::uint64_t digest, const std::int32_t* values, std::size_t count) {
  digest = Mix(digest, count);
  for (std::size_t i = 0; i < count; ++i)
    digest = Mix(digest, static_cast<std::uint32_t>(values[i]));
  return digest;
}

std::uint64_t Digest(std::uint64_t digest, const ProtobufCBinaryData& bytes) {
  digest = Mix(digest, bytes.len);
  for (std::size_t i = 0; i < bytes.len; ++i) digest = Mix(digest, bytes.data[i]);
  return digest;
}

std::string Digest(const Response& response) {
  std::uint64_t digest = Mix(kDigestStart, response.version);
  digest = Mix(digest, static_cast<std::uint64_t>(response.resp_case));
  switch (response.resp_case) {
    case RESPONSE__RESP_PONG:
      digest = Mix(digest, response.pong->seq_no);
      break;
    case RESPONSE__RESP_LOGGER_DATA: {
      const DataloggerDataResp& data = *response.loggerdata;
      digest = Mix(Mix(digest, data.seqno), data.timestamp);
      digest = Digest(digest, data.data, data.n_data);
      break;
    }
    case RESPONSE__RESP_MAP_TUNER_GET_MAP: {
      const MapTunerGetMapResp& map = *response.maptunergetmap;
      digest = Mix(digest, map.mapid);
      digest = Digest(digest, map.x, map.n_x);
      digest = Digest(digest, map.y, map.n_y);
      digest = Digest(digest, map.values, map.n_values);
      break;
    }
    default:
      break;
  }
  return std::to_string(digest);
}

std::string Digest(const FirmwareFile& file) {
  std::uint64_t digest = Mix(kDigestStart, file.version);
  digest = Digest(digest, file.firmwarepublickey);
  digest = Digest(digest, file.encryptionpublickey);
  digest = Digest(digest, file.aeskey);
  digest = Mix(digest, file.n_commands);
  for (std::size_t i = 0; i < file.n_commands; ++i) {
    const FirmwareCommand& command = *file.commands[i];
    digest = Digest(Mix(digest, command.index), command.data);
    digest = Mix(digest, command.checkpoint ? 1 : 0);
  }
  return std::to_string(digest);
}

std::string Digest(const BlackboxFile& file) {
  std::uint64_t logger = kDigestStart;
  std::uint64_t can = kDigestStart;
  for (std::size_t i = 0; i < file.n_line; ++i) {
    const BlackboxFileLine& line = *file.line[i];
    logger = Mix(Mix(logger, line.seqno), line.timestamp);
    logger = Digest(logger, line.datainput, line.n_datainput);
    logger = Digest(logger, line.dataoutput, line.n_dataoutput);
  }
  for (std::size_t i = 0; i < file.n_linecan; ++i) {
    const BlackboxCandumpFileLine& line = *file.linecan[i];
    can = Mix(Mix(Mix(Mix(can, line.seqno), line.timestamp), line.canid), line.messageid);
    can = Digest(Mix(can, line.extended ? 1 : 0), line.data);
  }
  return std::to_string(logger) + "/" + std::to_string(can);
}

// Kernels. Each Run() is one timed operation.

// Encode a ping Command, decode the Pong Response.
class PingRoundTrip {
 public:
  static std::int64_t Bytes() { return PingBytes(); }
  std::uint64_t Run() {
    Ping ping = PING__INIT;
    ping.seq_no = 7;
    Command command = COMMAND__INIT;
    command.version = 1;
    command.req_case = COMMAND__REQ_PING;
    command.ping = &ping;
    written_ = command__get_packed_size(&command);
    if (written_ > sizeof out_) return 0;
    command__pack(&command, out_);
    Response* response = Api<Response>::Unpack(PongResponseBytes());
    if (response == nullptr) return 0;
    const std::uint64_t sum = written_ + Consume(*response);
    Api<Response>::Free(response);
    return sum;
  }
  Result Check() {
    if (Run() == 0) return {};
    Response* response = Api<Response>::Unpack(PongResponseBytes());
    Result result{std::string(reinterpret_cast<const char*>(out_), written_), Digest(*response)};
    Api<Response>::Free(response);
    return result;
  }

 private:
  std::uint8_t out_[64];
  std::size_t written_ = 0;
};

template <typename Message, Input kInput>
class UnpackKernel {
 public:
  static std::int64_t Bytes() { return static_cast<std::int64_t>(kInput().size()); }
  std::uint64_t Run() {
    Message* message = Api<Message>::Unpack(kInput());
    if (message == nullptr) return 0;
    const std::uint64_t sum = Consume(*message);
    Api<Message>::Free(message);
    return sum;
  }
  Result Check() {
    Message* message = Api<Message>::Unpack(kInput());
    if (message == nullptr) return {};
    Result result{"", Digest(*message)};
    Api<Message>::Free(message);
    return result;
  }
};

// Packs a message built once (by unpacking the input, not timed).
template <typename Message, Input kInput>
class PackKernel {
 public:
  PackKernel() : message_(Api<Message>::Unpack(kInput())) { out_.resize(kInput().size() + 64); }
  ~PackKernel() { Api<Message>::Free(message_); }
  PackKernel(const PackKernel&) = delete;
  PackKernel& operator=(const PackKernel&) = delete;

  static std::int64_t Bytes() { return static_cast<std::int64_t>(kInput().size()); }
  std::uint64_t Run() {
    const ProtobufCMessage* base = &message_->base;
    const std::size_t size = protobuf_c_message_get_packed_size(base);
    if (size > out_.size()) return 0;
    return protobuf_c_message_pack(base, out_.data());
  }
  Result Check() {
    const std::uint64_t written = Run();
    return {std::string(reinterpret_cast<const char*>(out_.data()), written), ""};
  }

 private:
  Message* message_;
  std::vector<std::uint8_t> out_;
};

// A streaming read as protobuf-c allows one: the top-level records walked by
// hand (key, length), each line unpacked on its own, read and freed, so that
// memory holds one line at a time, as the library's Reader does.
class StreamKernel {
 public:
  static std::int64_t Bytes() { return static_cast<std::int64_t>(BlackboxFileBytes().size()); }
  std::uint64_t Run() {
    return Read(
        [](const BlackboxFileLine& line) {
          return line.seqno + line.timestamp + Sum(line.datainput, line.n_datainput) +
                 Sum(line.dataoutput, line.n_dataoutput);
        },
        [](const BlackboxCandumpFileLine& line) {
          return line.seqno + line.timestamp + line.canid + line.messageid +
                 (line.extended ? 1 : 0) + line.data.len;
        });
  }
  Result Check() {
    std::uint64_t logger = kDigestStart;
    std::uint64_t can = kDigestStart;
    const std::uint64_t lines = Read(
        [&](const BlackboxFileLine& line) {
          logger = Mix(Mix(logger, line.seqno), line.timestamp);
          logger = Digest(logger, line.datainput, line.n_datainput);
          logger = Digest(logger, line.dataoutput, line.n_dataoutput);
          return 1u;
        },
        [&](const BlackboxCandumpFileLine& line) {
          can = Mix(Mix(Mix(Mix(can, line.seqno), line.timestamp), line.canid), line.messageid);
          can = Digest(Mix(can, line.extended ? 1 : 0), line.data);
          return 1u;
        });
    if (lines == 0) return {};
    return {"", std::to_string(logger) + "/" + std::to_string(can)};
  }

 private:
  template <typename OnLogger, typename OnCan>
  static std::uint64_t Read(OnLogger on_logger, OnCan on_can) {
    const std::string& file = BlackboxFileBytes();
    const std::uint8_t* p = Data(file);
    const std::uint8_t* const end = p + file.size();
    std::uint64_t sum = 0;
    while (p < end) {
      std::uint64_t key;
      std::uint64_t size;
      if ((p = gcuproto::wire::ReadVarint(p, end, &key)) == nullptr ||
          (p = gcuproto::wire::ReadVarint(p, end, &size)) == nullptr ||
          size > static_cast<std::uint64_t>(end - p)) {
        return 0;
      }
      if (key == 0x52) {
        BlackboxFileLine* line = blackbox_file_line__unpack(nullptr, size, p);
        if (line == nullptr) return 0;
        sum += on_logger(*line);
        blackbox_file_line__free_unpacked(line, nullptr);
      } else if (key == 0x5A) {
        BlackboxCandumpFileLine* line = blackbox_candump_file_line__unpack(nullptr, size, p);
        if (line == nullptr) return 0;
        sum += on_can(*line);
        blackbox_candump_file_line__free_unpacked(line, nullptr);
      }
      p += size;
    }
    return sum + 1;
  }
};

}  // namespace

std::vector<Case> ProtobufCCases() {
  const char* impl = "protobuf_c";
  std::vector<Case> cases;
  cases.push_back(MakeCase<PingRoundTrip>(kPingRoundTrip, impl));
  cases.push_back(MakeCase<UnpackKernel<Response, LoggerResponseBytes>>(kLoggerParse, impl));
  cases.push_back(MakeCase<UnpackKernel<Response, MapResponseBytes>>(kMapParse, impl));
  cases.push_back(MakeCase<UnpackKernel<FirmwareFile, FirmwareFileBytes>>(kFirmwareParse, impl));
  cases.push_back(MakeCase<UnpackKernel<BlackboxFile, BlackboxFileBytes>>(kBlackboxParse, impl));
  cases.push_back(MakeCase<StreamKernel>(kBlackboxRead, impl));
  cases.push_back(MakeCase<PackKernel<Response, LoggerResponseBytes>>(kLoggerSerialise, impl));
  cases.push_back(MakeCase<PackKernel<Response, MapResponseBytes>>(kMapSerialise, impl));
  cases.push_back(MakeCase<PackKernel<FirmwareFile, FirmwareFileBytes>>(kFirmwareSerialise, impl));
  return cases;
}

}  // namespace gcuproto_bench
