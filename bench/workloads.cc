#include "workloads.h"

#include <gcuproto/blackbox.pb.h>
#include <gcuproto/codec/wire.h>
#include <gcuproto/commands.pb.h>
#include <gcuproto/firmwareFile.pb.h>

#include <cstdint>
#include <string>

namespace gcuproto_bench {
namespace {

// A fixed pseudo-random sequence, so that every run measures the same bytes.
class Lcg {
 public:
  std::uint32_t Next() {
    state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<std::uint32_t>(state_ >> 33);
  }
  // A value in [low, high).
  std::int32_t In(std::int32_t low, std::int32_t high) {
    return low + static_cast<std::int32_t>(Next() % static_cast<std::uint32_t>(high - low));
  }
  std::string Bytes(int size) {
    std::string bytes(static_cast<std::size_t>(size), '\0');
    for (char& byte : bytes) byte = static_cast<char>(Next());
    return bytes;
  }

 private:
  std::uint64_t state_ = 0x2545F4914F6CDD1DULL;
};

// Logged samples: mostly 12-bit readings, now and then a wide value, so the
// zigzag varints take one to four bytes.
std::int32_t Sample(Lcg& random) {
  return random.Next() % 8 == 0 ? random.In(-2000000, 2000000) : random.In(-4096, 4096);
}

std::string MakePingCommand() {
  Command command;
  command.set_version(1);
  command.mutable_ping()->set_seq_no(7);
  return command.SerializeAsString();
}

std::string MakePongResponse() {
  Response response;
  response.set_version(1);
  response.mutable_pong()->set_seq_no(7);
  return response.SerializeAsString();
}

std::string MakeLoggerResponse() {
  Lcg random;
  Response response;
  response.set_version(1);
  DataloggerDataResp* data = response.mutable_loggerdata();
  data->set_seqno(123456);
  data->set_timestamp(987654321);
  for (int i = 0; i < kLoggerSamples; ++i) data->add_data(Sample(random));
  return response.SerializeAsString();
}

std::string MakeMapResponse() {
  Lcg random;
  Response response;
  response.set_version(1);
  MapTunerGetMapResp* map = response.mutable_maptunergetmap();
  map->set_mapid(3);
  for (int i = 0; i < kMapSide; ++i) {
    map->add_x(i * 250);       // engine speed breakpoints
    map->add_y(-50 + i * 10);  // load breakpoints, negative ones too
  }
  for (int i = 0; i < kMapSide * kMapSide; ++i) map->add_values(random.In(-32768, 32768));
  return response.SerializeAsString();
}

std::string MakeFirmwareFile() {
  Lcg random;
  FirmwareFile file;
  file.set_version(0x00010203);
  file.set_firmwarepublickey(random.Bytes(294));  // DER of an RSA-2048 public key
  file.set_encryptionpublickey(random.Bytes(294));
  file.set_aeskey(random.Bytes(256));  // the AES key, encrypted to the unit
  for (int i = 0; i < kFirmwareBlobs; ++i) {
    FirmwareCommand* command = file.add_commands();
    command->set_index(static_cast<std::uint32_t>(i));
    command->set_data(random.Bytes(kFirmwareBlobSize));
    command->set_checkpoint(i % 16 == 15);
  }
  return file.SerializeAsString();
}

// Lines as a writer appends them: mostly logger lines, every fifth a CAN frame.
std::string MakeBlackboxFile() {
  Lcg random;
  std::string file;
  file.reserve(kBlackboxTargetSize + 4096);
  BlackboxFileLine logger;
  BlackboxCandumpFileLine can;
  std::string line;
  for (std::uint32_t seq = 1; file.size() < kBlackboxTargetSize; ++seq) {
    const std::uint32_t timestamp = seq * 10;
    if (seq % 5 == 0) {
      can.Clear();
      can.set_seqno(seq);
      can.set_timestamp(timestamp);
      can.set_canid(0x18FF0000u | (random.Next() & 0xFFFF));
      can.set_messageid(random.Next() & 0xFF);
      can.set_extended(seq % 2 == 0);
      can.set_data(random.Bytes(8));
      can.SerializeToString(&line);
    } else {
      logger.Clear();
      logger.set_seqno(seq);
      logger.set_timestamp(timestamp);
      for (int i = 0; i < 32; ++i) logger.add_datainput(Sample(random));
      for (int i = 0; i < 8; ++i) logger.add_dataoutput(Sample(random));
      logger.SerializeToString(&line);
    }
    gcuproto::wire::AppendDelimited(&file, seq % 5 == 0 ? 0x5A : 0x52, line);
  }
  return file;
}

}  // namespace

const std::string& PingCommandBytes() {
  static const std::string bytes = MakePingCommand();
  return bytes;
}

const std::string& PongResponseBytes() {
  static const std::string bytes = MakePongResponse();
  return bytes;
}

const std::string& LoggerResponseBytes() {
  static const std::string bytes = MakeLoggerResponse();
  return bytes;
}

const std::string& MapResponseBytes() {
  static const std::string bytes = MakeMapResponse();
  return bytes;
}

const std::string& FirmwareFileBytes() {
  static const std::string bytes = MakeFirmwareFile();
  return bytes;
}

const std::string& BlackboxFileBytes() {
  static const std::string bytes = MakeBlackboxFile();
  return bytes;
}

}  // namespace gcuproto_bench
