// CAN capture messages: the empty requests and acknowledgements and the frame report.
#include <gcuproto/candump.pb.h>

#include <google/protobuf/descriptor.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "wire.h"

namespace {

using gcuproto_test::Bytes;
using google::protobuf::FieldDescriptor;
using google::protobuf::Message;

TEST(CandumpSchema, MessagesAndFieldsAsDeclared) {
  const auto* file = CandumpResp::descriptor()->file();
  ASSERT_EQ(file->name(), "candump.proto");
  EXPECT_EQ(file->dependency_count(), 0);
  const char* const names[] = {"CandumpStartReq", "CandumpStopReq", "CandumpStartResp",
                               "CandumpStopResp", "CandumpResp"};
  ASSERT_EQ(file->message_type_count(), 5);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(file->message_type(i)->name(), names[i]);
    EXPECT_EQ(file->message_type(i)->field_count(), i < 4 ? 0 : 5) << names[i];
  }

  struct Case {
    const char* name;
    int number;
    FieldDescriptor::Type type;
  };
  const Case fields[] = {
      {"canId", 1, FieldDescriptor::TYPE_UINT32},
      {"timestamp", 2, FieldDescriptor::TYPE_UINT32},
      {"msgId", 3, FieldDescriptor::TYPE_UINT32},
      {"isExtended", 4, FieldDescriptor::TYPE_BOOL},
      {"data", 5, FieldDescriptor::TYPE_BYTES},
  };
  const auto* frame = CandumpResp::descriptor();
  for (int i = 0; i < frame->field_count(); ++i) {
    SCOPED_TRACE(fields[i].name);
    EXPECT_EQ(frame->field(i)->name(), fields[i].name);
    EXPECT_EQ(frame->field(i)->number(), fields[i].number);
    EXPECT_EQ(frame->field(i)->type(), fields[i].type);
    EXPECT_EQ(frame->field(i)->label(), FieldDescriptor::LABEL_OPTIONAL);
  }
}

TEST(CandumpEmptyMessages, WriteNothingButKeepUnknownFields) {
  const CandumpStartReq start_req;
  const CandumpStopReq stop_req;
  const CandumpStartResp start_resp;
  const CandumpStopResp stop_resp;
  for (const Message* message :
       std::initializer_list<const Message*>{&start_req, &stop_req, &start_resp, &stop_resp}) {
    SCOPED_TRACE(message->GetTypeName());
    EXPECT_WIRE(*message, "");
    std::unique_ptr<Message> parsed(message->New());
    ASSERT_TRUE(parsed->ParseFromString(Bytes({0x08, 0x01})));
    EXPECT_EQ(parsed->GetReflection()->GetUnknownFields(*parsed).field_count(), 1);
    EXPECT_WIRE(*parsed, Bytes({0x08, 0x01}));
  }
}

TEST(CandumpFrame, FrameBothWays) {
  const std::string wire =
      Bytes({0x08, 0x01, 0x10, 0xAC, 0x02, 0x20, 0x01, 0x2A, 0x02, 0x11, 0x22});
  CandumpResp frame;
  frame.set_canid(1);
  frame.set_timestamp(300);
  frame.set_msgid(0);
  frame.set_isextended(true);
  frame.set_data(Bytes({0x11, 0x22}));
  EXPECT_WIRE(frame, wire);
  EXPECT_WIRE(CandumpResp(), "");

  CandumpResp parsed;
  ASSERT_TRUE(parsed.ParseFromString(wire + Bytes({0x18, 0x07})));
  EXPECT_EQ(parsed.canid(), 1u);
  EXPECT_EQ(parsed.timestamp(), 300u);
  EXPECT_EQ(parsed.msgid(), 7u);
  EXPECT_TRUE(parsed.isextended());
  EXPECT_EQ(parsed.data(), Bytes({0x11, 0x22}));
}

TEST(CandumpFrame, ExtendedFlagIsNormalised) {
  struct Case {
    std::string in;
    bool extended;
    std::string out;
  };
  const Case cases[] = {
      {Bytes({0x20, 0x02}), true, Bytes({0x20, 0x01})},
      {Bytes({0x20, 0x00}), false, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(gcuproto_test::Hex(c.in));
    CandumpResp frame;
    ASSERT_TRUE(frame.ParseFromString(c.in));
    EXPECT_EQ(frame.isextended(), c.extended);
    EXPECT_WIRE(frame, c.out);
  }
}

TEST(CandumpFrame, MergeNeverClearsExtendedFlag) {
  CandumpResp target;
  target.set_isextended(true);
  target.set_canid(5);
  CandumpResp source;
  source.set_timestamp(9);
  target.MergeFrom(source);
  EXPECT_TRUE(target.isextended());
  EXPECT_EQ(target.canid(), 5u);
  EXPECT_EQ(target.timestamp(), 9u);
}

TEST(CandumpFrame, DataTakesAnyOctetsAndLength) {
  std::string payload(300, '\xFF');
  payload[1] = '\xC3';
  CandumpResp frame;
  frame.set_data(payload);
  const std::string wire = Bytes({0x2A, 0xAC, 0x02}) + payload;
  EXPECT_WIRE(frame, wire);
  CandumpResp parsed;
  ASSERT_TRUE(parsed.ParseFromString(wire));
  EXPECT_EQ(parsed.data(), payload);
}

}  // namespace
