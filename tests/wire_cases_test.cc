// Wire cases that a row of wire_vectors.txt cannot state: fields the schema
// does not declare (text format has no way to write them) and inputs that
// must not parse.
#include <google/protobuf/descriptor.h>
#include <google/protobuf/message.h>
#include <google/protobuf/unknown_field_set.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "wire.h"

namespace {

namespace pb = google::protobuf;
using gcuproto_test::FromHex;
using gcuproto_test::Hex;

std::unique_ptr<pb::Message> New(const std::string& type) {
  const pb::Descriptor* d = pb::DescriptorPool::generated_pool()->FindMessageTypeByName(type);
  EXPECT_NE(d, nullptr) << type;
  return std::unique_ptr<pb::Message>(
      d ? pb::MessageFactory::generated_factory()->GetPrototype(d)->New() : nullptr);
}

// Undeclared numbers, and declared ones under another wire type, are kept as
// unknown fields and written back after the known fields, in arrival order.
TEST(WireCases, UnknownFieldsAreKeptAndWrittenBackLast) {
  struct Case {
    const char* type;
    const char* input;
    const char* written;
  };
  const Case cases[] = {
      {"ConnectResp", "10 07 08 01", "10 07 08 01"},
      {"BlackboxFileLine", "0A 01 07", "0A 01 07"},
      {"BlackboxFile", "50 01", "50 01"},
      {"DataloggerDataResp", "08 07 12 01 06 18 09 22 01 01", "08 07 12 01 06 18 09 22 01 01"},
      {"LoaderCommands", "0A 00", "0A 00"},
      {"CandumpStartReq", "08 01", "08 01"},
      {"CandumpStopReq", "08 01", "08 01"},
      {"CandumpStartResp", "08 01", "08 01"},
      {"CandumpStopResp", "08 01", "08 01"},
      {"FirmwareId", "98 06 2A 08 05", "08 05 98 06 2A"},
      {"FirmwareId", "08 05 98 06 2A", "08 05 98 06 2A"},
      {"FirmwareId", "0A 00", "0A 00"},
      {"DeviceId", "08 07", "08 07"},
      {"GetFirmwareId", "23 08 01 24 2D 01 02 03 04 31 01 02 03 04 05 06 07 08",
       "23 08 01 24 2D 01 02 03 04 31 01 02 03 04 05 06 07 08"},
      {"FirmwareId", "98 06 01", "98 06 01"},
      {"FirmwareId", "98 06 02 10 03", "10 03 98 06 02"},
      {"FirmwareId", "10 03 98 06 01 98 06 02", "10 03 98 06 01 98 06 02"},
      {"FirmwareId", "10 03 98 06 02", "10 03 98 06 02"},
      {"DeviceId", "0A 01 78 98 06 01", "0A 01 78 98 06 01"},
      {"DeviceId", "0A 01 78 12 01 79 98 06 01", "0A 01 78 12 01 79 98 06 01"},
      {"DeviceId", "0A 01 61 98 06 01", "0A 01 61 98 06 01"},
      {"GetDeviceId", "08 01", "08 01"},
      {"IoTunerSetInputParamReq", "1A 01 05 08 02", "08 02 1A 01 05"},
      {"IoTunerSetInputParamReq", "08 02 1A 01 05", "08 02 1A 01 05"},
      {"Command", "80 01 05", "80 01 05"},
      {"DriverCalibrationStartResp", "08 01 12 01 41", "08 01 12 01 41"},
      {"DriverCalibrationStatusReq", "08 01 12 01 41", "08 01 12 01 41"},
      {"DriverCalibrationEraseResp", "08 01 12 01 41", "08 01 12 01 41"},
      {"FaultGetFaultCountReq", "08 01 32 01 01", "08 01 32 01 01"},
      {"FaultGetFaultsReq", "08 01 32 01 01", "08 01 32 01 01"},
      {"FaultCleanFaultsReq", "08 01 32 01 01", "08 01 32 01 01"},
      {"FaultCleanFaultsResp", "08 01 32 01 01", "08 01 32 01 01"},
      {"WriteConfigurationReq", "10 05 08 01", "08 01 10 05"},
      {"WriteConfigurationReq", "08 01 10 05", "08 01 10 05"},
      {"DataloggerDataResp", "15 01 00 00 00 11 00 00 00 00 00 00 00 00",
       "15 01 00 00 00 11 00 00 00 00 00 00 00 00"},
      {"VirtualInputSet", "12 00 08 03", "08 03 12 00"},
      {"VirtualInputSet", "08 03 12 00", "08 03 12 00"},
      {"PidTunerSetPidReq", "12 00 08 03", "08 03 12 00"},
      {"PidTunerSetPidReq", "08 03 12 00", "08 03 12 00"},
      {"PidTunerStartReq", "08 01 12 01 41", "08 01 12 01 41"},
      {"USBDeviceInfo", "1D 01 00 00 00 18 05", "1D 01 00 00 00 18 05"},
      {"BootloaderConfigData", "22 01 AB 3A 00", "3A 00 22 01 AB"},
      {"BootloaderConfigData", "3A 00 22 01 AB", "3A 00 22 01 AB"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.type) + " " + c.input);
    auto message = New(c.type);
    ASSERT_TRUE(message && message->ParseFromString(FromHex(c.input)));
    EXPECT_FALSE(message->GetReflection()->GetUnknownFields(*message).empty());
    EXPECT_EQ(Hex(message->SerializeAsString()), c.written);
  }
}

// Cut-short varints, lengths and packed blocks, and broken keys fail the whole
// parse, also inside a oneof member or a nested message.
TEST(WireCases, MalformedInputFailsTheParse) {
  struct Case {
    const char* type;
    const char* input;
  };
  const Case cases[] = {
      {"ShowMessageReq", "2A 03 01 04"},
      {"BlackboxFileLine", "12 03 02 04"},
      {"BlackboxFile", "52 02 08 80"},
      {"LoaderCommands", "12 02 08 80"},
      {"DeviceId", "08 80"},
      {"FirmwareId", "08 80"},
      {"DeviceId", "08 80 80 80 80 80 80 80 80 80 80 01"},
      {"FirmwareId", "08 80 80 80 80 80 80 80 80 80 80 01"},
      {"DeviceId", "80"},
      {"FirmwareId", "80"},
      {"DeviceId", "0A 05 01"},
      {"FirmwareId", "0A 05 01"},
      {"DeviceId", "0C"},
      {"FirmwareId", "0C"},
      {"DeviceId", "02 00"},
      {"FirmwareId", "02 00"},
      {"DeviceId", "0E"},
      {"FirmwareId", "0E"},
      {"DeviceId", "0F"},
      {"FirmwareId", "0F"},
      {"DeviceId", "2D 01 02"},
      {"FirmwareId", "2D 01 02"},
      {"DeviceId", "23 08 01"},
      {"FirmwareId", "23 08 01"},
      {"MapTunerGetMapResp", "12 03 01 02"},
      {"MapTunerGetMapResp", "22 01 D8 04"},
      {"MapTunerGetMapResp", "1A 01 80"},
      {"FaultItem", "32 03 01 C8"},
      {"FaultItem", "32 02 01 C8 01"},
      {"FaultItem", "30 C8"},
      {"FaultGetFaultsResp", "0A 01 08"},
      {"FaultGetFaultsResp", "0A 05 08 01"},
      {"DataloggerStart", "10 05 12 03 01 02"},
      {"DataloggerDataResp", "10 05 12 03 01 02"},
      {"DataloggerStart", "10 05 12 01 80 01"},
      {"DataloggerDataResp", "10 05 12 01 80 01"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.type) + " " + c.input);
    auto message = New(c.type);
    ASSERT_NE(message, nullptr);
    EXPECT_FALSE(message->ParseFromString(FromHex(c.input)));
  }
}

}  // namespace
