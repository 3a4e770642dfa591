// IO tuner payloads: field layout, the nested status enum, signed values.
#include <gcuproto/io_commands.pb.h>

#include "wire.h"

#include <google/protobuf/descriptor.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using gcuproto_test::Bytes;
using google::protobuf::Descriptor;
using google::protobuf::FieldDescriptor;

TEST(IoCommandsSchema, MessagesAndFieldsAsTheUnitDefinesThem) {
  struct FieldSpec {
    const char* name;
    int number;
    FieldDescriptor::Type type;
  };
  struct MessageSpec {
    const Descriptor* descriptor;
    std::vector<FieldSpec> fields;
  };
  const MessageSpec messages[] = {
      {IoTunerSetInputParamReq::descriptor(),
       {{"inputId", 1, FieldDescriptor::TYPE_UINT32},
        {"paramId", 2, FieldDescriptor::TYPE_UINT32},
        {"value", 3, FieldDescriptor::TYPE_SINT32}}},
      {IoTunerSetInputParamResp::descriptor(),
       {{"inputId", 1, FieldDescriptor::TYPE_UINT32},
        {"paramId", 2, FieldDescriptor::TYPE_UINT32},
        {"status", 3, FieldDescriptor::TYPE_ENUM}}},
  };
  const auto* file = IoTunerSetInputParamReq::descriptor()->file();
  EXPECT_EQ(file->name(), "io_commands.proto");
  ASSERT_EQ(file->message_type_count(), 2);
  EXPECT_EQ(file->enum_type_count(), 0);  // the status enum is nested
  for (int i = 0; i < 2; ++i) {
    const MessageSpec& spec = messages[i];
    SCOPED_TRACE(spec.descriptor->name());
    EXPECT_EQ(file->message_type(i), spec.descriptor);
    EXPECT_EQ(spec.descriptor->oneof_decl_count(), 0);
    ASSERT_EQ(spec.descriptor->field_count(), static_cast<int>(spec.fields.size()));
    for (std::size_t j = 0; j < spec.fields.size(); ++j) {
      const FieldDescriptor* field = spec.descriptor->field(static_cast<int>(j));
      SCOPED_TRACE(spec.fields[j].name);
      EXPECT_EQ(field->name(), spec.fields[j].name);
      EXPECT_EQ(field->number(), spec.fields[j].number);
      EXPECT_EQ(field->type(), spec.fields[j].type);
      EXPECT_FALSE(field->is_repeated());
    }
  }
  EXPECT_EQ(IoTunerSetInputParamResp::descriptor()->FindFieldByName("status")->enum_type(),
            IoTunerSetInputParamResp_InputSetStatus_descriptor());
}

TEST(IoCommandsSchema, NestedStatusEnum) {
  const auto* status = IoTunerSetInputParamResp_InputSetStatus_descriptor();
  EXPECT_EQ(status->full_name(), "IoTunerSetInputParamResp.InputSetStatus");
  EXPECT_EQ(status->containing_type(), IoTunerSetInputParamResp::descriptor());
  ASSERT_EQ(IoTunerSetInputParamResp::descriptor()->enum_type_count(), 1);

  struct Value {
    const char* name;
    int class_constant;
    int flat_constant;
  };
  const Value values[] = {
      {"Ok", IoTunerSetInputParamResp::Ok, IoTunerSetInputParamResp_InputSetStatus_Ok},
      {"ParamNotKnown", IoTunerSetInputParamResp::ParamNotKnown,
       IoTunerSetInputParamResp_InputSetStatus_ParamNotKnown},
      {"InvalidInputList", IoTunerSetInputParamResp::InvalidInputList,
       IoTunerSetInputParamResp_InputSetStatus_InvalidInputList},
      {"InputIdOutOfRange", IoTunerSetInputParamResp::InputIdOutOfRange,
       IoTunerSetInputParamResp_InputSetStatus_InputIdOutOfRange},
      {"InputNotFound", IoTunerSetInputParamResp::InputNotFound,
       IoTunerSetInputParamResp_InputSetStatus_InputNotFound},
  };
  ASSERT_EQ(status->value_count(), 5);
  for (int i = 0; i < 5; ++i) {
    SCOPED_TRACE(values[i].name);
    EXPECT_EQ(status->value(i)->name(), values[i].name);
    EXPECT_EQ(status->value(i)->number(), i);
    EXPECT_EQ(values[i].class_constant, i);
    EXPECT_EQ(values[i].flat_constant, i);
  }

  EXPECT_EQ(IoTunerSetInputParamResp::InputSetStatus_MIN, 0);
  EXPECT_EQ(IoTunerSetInputParamResp::InputSetStatus_MAX, 4);
  EXPECT_EQ(IoTunerSetInputParamResp::InputSetStatus_ARRAYSIZE, 5);
  for (int v : {0, 4}) EXPECT_TRUE(IoTunerSetInputParamResp_InputSetStatus_IsValid(v)) << v;
  for (int v : {-1, 5, 9}) EXPECT_FALSE(IoTunerSetInputParamResp_InputSetStatus_IsValid(v)) << v;
  EXPECT_FALSE(IoTunerSetInputParamResp::InputSetStatus_IsValid(5));
}

TEST(IoCommandsWire, RequestValueIsZigzag) {
  struct Case {
    uint32_t input_id, param_id;
    int32_t value;
    std::string wire;
  };
  const Case cases[] = {
      {2, 1, -1, Bytes({0x08, 0x02, 0x10, 0x01, 0x18, 0x01})},
      {2, 1, 1, Bytes({0x08, 0x02, 0x10, 0x01, 0x18, 0x02})},
      {0, 0, INT32_MIN, Bytes({0x18, 0xFF, 0xFF, 0xFF, 0xFF, 0x0F})},
      {300, 0, INT32_MAX, Bytes({0x08, 0xAC, 0x02, 0x18, 0xFE, 0xFF, 0xFF, 0xFF, 0x0F})},
      {0, 0, 0, std::string()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    IoTunerSetInputParamReq req;
    req.set_inputid(c.input_id);
    req.set_paramid(c.param_id);
    req.set_value(c.value);
    EXPECT_WIRE(req, c.wire);

    IoTunerSetInputParamReq parsed;
    ASSERT_TRUE(parsed.ParseFromString(c.wire));
    EXPECT_EQ(parsed.inputid(), c.input_id);
    EXPECT_EQ(parsed.paramid(), c.param_id);
    EXPECT_EQ(parsed.value(), c.value);
  }
}

TEST(IoCommandsWire, ResponseStatusIsOpenAndSignExtended) {
  struct Case {
    const char* what;
    int status;
    std::string wire;
  };
  const Case cases[] = {
      {"Ok with zero numbers is empty", IoTunerSetInputParamResp::Ok, std::string()},
      {"declared", IoTunerSetInputParamResp::InputNotFound, Bytes({0x18, 0x04})},
      {"undeclared kept", 9, Bytes({0x18, 0x09})},
      {"negative takes ten bytes", -1,
       Bytes({0x18, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    IoTunerSetInputParamResp parsed;
    ASSERT_TRUE(parsed.ParseFromString(c.wire));
    EXPECT_EQ(parsed.status(), c.status);
    EXPECT_WIRE(parsed, c.wire);

    IoTunerSetInputParamResp built;
    built.set_status(static_cast<IoTunerSetInputParamResp_InputSetStatus>(c.status));
    EXPECT_WIRE(built, c.wire);
  }

  IoTunerSetInputParamResp full;
  ASSERT_TRUE(full.ParseFromString(Bytes({0x08, 0x07, 0x10, 0x03, 0x18, 0x01})));
  EXPECT_EQ(full.inputid(), 7u);
  EXPECT_EQ(full.paramid(), 3u);
  EXPECT_EQ(full.status(), IoTunerSetInputParamResp::ParamNotKnown);
}

// Field 3 sent length-delimited is not the value: kept as unknown and written
// back after the known fields.
TEST(IoCommandsWire, ValueUnderWrongWireTypeIsUnknown) {
  IoTunerSetInputParamReq req;
  ASSERT_TRUE(req.ParseFromString(Bytes({0x1A, 0x01, 0x05, 0x08, 0x02})));
  EXPECT_EQ(req.value(), 0);
  EXPECT_EQ(req.inputid(), 2u);
  EXPECT_WIRE(req, Bytes({0x08, 0x02, 0x1A, 0x01, 0x05}));
}

}  // namespace
