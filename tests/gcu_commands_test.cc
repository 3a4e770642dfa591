// Configuration and calibration storage messages: wire bytes, result codes and schema shape.
#include <gcuproto/gcu_commands.pb.h>

#include <google/protobuf/descriptor.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "schema_summary.h"
#include "wire.h"

namespace {

using google::protobuf::Descriptor;
using google::protobuf::FieldDescriptor;
using google::protobuf::Message;
using gcuproto_test::Bytes;

using gcuproto_test::Fields;

TEST(GcuCommandsSchema, MessagesFieldsAndImportAsTheFirmwareDeclaresThem) {
  const auto* file = WriteConfigurationReq::descriptor()->file();
  ASSERT_EQ(file->dependency_count(), 1);
  EXPECT_EQ(file->dependency(0)->name(), "CommandResult.proto");
  EXPECT_EQ(file->enum_type_count(), 0);

  const std::vector<gcuproto_test::MessageShape> cases = {
      {WriteConfigurationReq::descriptor(), "segment=1 uint32; data=2 bytes"},
      {WriteConfigurationResp::descriptor(),
       "result=1 enum CommandResult; segment=2 uint32; bytesWritten=3 uint32"},
      {ReadConfigurationReq::descriptor(), "segment=1 uint32"},
      {ReadConfigurationResp::descriptor(),
       "result=1 enum CommandResult; segment=2 uint32; data=3 bytes"},
      {EraseConfigurationReq::descriptor(), "segment=1 uint32"},
      {EraseConfigurationResp::descriptor(), "segment=2 uint32; result=1 enum CommandResult"},
      {WriteCalibrationReq::descriptor(), "data=1 bytes"},
      {WriteCalibrationResp::descriptor(), "result=1 enum CommandResult; bytesWritten=2 uint32"},
  };
  gcuproto_test::ExpectMessages(file, cases);
}

// Each case is built in code, must serialise to exactly these bytes, and the bytes must parse
// back into the same values.
TEST(GcuCommandsWire, ExamplesInBothDirections) {
  struct Case {
    const char* name;
    std::function<std::unique_ptr<Message>()> build;
    std::string wire;
  };
  const std::vector<Case> cases = {
      {"write request with segment",
       [] {
         auto m = std::make_unique<WriteConfigurationReq>();
         m->set_segment(2);
         m->set_data(Bytes({0x01, 0x02}));
         return m;
       },
       Bytes({0x08, 0x02, 0x12, 0x02, 0x01, 0x02})},
      {"write request, segment 0 not written",
       [] {
         auto m = std::make_unique<WriteConfigurationReq>();
         m->set_data(Bytes({0x01, 0x02}));
         return m;
       },
       Bytes({0x12, 0x02, 0x01, 0x02})},
      {"write answer",
       [] {
         auto m = std::make_unique<WriteConfigurationResp>();
         m->set_result(memoryError);
         m->set_byteswritten(300);
         return m;
       },
       Bytes({0x08, 0x32, 0x18, 0xAC, 0x02})},
      {"read request",
       [] {
         auto m = std::make_unique<ReadConfigurationReq>();
         m->set_segment(7);
         return m;
       },
       Bytes({0x08, 0x07})},
      {"read answer, result only",
       [] {
         auto m = std::make_unique<ReadConfigurationResp>();
         m->set_result(notSupported);
         return m;
       },
       Bytes({0x08, 0x65})},
      {"read answer, all fields",
       [] {
         auto m = std::make_unique<ReadConfigurationResp>();
         m->set_result(verifyError);
         m->set_segment(4);
         m->set_data(Bytes({0xFF, 0x00, 0xFE}));
         return m;
       },
       Bytes({0x08, 0x03, 0x10, 0x04, 0x1A, 0x03, 0xFF, 0x00, 0xFE})},
      {"erase request",
       [] {
         auto m = std::make_unique<EraseConfigurationReq>();
         m->set_segment(3);
         return m;
       },
       Bytes({0x08, 0x03})},
      {"erase answer, result first on the wire",
       [] {
         auto m = std::make_unique<EraseConfigurationResp>();
         m->set_segment(3);
         m->set_result(flashEraseError);
         return m;
       },
       Bytes({0x08, 0x02, 0x10, 0x03})},
      {"calibration write, data not UTF-8",
       [] {
         auto m = std::make_unique<WriteCalibrationReq>();
         m->set_data(Bytes({0xFF, 0x00, 0xFE}));
         return m;
       },
       Bytes({0x0A, 0x03, 0xFF, 0x00, 0xFE})},
      {"calibration answer",
       [] {
         auto m = std::make_unique<WriteCalibrationResp>();
         m->set_result(flashWriteError);
         m->set_byteswritten(128);
         return m;
       },
       Bytes({0x08, 0x01, 0x10, 0x80, 0x01})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto built = c.build();
    EXPECT_WIRE_ROUND_TRIP(*built, c.wire);
  }
}

TEST(GcuCommandsWire, ParsedValuesLandInTheirFields) {
  WriteConfigurationResp write;
  ASSERT_TRUE(write.ParseFromString(Bytes({0x08, 0x32, 0x10, 0x05, 0x18, 0xAC, 0x02})));
  EXPECT_EQ(write.result(), memoryError);
  EXPECT_EQ(write.segment(), 5u);
  EXPECT_EQ(write.byteswritten(), 300u);

  ReadConfigurationResp read;
  ASSERT_TRUE(read.ParseFromString(Bytes({0x08, 0x65, 0x10, 0x09, 0x1A, 0x03, 0xFF, 0x00, 0xFE})));
  EXPECT_EQ(read.result(), notSupported);
  EXPECT_EQ(read.segment(), 9u);
  EXPECT_EQ(read.data(), Bytes({0xFF, 0x00, 0xFE}));

  WriteCalibrationReq calibration;
  ASSERT_TRUE(calibration.ParseFromString(Bytes({0x0A, 0x02, 0xC3, 0x28})));
  EXPECT_EQ(calibration.data(), Bytes({0xC3, 0x28}));

  WriteCalibrationResp calibrated;
  ASSERT_TRUE(calibrated.ParseFromString(Bytes({0x08, 0x0B, 0x10, 0x40})));
  EXPECT_EQ(calibrated.result(), aesDecryptError);
  EXPECT_EQ(calibrated.byteswritten(), 64u);
}

TEST(GcuCommandsWire, EraseAnswerDeclaresSegmentFirstButWritesResultFirst) {
  EXPECT_EQ(EraseConfigurationResp::kSegmentFieldNumber, 2);
  EXPECT_EQ(EraseConfigurationResp::kResultFieldNumber, 1);
  const Descriptor* erase = EraseConfigurationResp::descriptor();
  EXPECT_EQ(erase->field(0)->name(), "segment");
  EXPECT_EQ(erase->field(1)->name(), "result");
  EXPECT_EQ(erase->FindFieldByNumber(1)->index(), 1);

  // Both wire orders are accepted and give the same message.
  for (const std::string& wire :
       {Bytes({0x10, 0x03, 0x08, 0x02}), Bytes({0x08, 0x02, 0x10, 0x03})}) {
    SCOPED_TRACE(gcuproto_test::Hex(wire));
    EraseConfigurationResp parsed;
    ASSERT_TRUE(parsed.ParseFromString(wire));
    EXPECT_EQ(parsed.segment(), 3u);
    EXPECT_EQ(parsed.result(), flashEraseError);
    EXPECT_WIRE(parsed, Bytes({0x08, 0x02, 0x10, 0x03}));
  }
}

// The four answers share field 1 of type CommandResult: an open enum written as a sign-extended
// varint, so an undeclared code round-trips and a negative one takes ten value bytes.
TEST(GcuCommandsResult, EveryAnswerCarriesAnOpenCommandResultInField1) {
  const std::vector<const Message*> answers = {
      &WriteConfigurationResp::default_instance(), &ReadConfigurationResp::default_instance(),
      &EraseConfigurationResp::default_instance(), &WriteCalibrationResp::default_instance()};
  struct Value {
    int code;
    std::string wire;
    bool declared;
  };
  const std::vector<Value> values = {
      {ok, "", true},
      {fatalError, Bytes({0x08, 0x64}), true},
      {12, Bytes({0x08, 0x0C}), false},
      {-1, Bytes({0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01}), false},
  };
  for (const Message* prototype : answers) {
    SCOPED_TRACE(prototype->GetDescriptor()->name());
    const FieldDescriptor* result = prototype->GetDescriptor()->FindFieldByName("result");
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result->number(), 1);
    EXPECT_EQ(result->enum_type(), CommandResult_descriptor());
    for (const auto& v : values) {
      SCOPED_TRACE(v.code);
      std::unique_ptr<Message> set(prototype->New());
      set->GetReflection()->SetEnumValue(set.get(), result, v.code);
      EXPECT_WIRE(*set, v.wire);
      EXPECT_EQ(CommandResult_IsValid(v.code), v.declared);

      std::unique_ptr<Message> parsed(prototype->New());
      ASSERT_TRUE(parsed->ParseFromString(v.wire));
      EXPECT_EQ(parsed->GetReflection()->GetEnumValue(*parsed, result), v.code);
      EXPECT_WIRE(*parsed, v.wire);
    }
  }
}

TEST(GcuCommandsWire, UndeclaredResultCodeIsKeptAndWrittenBack) {
  WriteCalibrationResp answer;
  ASSERT_TRUE(answer.ParseFromString(Bytes({0x08, 0x0C})));
  EXPECT_EQ(static_cast<int>(answer.result()), 12);
  EXPECT_WIRE(answer, Bytes({0x08, 0x0C}));
}

TEST(GcuCommandsWire, DataIsBytesNotString) {
  // A string field would fail on FF; an empty data field is not written at all.
  ReadConfigurationResp read;
  ASSERT_TRUE(read.ParseFromString(Bytes({0x1A, 0x03, 0xFF, 0x00, 0xFE})));
  EXPECT_EQ(read.data(), Bytes({0xFF, 0x00, 0xFE}));
  read.clear_data();
  EXPECT_WIRE(read, "");

  WriteConfigurationReq write;
  ASSERT_TRUE(write.ParseFromString(Bytes({0x12, 0x02, 0xC0, 0x80})));
  EXPECT_EQ(write.data(), Bytes({0xC0, 0x80}));
}

TEST(GcuCommandsWire, DataUnderVarintKeyIsUnknownAndWrittenBackAfterKnownFields) {
  WriteConfigurationReq write;
  ASSERT_TRUE(write.ParseFromString(Bytes({0x10, 0x05, 0x08, 0x01})));
  EXPECT_TRUE(write.data().empty());
  EXPECT_EQ(write.segment(), 1u);
  EXPECT_EQ(write.GetReflection()->GetUnknownFields(write).field_count(), 1);
  EXPECT_WIRE(write, Bytes({0x08, 0x01, 0x10, 0x05}));
}

}  // namespace
