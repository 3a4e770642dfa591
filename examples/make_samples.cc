// Writes the sample files of examples/samples/ into the directory given as
// the only argument: a Command, a Response, a firmware update file and a
// blackbox file, each as wire bytes (.bin) and as the text gcuproto decode
// prints for it (.txt), and the Command as a hex dump pasted from a console.
// Run it again after a change and commit what it writes; a test compares the
// committed samples with its output byte for byte.
#include <gcuproto/blackbox.pb.h>
#include <gcuproto/bootloader_commands.pb.h>
#include <gcuproto/commands.pb.h>
#include <gcuproto/device_id.pb.h>
#include <gcuproto/firmwareFile.pb.h>
#include <google/protobuf/text_format.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>

namespace {

// Bytes that look like nothing in particular but are the same on every run.
std::string Pattern(std::size_t size, std::uint8_t seed) {
  std::string bytes;
  for (std::size_t i = 0; i < size; ++i) bytes.push_back(static_cast<char>(seed + 37 * i));
  return bytes;
}

// A ping with sequence number 7: 08 01 3A 02 08 07.
Command MakeCommand() {
  Command command;
  command.set_version(1);
  command.mutable_ping()->set_seq_no(7);
  return command;
}

Response MakeResponse() {
  Response response;
  response.set_version(1);
  FirmwareId* id = response.mutable_firmwareid();
  id->set_major_version(2);
  id->set_minor_version(4);
  id->set_build_version(1187);
  return response;
}

void AddBlob(FirmwareFile* firmware, std::uint32_t index, const std::string& data,
             bool checkpoint) {
  FirmwareCommand* command = firmware->add_commands();
  command->set_index(index);
  command->set_data(data);
  command->set_checkpoint(checkpoint);
}

// An update that erases a flash block, writes two pieces of it and resets the
// unit; one blob is not a loader command (its length runs past its end).
FirmwareFile MakeFirmware() {
  FirmwareFile firmware;
  firmware.set_version(3);
  firmware.set_firmwarepublickey(Pattern(32, 0x11));
  firmware.set_encryptionpublickey(Pattern(32, 0x5A));
  firmware.set_aeskey(Pattern(16, 0xA3));

  LoaderCommands erase;
  erase.mutable_erase()->set_index(1);
  erase.mutable_erase()->set_addr(0x08020000);
  erase.mutable_erase()->set_size(0x20000);
  AddBlob(&firmware, 1, erase.SerializeAsString(), false);

  for (std::uint32_t i = 0; i < 2; ++i) {
    LoaderCommands write;
    write.mutable_write()->set_index(2 + i);
    write.mutable_write()->set_addr(0x08020000 + 16 * i);
    write.mutable_write()->set_data(Pattern(16, static_cast<std::uint8_t>(0x40 + i)));
    AddBlob(&firmware, 2 + i, write.SerializeAsString(), i == 1);
  }

  AddBlob(&firmware, 4, std::string("\x12\x20\x08\x01", 4), false);

  LoaderCommands reset;
  reset.mutable_reset()->set_index(5);
  AddBlob(&firmware, 5, reset.SerializeAsString(), true);
  return firmware;
}

BlackboxFile MakeBlackbox() {
  BlackboxFile blackbox;
  const std::int32_t inputs[3][4] = {
      {12, -3, 0, 250}, {13, -4, 1, 251}, {-2147483647 - 1, 0, 2, 2147483647}};
  for (std::uint32_t i = 0; i < 3; ++i) {
    BlackboxFileLine* line = blackbox.add_line();
    line->set_seqno(1 + 2 * i);
    line->set_timestamp(1000 + 20 * i);
    for (std::int32_t value : inputs[i]) line->add_datainput(value);
    line->add_dataoutput(static_cast<std::int32_t>(i));
    line->add_dataoutput(-1);
  }
  BlackboxCandumpFileLine* can = blackbox.add_linecan();
  can->set_seqno(2);
  can->set_timestamp(1005);
  can->set_canid(0x18FEF100);
  can->set_messageid(61444);
  can->set_extended(true);
  can->set_data(Pattern(8, 0x01));
  can = blackbox.add_linecan();
  can->set_seqno(4);
  can->set_timestamp(1031);
  can->set_canid(0x123);
  can->set_data(std::string("\x00\xff\x10", 3));
  return blackbox;
}

// The text form as gcuproto decode prints it.
std::string TextOf(const google::protobuf::Message& message) {
  google::protobuf::TextFormat::Printer printer;
  printer.SetUseUtf8StringEscaping(true);
  std::string text;
  printer.PrintToString(message, &text);
  return text;
}

bool WriteFile(const std::string& path, const std::string& content) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(content.data(), static_cast<std::streamsize>(content.size()));
  file.close();
  if (!file) std::fprintf(stderr, "make_samples: cannot write %s\n", path.c_str());
  return static_cast<bool>(file);
}

bool WriteSample(const std::string& dir, const std::string& stem,
                 const google::protobuf::Message& message) {
  return WriteFile(dir + "/" + stem + ".bin", message.SerializeAsString()) &&
         WriteFile(dir + "/" + stem + ".txt", TextOf(message));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_samples DIRECTORY\n");
    return 2;
  }
  const std::string dir = argv[1];
  const bool written = WriteSample(dir, "command", MakeCommand()) &&
                       WriteSample(dir, "response", MakeResponse()) &&
                       WriteSample(dir, "firmware", MakeFirmware()) &&
                       WriteSample(dir, "blackbox", MakeBlackbox()) &&
                       WriteFile(dir + "/command.hex", "0x08, 0x01, 0x3a, 0x02, 0x08, 0x07\n");
  return written ? 0 : 1;
}
