// Data logger messages: packed inputs and zigzag data, the nested mode enum,
// and a record whose fields are declared out of number order.
#include <gcuproto/datalogger_commands.pb.h>

#include <google/protobuf/descriptor.h>
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "wire.h"

namespace {

using gcuproto_test::Bytes;
using google::protobuf::Descriptor;
using google::protobuf::FieldDescriptor;
using google::protobuf::Message;

// One line per message, enum and field, in declaration order.
std::vector<std::string> Shape(const google::protobuf::FileDescriptor* file) {
  std::vector<std::string> lines;
  for (int m = 0; m < file->message_type_count(); ++m) {
    const Descriptor* message = file->message_type(m);
    lines.push_back("message " + message->name());
    for (int e = 0; e < message->enum_type_count(); ++e) {
      const auto* en = message->enum_type(e);
      std::string line = "enum " + en->name();
      for (int v = 0; v < en->value_count(); ++v)
        line += " " + en->value(v)->name() + "=" + std::to_string(en->value(v)->number());
      lines.push_back(line);
    }
    for (int f = 0; f < message->field_count(); ++f) {
      const FieldDescriptor* field = message->field(f);
      std::string type = field->type() == FieldDescriptor::TYPE_ENUM ? field->enum_type()->full_name()
                                                                     : field->type_name();
      lines.push_back(std::string(field->is_repeated() ? "repeated " : "") + type + " " +
                      field->name() + " = " + std::to_string(field->number()) +
                      (field->is_packed() ? " packed" : ""));
    }
  }
  return lines;
}

TEST(DataloggerCommands, SchemaShapeInDeclarationOrder) {
  const std::vector<std::string> expected = {
      "message DataloggerStart",
      "enum DataloggerMode active=0 passive=1",
      "uint32 frequency = 1",
      "repeated uint32 inputs = 2 packed",
      "DataloggerStart.DataloggerMode mode = 3",
      "message DataloggerStartResp",
      "message DataloggerStop",
      "message DataloggerStopResp",
      "message DataloggerDataReq",
      "message DataloggerDataResp",
      "uint32 seqNo = 1",
      "uint32 timestamp = 3",
      "repeated sint32 data = 2 packed",
  };
  EXPECT_EQ(Shape(DataloggerStart::descriptor()->file()), expected);
  EXPECT_EQ(DataloggerDataResp::descriptor()->FindFieldByNumber(3)->index(), 1);
}

DataloggerDataResp Record(unsigned seq, unsigned timestamp, std::vector<int> data) {
  DataloggerDataResp record;
  record.set_seqno(seq);
  record.set_timestamp(timestamp);
  for (int v : data) record.add_data(v);
  return record;
}

TEST(DataloggerCommands, SerialisesInFieldNumberOrder) {
  DataloggerStart start;
  start.set_frequency(100);
  for (unsigned input : {1u, 2u, 300u}) start.add_inputs(input);
  start.set_mode(DataloggerStart::passive);
  DataloggerStart single_zero;
  single_zero.add_inputs(0);
  DataloggerStart open_mode;
  open_mode.set_mode(static_cast<DataloggerStart_DataloggerMode>(-1));

  struct Case {
    const char* what;
    const Message& message;
    std::string wire;
  };
  const Case cases[] = {
      {"new start", DataloggerStart(), ""},
      {"start resp", DataloggerStartResp(), ""},
      {"stop", DataloggerStop(), ""},
      {"stop resp", DataloggerStopResp(), ""},
      {"data req", DataloggerDataReq(), ""},
      {"start", start, Bytes({0x08, 0x64, 0x12, 0x04, 0x01, 0x02, 0xAC, 0x02, 0x18, 0x01})},
      {"single zero input", single_zero, Bytes({0x12, 0x01, 0x00})},
      {"negative mode", open_mode,
       Bytes({0x18, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01})},
      {"record: data before timestamp", Record(7, 1000, {-1, 1, -2, 0}),
       Bytes({0x08, 0x07, 0x12, 0x04, 0x01, 0x02, 0x03, 0x00, 0x18, 0xE8, 0x07})},
      {"record: extreme data", Record(0, 0, {INT_MIN, INT_MAX}),
       Bytes({0x12, 0x0A, 0xFF, 0xFF, 0xFF, 0xFF, 0x0F, 0xFE, 0xFF, 0xFF, 0xFF, 0x0F})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_WIRE(c.message, c.wire);
  }
}

TEST(DataloggerCommands, ParsesTheWireExamples) {
  DataloggerStart start;
  ASSERT_TRUE(start.ParseFromString(
      Bytes({0x08, 0x64, 0x12, 0x04, 0x01, 0x02, 0xAC, 0x02, 0x18, 0x01})));
  EXPECT_EQ(start.frequency(), 100u);
  EXPECT_EQ(std::vector<unsigned>(start.inputs().begin(), start.inputs().end()),
            (std::vector<unsigned>{1, 2, 300}));
  EXPECT_EQ(start.mode(), DataloggerStart::passive);

  DataloggerDataResp record;
  ASSERT_TRUE(record.ParseFromString(Bytes({0x08, 0x07, 0x12, 0x09, 0x01, 0x02, 0x03, 0x00, 0xFF,
                                            0xFF, 0xFF, 0xFF, 0x0F, 0x18, 0xE8, 0x07})));
  EXPECT_EQ(record.seqno(), 7u);
  EXPECT_EQ(record.timestamp(), 1000u);
  EXPECT_EQ(std::vector<int>(record.data().begin(), record.data().end()),
            (std::vector<int>{-1, 1, -2, 0, INT_MIN}));
}

TEST(DataloggerCommands, RepeatedFieldsAcceptBothFormsInAnyMix) {
  struct Case {
    const char* what;
    std::string wire;
    std::vector<unsigned> inputs;
    std::string rewritten;
  };
  const Case cases[] = {
      {"unpacked", Bytes({0x10, 0x05, 0x10, 0x06}), {5, 6}, Bytes({0x12, 0x02, 0x05, 0x06})},
      {"unpacked then packed", Bytes({0x10, 0x05, 0x12, 0x02, 0x07, 0x08}), {5, 7, 8},
       Bytes({0x12, 0x03, 0x05, 0x07, 0x08})},
      {"two packed blocks", Bytes({0x12, 0x01, 0x07, 0x12, 0x01, 0x08}), {7, 8},
       Bytes({0x12, 0x02, 0x07, 0x08})},
      {"packed then unpacked", Bytes({0x12, 0x01, 0x07, 0x10, 0x03}), {7, 3},
       Bytes({0x12, 0x02, 0x07, 0x03})},
      {"empty block", Bytes({0x12, 0x00}), {}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    DataloggerStart start;
    ASSERT_TRUE(start.ParseFromString(c.wire));
    EXPECT_EQ(std::vector<unsigned>(start.inputs().begin(), start.inputs().end()), c.inputs);
    EXPECT_WIRE(start, c.rewritten);
  }

  // The unpacked form of data is zigzag too: 0x01 is -1, not 1.
  DataloggerDataResp record;
  ASSERT_TRUE(record.ParseFromString(Bytes({0x10, 0x01, 0x12, 0x01, 0x03, 0x10, 0x04})));
  EXPECT_EQ(std::vector<int>(record.data().begin(), record.data().end()),
            (std::vector<int>{-1, -2, 2}));
}

TEST(DataloggerCommands, CutShortPackedBlockFailsTheParse) {
  struct Case {
    const char* what;
    std::string wire;
  };
  const Case cases[] = {
      {"block longer than the input", Bytes({0x10, 0x05, 0x12, 0x03, 0x01, 0x02})},
      {"last varint runs past the block", Bytes({0x10, 0x05, 0x12, 0x01, 0x80, 0x01})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    DataloggerStart start;
    EXPECT_FALSE(start.ParseFromString(c.wire));
    ASSERT_GE(start.inputs_size(), 1);
    EXPECT_EQ(start.inputs(0), 5u);  // what came before the block stays
    DataloggerDataResp record;
    EXPECT_FALSE(record.ParseFromString(c.wire));
  }
}

TEST(DataloggerCommands, FieldTwoUnderFixedWireTypesIsUnknown) {
  const std::string wire = Bytes({0x15, 0x01, 0x00, 0x00, 0x00, 0x11, 0, 0, 0, 0, 0, 0, 0, 0});
  DataloggerDataResp record;
  ASSERT_TRUE(record.ParseFromString(wire));
  EXPECT_EQ(record.data_size(), 0);
  EXPECT_EQ(record.GetReflection()->GetUnknownFields(record).field_count(), 2);
  EXPECT_WIRE(record, wire);
}

TEST(DataloggerCommands, ModeIsAnOpenNestedEnum) {
  for (int v : {0, 1}) EXPECT_TRUE(DataloggerStart_DataloggerMode_IsValid(v)) << v;
  for (int v : {-1, 2, 5}) EXPECT_FALSE(DataloggerStart::DataloggerMode_IsValid(v)) << v;
  static_assert(DataloggerStart::active == DataloggerStart_DataloggerMode_active &&
                    DataloggerStart_DataloggerMode_active == 0,
                "active is 0");
  static_assert(DataloggerStart::passive == DataloggerStart_DataloggerMode_passive &&
                    DataloggerStart_DataloggerMode_passive == 1,
                "passive is 1");
  EXPECT_EQ(DataloggerStart::DataloggerMode_MIN, 0);
  EXPECT_EQ(DataloggerStart::DataloggerMode_MAX, 1);
  EXPECT_EQ(DataloggerStart::DataloggerMode_ARRAYSIZE, 2);
  EXPECT_EQ(DataloggerStart_DataloggerMode_DataloggerMode_MAX, DataloggerStart::DataloggerMode_MAX);
  EXPECT_EQ(DataloggerStart_DataloggerMode_descriptor()->full_name(), "DataloggerStart.DataloggerMode");
  EXPECT_EQ(DataloggerStart::DataloggerMode_Name(DataloggerStart::passive), "passive");

  DataloggerStart start;
  ASSERT_TRUE(start.ParseFromString(Bytes({0x18, 0x05})));
  EXPECT_EQ(start.mode(), 5);
  EXPECT_EQ(start.GetReflection()->GetUnknownFields(start).field_count(), 0);
  EXPECT_WIRE(start, Bytes({0x18, 0x05}));
}

}  // namespace
