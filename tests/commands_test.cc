// The command and response envelopes: members, keys and oneof behaviour.
#include <gcuproto/commands.pb.h>

#include <google/protobuf/descriptor.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "wire.h"

namespace {

using gcuproto_test::Bytes;
using google::protobuf::Descriptor;
using google::protobuf::FieldDescriptor;
using google::protobuf::Message;

// Constants whose names follow the member names letter for letter; a renamed
// member stops this file from compiling.
static_assert(Command::kPing == 7, "ping case");
static_assert(Command::REQ_NOT_SET == 0, "req not set");
static_assert(Command::kPidTunerResetFieldNumber == 123, "request 123");
static_assert(Command::kIoTunerSetInputParamReq == 200, "last request");
static_assert(Response::kResult == 3, "result case");
static_assert(Response::RESP_NOT_SET == 0, "resp not set");
static_assert(Response::kPidTUnerResetFieldNumber == 123, "response 123, capital U");
static_assert(Response::kCandump == 17, "response without a request");
static_assert(FatalError::kDetailsFieldNumber == 2, "details");

// One oneof member as the protocol defines it: the payload type written as
// "message Name" or "enum Name", and the member's key on the wire.
struct Member {
  int number;
  const char* name;
  const char* type;
  std::vector<int> key;
};

const std::vector<Member> kRequestMembers = {
    {2, "resetToBootloader", "message ResetToBootloader", {0x12}},
    {3, "firmwarePublicKey", "message BootloaderRsaPublicKey", {0x1A}},
    {4, "encryptionPublicKey", "message BootloaderRsaPublicKey", {0x22}},
    {5, "aesKey", "message CommandAesKey", {0x2A}},
    {6, "command", "message CommandData", {0x32}},
    {7, "ping", "message Ping", {0x3A}},
    {8, "getModuleKey", "message ModulePublicKeyRequest", {0x42}},
    {9, "reset", "message Reset", {0x4A}},
    {10, "keyExchange", "message KeyExchangeRequest", {0x52}},
    {15, "candumpStart", "message CandumpStartReq", {0x7A}},
    {16, "candumpStop", "message CandumpStopReq", {0x82, 0x01}},
    {50, "getDeviceId", "message GetDeviceId", {0x92, 0x03}},
    {51, "getFirmwareId", "message GetFirmwareId", {0x9A, 0x03}},
    {100, "loggerStart", "message DataloggerStart", {0xA2, 0x06}},
    {101, "loggerStop", "message DataloggerStop", {0xAA, 0x06}},
    {102, "loggerGetData", "message DataloggerDataReq", {0xB2, 0x06}},
    {110, "virtualInputOverride", "message VirtualInputOverride", {0xF2, 0x06}},
    {111, "virtualInputSet", "message VirtualInputSet", {0xFA, 0x06}},
    {120, "pidTunerStart", "message PidTunerStartReq", {0xC2, 0x07}},
    {121, "pidTunerSet", "message PidTunerSetPidReq", {0xCA, 0x07}},
    {122, "pidTunerGet", "message PidTunerGetPidReq", {0xD2, 0x07}},
    {123, "pidTunerReset", "message PidTunerResetReq", {0xDA, 0x07}},
    {130, "mapTunerStart", "message MapTunerStartReq", {0x92, 0x08}},
    {131, "mapTunerGetMapDetails", "message MapTunerGetMapDetailsReq", {0x9A, 0x08}},
    {132, "mapTunerSetMapLabel", "message MapTunerSetMapLabelReq", {0xA2, 0x08}},
    {133, "mapTunerGetMapLabel", "message MapTunerGetMapLabelReq", {0xAA, 0x08}},
    {134, "mapTunerSetMapValue", "message MapTunerSetMapValueReq", {0xB2, 0x08}},
    {135, "mapTunerGetMapValue", "message MapTunerGetMapValueReq", {0xBA, 0x08}},
    {136, "mapTunerGetMap", "message MapTunerGetMapReq", {0xC2, 0x08}},
    {137, "mapTunerGetLastGetValue", "message MapTunerGetLastGetValueReq", {0xCA, 0x08}},
    {150, "writeConfiguration", "message WriteConfigurationReq", {0xB2, 0x09}},
    {151, "readConfiguration", "message ReadConfigurationReq", {0xBA, 0x09}},
    {152, "eraseConfiguration", "message EraseConfigurationReq", {0xC2, 0x09}},
    {155, "writeCalibration", "message WriteCalibrationReq", {0xDA, 0x09}},
    {160, "calibrationStart", "message DriverCalibrationStartReq", {0x82, 0x0A}},
    {161, "calibrationStatus", "message DriverCalibrationStatusReq", {0x8A, 0x0A}},
    {162, "calibrationErase", "message DriverCalibrationEraseReq", {0x92, 0x0A}},
    {170, "faultGetFaultCount", "message FaultGetFaultCountReq", {0xD2, 0x0A}},
    {171, "faultGetFaults", "message FaultGetFaultsReq", {0xDA, 0x0A}},
    {172, "faultCleanFaults", "message FaultCleanFaultsReq", {0xE2, 0x0A}},
    {200, "ioTunerSetInputParamReq", "message IoTunerSetInputParamReq", {0xC2, 0x0C}},
};

const std::vector<Member> kResponseMembers = {
    {2, "fatalError", "message FatalError", {0x12}},
    {3, "result", "enum CommandResult", {0x18}},
    {4, "pong", "message Pong", {0x22}},
    {5, "publicKey", "message ModulePublicKeyResponse", {0x2A}},
    {10, "keyExchange", "message KeyExchangeResponse", {0x52}},
    {15, "candumpStart", "message CandumpStartResp", {0x7A}},
    {16, "candumpStop", "message CandumpStopResp", {0x82, 0x01}},
    {17, "candump", "message CandumpResp", {0x8A, 0x01}},
    {50, "deviceId", "message DeviceId", {0x92, 0x03}},
    {51, "firmwareId", "message FirmwareId", {0x9A, 0x03}},
    {100, "loggerStarted", "message DataloggerStartResp", {0xA2, 0x06}},
    {101, "loggerStopped", "message DataloggerStopResp", {0xAA, 0x06}},
    {102, "loggerData", "message DataloggerDataResp", {0xB2, 0x06}},
    {110, "virtualInputOverride", "message VirtualInputOverrideResp", {0xF2, 0x06}},
    {111, "virtualInputSet", "message VirtualInputSetResp", {0xFA, 0x06}},
    {120, "pidTunerStart", "message PidTunerStartResp", {0xC2, 0x07}},
    {121, "pidTunerSet", "message PidTunerSetPidResp", {0xCA, 0x07}},
    {122, "pidTunerGet", "message PidTunerGetPidResp", {0xD2, 0x07}},
    {123, "pidTUnerReset", "message PidTunerResetResp", {0xDA, 0x07}},
    {130, "mapTunerStart", "message MapTunerStartResp", {0x92, 0x08}},
    {131, "mapTunerGetMapDetails", "message MapTunerGetMapDetailsResp", {0x9A, 0x08}},
    {132, "mapTunerSetMapLabel", "message MapTunerSetMapLabelResp", {0xA2, 0x08}},
    {133, "mapTunerGetMapLabel", "message MapTunerGetMapLabelResp", {0xAA, 0x08}},
    {134, "mapTunerSetMapValue", "message MapTunerSetMapValueResp", {0xB2, 0x08}},
    {135, "mapTunerGetMapValue", "message MapTunerGetMapValueResp", {0xBA, 0x08}},
    {136, "mapTunerGetMap", "message MapTunerGetMapResp", {0xC2, 0x08}},
    {137, "mapTunerGetLastGetValue", "message MapTunerGetLastGetValueResp", {0xCA, 0x08}},
    {150, "writeConfiguration", "message WriteConfigurationResp", {0xB2, 0x09}},
    {151, "readConfiguration", "message ReadConfigurationResp", {0xBA, 0x09}},
    {152, "eraseConfiguration", "message EraseConfigurationResp", {0xC2, 0x09}},
    {155, "writeCalibration", "message WriteCalibrationResp", {0xDA, 0x09}},
    {160, "calibrationStart", "message DriverCalibrationStartResp", {0x82, 0x0A}},
    {161, "calibrationStatus", "message DriverCalibrationStatusResp", {0x8A, 0x0A}},
    {162, "calibrationErase", "message DriverCalibrationEraseResp", {0x92, 0x0A}},
    {170, "faultGetFaultCount", "message FaultGetFaultCountResp", {0xD2, 0x0A}},
    {171, "faultGetFaults", "message FaultGetFaultsResp", {0xDA, 0x0A}},
    {172, "faultCleanFaults", "message FaultCleanFaultsResp", {0xE2, 0x0A}},
    {200, "ioTunerSetInputParamResp", "message IoTunerSetInputParamResp", {0xC2, 0x0C}},
};

std::string TypeOf(const FieldDescriptor& field) {
  if (field.type() == FieldDescriptor::TYPE_MESSAGE) return "message " + field.message_type()->full_name();
  if (field.type() == FieldDescriptor::TYPE_ENUM) return "enum " + field.enum_type()->full_name();
  return field.type_name();
}

std::string KeyBytes(const Member& member) {
  std::string key;
  for (int b : member.key) key.push_back(static_cast<char>(b));
  return key;
}

// Checks an envelope's layout (version 1, then the oneof's members in the
// given declaration order) and that each member alone, with an empty payload
// or the value 0, is written as its key and 0x00 and read back as that member.
void CheckEnvelope(const Message& prototype, const char* oneof_name, const std::vector<Member>& members) {
  const Descriptor* envelope = prototype.GetDescriptor();
  ASSERT_EQ(envelope->field_count(), static_cast<int>(members.size()) + 1);
  const FieldDescriptor* version = envelope->field(0);
  EXPECT_EQ(version->name(), "version");
  EXPECT_EQ(version->number(), 1);
  EXPECT_EQ(version->type(), FieldDescriptor::TYPE_UINT32);
  EXPECT_EQ(version->containing_oneof(), nullptr);

  ASSERT_EQ(envelope->oneof_decl_count(), 1);
  const auto* oneof = envelope->oneof_decl(0);
  EXPECT_EQ(oneof->name(), oneof_name);
  ASSERT_EQ(oneof->field_count(), static_cast<int>(members.size()));

  for (std::size_t i = 0; i < members.size(); ++i) {
    const Member& m = members[i];
    SCOPED_TRACE(std::string(envelope->name()) + "." + m.name);
    const FieldDescriptor* field = envelope->FindFieldByNumber(m.number);
    ASSERT_NE(field, nullptr);
    EXPECT_EQ(field->name(), m.name);
    EXPECT_EQ(field->containing_oneof(), oneof);
    EXPECT_EQ(field->index(), static_cast<int>(i) + 1) << "declaration order";
    EXPECT_EQ(TypeOf(*field), m.type);

    std::unique_ptr<Message> alone(prototype.New());
    const auto* reflection = alone->GetReflection();
    if (field->type() == FieldDescriptor::TYPE_ENUM) {
      reflection->SetEnumValue(alone.get(), field, 0);
    } else {
      reflection->MutableMessage(alone.get(), field);
    }
    const std::string expected = KeyBytes(m) + Bytes({0x00});
    EXPECT_WIRE(*alone, expected);

    std::unique_ptr<Message> parsed(prototype.New());
    ASSERT_TRUE(parsed->ParseFromString(expected));
    EXPECT_EQ(parsed->GetReflection()->GetOneofFieldDescriptor(*parsed, oneof), field);
    EXPECT_EQ(parsed->GetReflection()->GetUnknownFields(*parsed).field_count(), 0);
  }
}

TEST(CommandsEnvelope, MembersNumbersTypesAndKeys) {
  CheckEnvelope(Command::default_instance(), "req", kRequestMembers);
  CheckEnvelope(Response::default_instance(), "resp", kResponseMembers);
}

// What a host does with the unit's answer.
std::string Dispatch(const Response& response) {
  switch (response.resp_case()) {
    case Response::kPong:
      return "pong " + std::to_string(response.pong().seq_no());
    case Response::kResult:
      return "result " + std::to_string(response.result());
    case Response::kFatalError:
      return "fatal " + response.fatalerror().message();
    default:
      return "other";
  }
}

TEST(CommandsEnvelope, PingExchange) {
  Command command;
  command.set_version(1);
  command.mutable_ping()->set_seq_no(7);
  EXPECT_WIRE(command, Bytes({0x08, 0x01, 0x3A, 0x02, 0x08, 0x07}));

  Command received;
  ASSERT_TRUE(received.ParseFromString(Bytes({0x08, 0x01, 0x3A, 0x02, 0x08, 0x07})));
  EXPECT_EQ(received.version(), 1u);
  ASSERT_EQ(received.req_case(), Command::kPing);
  EXPECT_EQ(received.ping().seq_no(), 7u);

  struct Answer {
    std::string wire;
    std::string dispatched;
  };
  const std::vector<Answer> answers = {
      {Bytes({0x08, 0x01, 0x22, 0x02, 0x08, 0x07}), "pong 7"},
      {Bytes({0x08, 0x01, 0x18, 0x65}), "result 101"},
      {Bytes({0x08, 0x01, 0x18, 0x00}), "result 0"},
      {Bytes({0x08, 0x01, 0x12, 0x06, 0x0A, 0x04, 'h', 'a', 'l', 't'}), "fatal halt"},
  };
  for (const auto& a : answers) {
    SCOPED_TRACE(a.dispatched);
    Response response;
    ASSERT_TRUE(response.ParseFromString(a.wire));
    EXPECT_EQ(response.version(), 1u);
    EXPECT_EQ(Dispatch(response), a.dispatched);
    EXPECT_WIRE(response, a.wire);
  }
}

TEST(CommandsEnvelope, LaterMemberReplacesSameMemberMerges) {
  Command command;
  ASSERT_TRUE(command.ParseFromString(Bytes({0x3A, 0x02, 0x08, 0x01, 0x42, 0x00})));
  EXPECT_EQ(command.req_case(), Command::kGetModuleKey);
  EXPECT_FALSE(command.has_ping());

  // publicKey twice: the serial number of the first and the key chain of the
  // second end up in one payload.
  Response response;
  ASSERT_TRUE(response.ParseFromString(
      Bytes({0x2A, 0x03, 0x0A, 0x01, 0x53, 0x2A, 0x03, 0x12, 0x01, 0x4B})));
  ASSERT_EQ(response.resp_case(), Response::kPublicKey);
  EXPECT_EQ(response.publickey().serialnumber(), "S");
  EXPECT_EQ(response.publickey().keychain(), "K");

  struct Order {
    std::string wire;
    Response::RespCase left;
  };
  const std::vector<Order> orders = {
      {Bytes({0x18, 0x00, 0x12, 0x00}), Response::kFatalError},
      {Bytes({0x12, 0x00, 0x18, 0x00}), Response::kResult},
      {Bytes({0x22, 0x02, 0x08, 0x05, 0x18, 0x0C}), Response::kResult},
  };
  for (const auto& o : orders) {
    SCOPED_TRACE(gcuproto_test::Hex(o.wire));
    Response parsed;
    ASSERT_TRUE(parsed.ParseFromString(o.wire));
    EXPECT_EQ(parsed.resp_case(), o.left);
  }
}

TEST(CommandsEnvelope, ResultIsWrittenEvenWhenOkAndKeepsUndeclaredValues) {
  Response response;
  response.set_result(ok);
  EXPECT_WIRE(response, Bytes({0x18, 0x00}));

  response.mutable_pong()->set_seq_no(3);
  EXPECT_EQ(response.result(), ok) << "reads ok while another member is active";
  response.set_result(notSupported);
  EXPECT_FALSE(response.has_pong());
  EXPECT_WIRE(response, Bytes({0x18, 0x65}));

  Response undeclared;
  ASSERT_TRUE(undeclared.ParseFromString(Bytes({0x18, 0x0C})));
  EXPECT_EQ(static_cast<int>(undeclared.result()), 12);
  EXPECT_WIRE(undeclared, Bytes({0x18, 0x0C}));
}

TEST(CommandsEnvelope, SetAllocatedNullClearsTheOneof) {
  Command command;
  command.mutable_aeskey()->set_data("key");
  command.set_allocated_ping(nullptr);
  EXPECT_EQ(command.req_case(), Command::REQ_NOT_SET);
  EXPECT_WIRE(command, std::string());

  Response response;
  response.set_result(fatalError);
  response.set_allocated_pong(nullptr);
  EXPECT_EQ(response.resp_case(), Response::RESP_NOT_SET);
  EXPECT_WIRE(response, std::string());
}

TEST(CommandsEnvelope, MergeFollowsTheSourceCase) {
  Command holding_ping;
  holding_ping.set_version(2);
  holding_ping.mutable_ping()->set_seq_no(9);

  Command set_pid;
  set_pid.mutable_pidtunerset();
  Command merged_replace = holding_ping;
  merged_replace.MergeFrom(set_pid);
  EXPECT_EQ(merged_replace.req_case(), Command::kPidTunerSet);
  EXPECT_EQ(merged_replace.version(), 2u);
  EXPECT_WIRE(merged_replace, Bytes({0x08, 0x02, 0xCA, 0x07, 0x00}));

  Command zero_ping;
  zero_ping.mutable_ping();
  Command merged_same = holding_ping;
  merged_same.MergeFrom(zero_ping);
  EXPECT_EQ(merged_same.ping().seq_no(), 9u) << "payloads merge, a 0 does not overwrite";

  Command merged_unset = holding_ping;
  merged_unset.MergeFrom(Command());
  EXPECT_EQ(merged_unset.req_case(), Command::kPing);

  Response with_key;
  with_key.mutable_publickey()->set_serialnumber("S");
  Response with_chain;
  with_chain.mutable_publickey()->set_keychain("K");
  with_key.MergeFrom(with_chain);
  EXPECT_EQ(with_key.publickey().serialnumber(), "S");
  EXPECT_EQ(with_key.publickey().keychain(), "K");

  Response ok_result;
  ok_result.set_result(ok);
  with_key.MergeFrom(ok_result);
  EXPECT_EQ(with_key.resp_case(), Response::kResult);
  EXPECT_WIRE(with_key, Bytes({0x18, 0x00}));
}

TEST(CommandsEnvelope, FatalErrorMessageMustBeUtf8DetailsNeedNot) {
  Response response;
  EXPECT_FALSE(response.ParseFromString(Bytes({0x12, 0x04, 0x0A, 0x02, 0xC3, 0x28})));

  ASSERT_TRUE(response.ParseFromString(Bytes({0x12, 0x04, 0x12, 0x02, 0xC3, 0x28})));
  ASSERT_EQ(response.resp_case(), Response::kFatalError);
  EXPECT_EQ(response.fatalerror().details(), Bytes({0xC3, 0x28}));
  EXPECT_TRUE(response.fatalerror().message().empty());
}

TEST(CommandsEnvelope, TwoByteKeysCarryPayloads) {
  Response response;
  response.mutable_deviceid()->set_mcuid(Bytes({0xAA}));
  EXPECT_WIRE(response, Bytes({0x92, 0x03, 0x03, 0x0A, 0x01, 0xAA}));

  Response parsed;
  ASSERT_TRUE(parsed.ParseFromString(Bytes({0x9A, 0x03, 0x02, 0x08, 0x04, 0x08, 0x01})));
  EXPECT_EQ(parsed.version(), 1u);
  ASSERT_EQ(parsed.resp_case(), Response::kFirmwareId);
  EXPECT_EQ(parsed.firmwareid().major_version(), 4u);

  // A request member sent with the varint wire type is not that member.
  Command command;
  ASSERT_TRUE(command.ParseFromString(Bytes({0x80, 0x01, 0x05})));
  EXPECT_EQ(command.req_case(), Command::REQ_NOT_SET);
  EXPECT_WIRE(command, Bytes({0x80, 0x01, 0x05}));
}

}  // namespace
