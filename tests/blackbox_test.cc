// Blackbox log files: the line records, the file in its decoded and raw-line
// views, and the match with the data logger's answers.
#include <gcuproto/blackbox.pb.h>
#include <gcuproto/datalogger_commands.pb.h>

#include <google/protobuf/descriptor.h>
#include <google/protobuf/util/message_differencer.h>
#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "wire.h"

namespace {

using gcuproto_test::Bytes;
using google::protobuf::Message;
using google::protobuf::util::MessageDifferencer;

std::vector<int> Samples(const google::protobuf::RepeatedField<int>& field) {
  return {field.begin(), field.end()};
}

TEST(BlackboxSchema, FieldsInDeclarationOrder) {
  using google::protobuf::FieldDescriptor;
  struct Field {
    const google::protobuf::Descriptor* message;
    const char* name;
    int number;
    FieldDescriptor::Type type;
    bool repeated;
  };
  // Per message in file order; BlackboxFileLine declares 1, 3, 2, 4.
  const std::vector<std::vector<Field>> messages = {
      {{BlackboxFile::descriptor(), "line", 10, FieldDescriptor::TYPE_MESSAGE, true},
       {BlackboxFile::descriptor(), "lineCan", 11, FieldDescriptor::TYPE_MESSAGE, true}},
      {{BlackboxFileL::descriptor(), "line", 10, FieldDescriptor::TYPE_BYTES, true},
       {BlackboxFileL::descriptor(), "lineCan", 11, FieldDescriptor::TYPE_BYTES, true}},
      {{BlackboxFileLine::descriptor(), "seqNo", 1, FieldDescriptor::TYPE_UINT32, false},
       {BlackboxFileLine::descriptor(), "timestamp", 3, FieldDescriptor::TYPE_UINT32, false},
       {BlackboxFileLine::descriptor(), "dataInput", 2, FieldDescriptor::TYPE_SINT32, true},
       {BlackboxFileLine::descriptor(), "dataOutput", 4, FieldDescriptor::TYPE_SINT32, true}},
      {{BlackboxCandumpFileLine::descriptor(), "seqNo", 1, FieldDescriptor::TYPE_UINT32, false},
       {BlackboxCandumpFileLine::descriptor(), "timestamp", 2, FieldDescriptor::TYPE_UINT32, false},
       {BlackboxCandumpFileLine::descriptor(), "canId", 3, FieldDescriptor::TYPE_UINT32, false},
       {BlackboxCandumpFileLine::descriptor(), "messageId", 4, FieldDescriptor::TYPE_UINT32, false},
       {BlackboxCandumpFileLine::descriptor(), "extended", 5, FieldDescriptor::TYPE_BOOL, false},
       {BlackboxCandumpFileLine::descriptor(), "data", 6, FieldDescriptor::TYPE_BYTES, false}},
  };
  const auto* file = BlackboxFile::descriptor()->file();
  ASSERT_EQ(file->message_type_count(), static_cast<int>(messages.size()));
  for (std::size_t m = 0; m < messages.size(); ++m) {
    const auto* descriptor = file->message_type(static_cast<int>(m));
    EXPECT_EQ(descriptor, messages[m].front().message);
    ASSERT_EQ(descriptor->field_count(), static_cast<int>(messages[m].size()));
    for (std::size_t i = 0; i < messages[m].size(); ++i) {
      const Field& f = messages[m][i];
      const FieldDescriptor* field = descriptor->field(static_cast<int>(i));
      SCOPED_TRACE(descriptor->name() + "." + f.name);
      EXPECT_EQ(field->name(), f.name);
      EXPECT_EQ(field->number(), f.number);
      EXPECT_EQ(field->type(), f.type);
      EXPECT_EQ(field->is_repeated(), f.repeated);
      EXPECT_EQ(field->is_packed(), f.repeated && field->cpp_type() != FieldDescriptor::CPPTYPE_MESSAGE &&
                                        f.type != FieldDescriptor::TYPE_BYTES);
    }
  }
  EXPECT_EQ(BlackboxFileLine::descriptor()->field(1)->name(), "timestamp");
  EXPECT_EQ(BlackboxFileLine::descriptor()->field(2)->name(), "dataInput");
}

TEST(BlackboxWire, ExamplesBothDirections) {
  struct Case {
    const char* name;
    std::function<std::unique_ptr<Message>()> build;
    std::string wire;
  };
  const Case cases[] = {
      {"empty file", [] { return std::make_unique<BlackboxFile>(); }, ""},
      {"empty raw file", [] { return std::make_unique<BlackboxFileL>(); }, ""},
      {"logger line, samples before time stamp",
       [] {
         auto m = std::make_unique<BlackboxFileLine>();
         m->set_seqno(1);
         m->set_timestamp(2);
         m->add_datainput(-1);
         m->add_datainput(1);
         return m;
       },
       Bytes({0x08, 0x01, 0x12, 0x02, 0x01, 0x02, 0x18, 0x02})},
      {"extreme samples, outputs last",
       [] {
         auto m = std::make_unique<BlackboxFileLine>();
         m->set_timestamp(0xFFFFFFFFu);
         m->add_datainput(INT_MIN);
         m->add_dataoutput(-2);
         m->add_dataoutput(INT_MAX);
         return m;
       },
       Bytes({0x12, 0x05, 0xFF, 0xFF, 0xFF, 0xFF, 0x0F, 0x18, 0xFF, 0xFF, 0xFF, 0xFF, 0x0F, 0x22, 0x06,
              0x03, 0xFE, 0xFF, 0xFF, 0xFF, 0x0F})},
      {"CAN line, full 32-bit identifiers",
       [] {
         auto m = std::make_unique<BlackboxCandumpFileLine>();
         m->set_seqno(1);
         m->set_timestamp(0xFFFFFFFFu);
         m->set_canid(0x1FFFFFFFu);
         m->set_messageid(0x80000000u);
         m->set_extended(true);
         m->set_data(Bytes({0x00, 0xFF}));
         return m;
       },
       Bytes({0x08, 0x01, 0x10, 0xFF, 0xFF, 0xFF, 0xFF, 0x0F, 0x18, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x20,
              0x80, 0x80, 0x80, 0x80, 0x08, 0x28, 0x01, 0x32, 0x02, 0x00, 0xFF})},
      {"file with one empty logger line",
       [] {
         auto m = std::make_unique<BlackboxFile>();
         m->add_line();
         return m;
       },
       Bytes({0x52, 0x00})},
      {"logger lines before CAN lines, each list in order",
       [] {
         auto m = std::make_unique<BlackboxFile>();
         m->add_linecan()->set_seqno(5);
         m->add_line()->set_seqno(1);
         m->add_linecan();
         m->add_line()->set_seqno(2);
         return m;
       },
       Bytes({0x52, 0x02, 0x08, 0x01, 0x52, 0x02, 0x08, 0x02, 0x5A, 0x02, 0x08, 0x05, 0x5A, 0x00})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto built = c.build();
    EXPECT_WIRE_ROUND_TRIP(*built, c.wire);
  }
}

TEST(BlackboxWire, InterleavedLinesAreRegrouped) {
  BlackboxFile file;
  ASSERT_TRUE(file.ParseFromString(Bytes({0x5A, 0x02, 0x08, 0x05, 0x52, 0x02, 0x08, 0x01})));
  ASSERT_EQ(file.line_size(), 1);
  ASSERT_EQ(file.linecan_size(), 1);
  EXPECT_EQ(file.line(0).seqno(), 1u);
  EXPECT_EQ(file.linecan(0).seqno(), 5u);
  EXPECT_WIRE(file, Bytes({0x52, 0x02, 0x08, 0x01, 0x5A, 0x02, 0x08, 0x05}));
}

TEST(BlackboxWire, SamplesInEitherForm) {
  struct Case {
    const char* name;
    std::string wire;
    std::vector<int> input, output;
    std::string rewritten;
  };
  const Case cases[] = {
      {"unpacked inputs", Bytes({0x10, 0x02, 0x10, 0x04}), {1, 2}, {}, Bytes({0x12, 0x02, 0x02, 0x04})},
      {"unpacked then packed", Bytes({0x10, 0x02, 0x12, 0x02, 0x02, 0x04}), {1, 1, 2}, {},
       Bytes({0x12, 0x03, 0x02, 0x02, 0x04})},
      {"outputs, packed then unpacked", Bytes({0x22, 0x01, 0x03, 0x20, 0x04}), {}, {-2, 2},
       Bytes({0x22, 0x02, 0x03, 0x04})},
      {"wide varint cut to 32 bits", Bytes({0x10, 0x83, 0x80, 0x80, 0x80, 0x10}), {-2}, {},
       Bytes({0x12, 0x01, 0x03})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BlackboxFileLine line;
    ASSERT_TRUE(line.ParseFromString(c.wire));
    EXPECT_EQ(Samples(line.datainput()), c.input);
    EXPECT_EQ(Samples(line.dataoutput()), c.output);
    EXPECT_WIRE(line, c.rewritten);
  }
  BlackboxFileLine cut;
  EXPECT_FALSE(cut.ParseFromString(Bytes({0x12, 0x03, 0x02, 0x04})));
}

TEST(BlackboxWire, WrongWireTypeIsKeptAsUnknown) {
  BlackboxFileLine line;
  ASSERT_TRUE(line.ParseFromString(Bytes({0x0A, 0x01, 0x07})));  // seqNo as length-delimited
  EXPECT_EQ(line.seqno(), 0u);
  EXPECT_WIRE(line, Bytes({0x0A, 0x01, 0x07}));
  BlackboxFile file;
  ASSERT_TRUE(file.ParseFromString(Bytes({0x50, 0x01})));  // a line as a varint
  EXPECT_EQ(file.line_size(), 0);
  EXPECT_WIRE(file, Bytes({0x50, 0x01}));
}

// The same stream read decoded and line by line; empty lines included.
TEST(BlackboxViews, RawViewKeepsEveryLineByteForByte) {
  BlackboxFile file;
  auto* first = file.add_line();
  first->set_seqno(1);
  first->add_dataoutput(-3);
  file.add_line();
  auto* frame = file.add_linecan();
  frame->set_canid(0x123);
  frame->set_data("\x01\x02", 2);
  file.add_linecan();
  const std::string stream = file.SerializeAsString();

  BlackboxFileL raw;
  ASSERT_TRUE(raw.ParseFromString(stream));
  ASSERT_EQ(raw.line_size(), 2);
  ASSERT_EQ(raw.linecan_size(), 2);
  EXPECT_EQ(raw.line(0), file.line(0).SerializeAsString());
  EXPECT_EQ(raw.line(1), "");
  EXPECT_EQ(raw.linecan(0), file.linecan(0).SerializeAsString());
  EXPECT_EQ(raw.linecan(1), "");
  EXPECT_EQ(raw.SerializeAsString(), stream);

  BlackboxFile decoded;
  ASSERT_TRUE(decoded.ParseFromString(raw.SerializeAsString()));
  EXPECT_EQ(decoded.line_size(), 2);
  EXPECT_EQ(decoded.linecan_size(), 2);
  EXPECT_TRUE(MessageDifferencer::Equals(decoded, file));
}

TEST(BlackboxViews, CutShortRawLineFailsOnlyWhenDecoded) {
  BlackboxFileL raw;
  raw.add_line(Bytes({0x08, 0x80}));
  EXPECT_WIRE(raw, Bytes({0x52, 0x02, 0x08, 0x80}));
  BlackboxFile decoded;
  EXPECT_FALSE(decoded.ParseFromString(raw.SerializeAsString()));
  BlackboxFileL reread;
  ASSERT_TRUE(reread.ParseFromString(raw.SerializeAsString()));
  EXPECT_EQ(reread.line(0), Bytes({0x08, 0x80}));
}

// A logged data answer is stored as a logger line as it came from the unit.
TEST(BlackboxViews, LoggerAnswerReadsAsLine) {
  DataloggerDataResp resp;
  resp.set_seqno(7);
  resp.add_data(3);
  BlackboxFileLine line;
  ASSERT_TRUE(line.ParseFromString(resp.SerializeAsString()));
  EXPECT_EQ(line.seqno(), 7u);
  EXPECT_EQ(Samples(line.datainput()), std::vector<int>{3});
  EXPECT_EQ(line.dataoutput_size(), 0);

  line.set_timestamp(9);
  line.add_dataoutput(-1);
  DataloggerDataResp back;
  ASSERT_TRUE(back.ParseFromString(line.SerializeAsString()));
  EXPECT_EQ(back.timestamp(), 9u);
  EXPECT_EQ(back.GetReflection()->GetUnknownFields(back).field_count(), 1);
  EXPECT_EQ(back.SerializeAsString(), line.SerializeAsString());
}

}  // namespace
