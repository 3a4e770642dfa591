// PID tuner messages: plain int32 gains and limits (ten-byte negatives), and
// the controller numbers of the answers.
#include <gcuproto/pid_commands.pb.h>

#include <google/protobuf/descriptor.h>
#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <string>
#include <vector>

#include "wire.h"

namespace {

using gcuproto_test::Bytes;
using google::protobuf::FieldDescriptor;
using google::protobuf::Message;

TEST(PidCommands, SchemaShapeInDeclarationOrder) {
  std::vector<std::string> shape;
  const auto* file = PidTunerStartReq::descriptor()->file();
  for (int m = 0; m < file->message_type_count(); ++m) {
    std::string line = file->message_type(m)->name() + ":";
    for (int f = 0; f < file->message_type(m)->field_count(); ++f) {
      const FieldDescriptor* field = file->message_type(m)->field(f);
      line += std::string(" ") + (field->is_repeated() ? "repeated " : "") + field->type_name() +
              " " + field->name() + "=" + std::to_string(field->number());
    }
    shape.push_back(line);
  }
  const std::string gains =
      " uint32 pidId=1 int32 p=2 int32 i=3 int32 d=4 int32 lowLimit=5 int32 highLimit=6";
  const std::vector<std::string> expected = {
      "PidTunerStartReq:",
      "PidTunerStartResp: uint32 pidCount=1",
      "PidTunerSetPidReq:" + gains,
      "PidTunerSetPidResp: uint32 pidId=1",
      "PidTunerGetPidReq: uint32 pidId=1",
      "PidTunerGetPidResp:" + gains,
      "PidTunerResetReq: uint32 pidId=1",
      "PidTunerResetResp: uint32 pidId=1",
  };
  EXPECT_EQ(shape, expected);
}

// Set and get carry the same six fields.
template <typename Gains>
void CheckGainsWire() {
  Gains fresh;
  EXPECT_WIRE(fresh, "");

  Gains one_negative;
  one_negative.set_pidid(3);
  one_negative.set_p(-1);
  EXPECT_WIRE(one_negative, Bytes({0x08, 0x03, 0x10, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                   0xFF, 0xFF, 0x01}));

  Gains all;
  all.set_pidid(1);
  all.set_p(2);
  all.set_i(3);
  all.set_d(4);
  all.set_lowlimit(300);
  all.set_highlimit(INT_MAX);
  const std::string all_wire = Bytes({0x08, 0x01, 0x10, 0x02, 0x18, 0x03, 0x20, 0x04, 0x28, 0xAC,
                                      0x02, 0x30, 0xFF, 0xFF, 0xFF, 0xFF, 0x07});
  EXPECT_WIRE(all, all_wire);
  Gains parsed;
  ASSERT_TRUE(parsed.ParseFromString(all_wire));
  EXPECT_EQ(parsed.pidid(), 1u);
  EXPECT_EQ(parsed.p(), 2);
  EXPECT_EQ(parsed.i(), 3);
  EXPECT_EQ(parsed.d(), 4);
  EXPECT_EQ(parsed.lowlimit(), 300);
  EXPECT_EQ(parsed.highlimit(), INT_MAX);

  // Every int32 field is sign-extended, not zigzag: ten value bytes each.
  Gains negatives;
  negatives.set_i(-2);
  negatives.set_d(INT_MIN);
  negatives.set_lowlimit(-1);
  negatives.set_highlimit(-300);
  EXPECT_WIRE(negatives,
              Bytes({0x18, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01,  //
                     0x20, 0x80, 0x80, 0x80, 0x80, 0xF8, 0xFF, 0xFF, 0xFF, 0xFF, 0x01,  //
                     0x28, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01,  //
                     0x30, 0xD4, 0xFD, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01}));
}

TEST(PidCommands, GainsAndLimitsOnTheWire) {
  {
    SCOPED_TRACE("PidTunerSetPidReq");
    CheckGainsWire<PidTunerSetPidReq>();
  }
  {
    SCOPED_TRACE("PidTunerGetPidResp");
    CheckGainsWire<PidTunerGetPidResp>();
  }
}

TEST(PidCommands, FiveByteNegativeParsesAndIsWrittenBackInTenBytes) {
  PidTunerGetPidResp resp;
  ASSERT_TRUE(resp.ParseFromString(Bytes({0x10, 0xFF, 0xFF, 0xFF, 0xFF, 0x0F})));
  EXPECT_EQ(resp.p(), -1);
  EXPECT_WIRE(resp, Bytes({0x10, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01}));
}

TEST(PidCommands, ControllerNumberMessages) {
  PidTunerStartResp start;
  start.set_pidcount(300);
  PidTunerSetPidResp set;
  set.set_pidid(300);
  PidTunerGetPidReq get;
  get.set_pidid(300);
  PidTunerResetReq reset;
  reset.set_pidid(300);
  PidTunerResetResp reset_resp;
  reset_resp.set_pidid(300);
  struct Case {
    const char* what;
    Message& message;
  };
  const Case cases[] = {{"start resp", start}, {"set resp", set}, {"get req", get},
                        {"reset req", reset}, {"reset resp", reset_resp}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_WIRE(c.message, Bytes({0x08, 0xAC, 0x02}));
    std::unique_ptr<Message> parsed(c.message.New());
    ASSERT_TRUE(parsed->ParseFromString(Bytes({0x08, 0x07})));
    const FieldDescriptor* first = parsed->GetDescriptor()->field(0);
    EXPECT_EQ(parsed->GetReflection()->GetUInt32(*parsed, first), 7u);
  }
}

TEST(PidCommands, UnexpectedFieldsAreKeptAndWrittenBackLast) {
  PidTunerSetPidReq set;
  ASSERT_TRUE(set.ParseFromString(Bytes({0x12, 0x00, 0x08, 0x03})));
  EXPECT_EQ(set.p(), 0);
  EXPECT_EQ(set.pidid(), 3u);
  EXPECT_WIRE(set, Bytes({0x08, 0x03, 0x12, 0x00}));

  PidTunerStartReq start;
  const std::string anything = Bytes({0x08, 0x01, 0x12, 0x01, 0x41});
  ASSERT_TRUE(start.ParseFromString(anything));
  EXPECT_EQ(start.GetReflection()->GetUnknownFields(start).field_count(), 2);
  EXPECT_WIRE(start, anything);
}

}  // namespace
