// Driver calibration messages: wire bytes, the three enums and the signed erase selectors.
#include <gcuproto/driver_commands.pb.h>

#include <google/protobuf/descriptor.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "schema_summary.h"
#include "wire.h"

namespace {

using google::protobuf::Descriptor;
using google::protobuf::EnumDescriptor;
using google::protobuf::FieldDescriptor;
using google::protobuf::Message;
using gcuproto_test::Bytes;

using gcuproto_test::Fields;

// "Name=value ..." in declaration order.
std::string Values(const EnumDescriptor* e) {
  std::string out;
  for (int i = 0; i < e->value_count(); ++i) {
    if (i != 0) out += " ";
    out += e->value(i)->name() + "=" + std::to_string(e->value(i)->number());
  }
  return out;
}

TEST(DriverCommandsSchema, MessagesAndFieldsAsTheFirmwareDeclaresThem) {
  const auto* file = DriverCalibrationStartReq::descriptor()->file();
  EXPECT_EQ(file->dependency_count(), 0);
  const std::vector<gcuproto_test::MessageShape> cases = {
      {DriverCalibrationStartReq::descriptor(), "calibrationMode=1 enum CalibrationMode"},
      {DriverCalibrationStartResp::descriptor(), ""},
      {DriverCalibrationStatusReq::descriptor(), ""},
      {DriverCalibrationStatusResp::descriptor(),
       "status=1 enum DriverCalibrationStatusResp.CalibrationStatus"},
      {DriverCalibrationEraseReq::descriptor(),
       "calibration=1 enum DriverCalibrationEraseReq.Calibration; controllerId=2 int32; "
       "categoryId=3 int32; parameterId=4 sint32"},
      {DriverCalibrationEraseResp::descriptor(), ""},
  };
  gcuproto_test::ExpectMessages(file, cases);
}

TEST(DriverCommandsSchema, EnumsNestedOrTopLevelWithTheirValues) {
  const auto* file = DriverCalibrationStartReq::descriptor()->file();
  ASSERT_EQ(file->enum_type_count(), 1);
  EXPECT_EQ(file->enum_type(0), CalibrationMode_descriptor());
  EXPECT_EQ(DriverCalibrationStatusResp::descriptor()->enum_type_count(), 1);
  EXPECT_EQ(DriverCalibrationEraseReq::descriptor()->enum_type_count(), 1);

  struct Case {
    const EnumDescriptor* e;
    const char* full_name;
    const char* values;
  };
  const std::vector<Case> cases = {
      {CalibrationMode_descriptor(), "CalibrationMode",
       "FullAdaptation=0 OutputsOnly=1 ControlersOnly=2 Dynamic=3"},
      {DriverCalibrationStatusResp_CalibrationStatus_descriptor(),
       "DriverCalibrationStatusResp.CalibrationStatus",
       "Invalid=0 Idle=1 Busy=2 OutputWaiting=3 OutputAdaptation=4 ControlerWaiting=5 "
       "ControlerAdaptation=6 DynamicAdaptationWaiting=7 DynamicAdaptation=8"},
      {DriverCalibrationEraseReq_Calibration_descriptor(), "DriverCalibrationEraseReq.Calibration",
       "Invalid=0 OutputAdaptation=1 ControllerAdaptation=2"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.full_name);
    EXPECT_EQ(c.e->full_name(), c.full_name);
    EXPECT_EQ(Values(c.e), c.values);
  }
}

TEST(DriverCommandsEnums, ValidityAndRangeConstants) {
  struct Case {
    const char* name;
    bool (*is_valid)(int);
    int min, max, arraysize;
    int expected_min, expected_max;
  };
  const std::vector<Case> cases = {
      {"CalibrationMode", CalibrationMode_IsValid, CalibrationMode_MIN, CalibrationMode_MAX,
       CalibrationMode_ARRAYSIZE, 0, 3},
      {"CalibrationStatus", DriverCalibrationStatusResp_CalibrationStatus_IsValid,
       DriverCalibrationStatusResp::CalibrationStatus_MIN,
       DriverCalibrationStatusResp::CalibrationStatus_MAX,
       DriverCalibrationStatusResp::CalibrationStatus_ARRAYSIZE, 0, 8},
      {"Calibration", DriverCalibrationEraseReq_Calibration_IsValid,
       DriverCalibrationEraseReq::Calibration_MIN, DriverCalibrationEraseReq::Calibration_MAX,
       DriverCalibrationEraseReq::Calibration_ARRAYSIZE, 0, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.min, c.expected_min);
    EXPECT_EQ(c.max, c.expected_max);
    EXPECT_EQ(c.arraysize, c.expected_max + 1);
    for (int v = c.expected_min; v <= c.expected_max; ++v) EXPECT_TRUE(c.is_valid(v)) << v;
    EXPECT_FALSE(c.is_valid(-1));
    EXPECT_FALSE(c.is_valid(c.expected_max + 1));
  }
}

TEST(DriverCommandsEnums, SameShortNamesKeepTheirOwnValuesPerEnum) {
  EXPECT_EQ(ControlersOnly, 2);
  EXPECT_EQ(Dynamic, 3);
  EXPECT_EQ(DriverCalibrationStatusResp::Invalid, 0);
  EXPECT_EQ(DriverCalibrationStatusResp::OutputAdaptation, 4);
  EXPECT_EQ(DriverCalibrationStatusResp::ControlerWaiting, 5);
  EXPECT_EQ(DriverCalibrationStatusResp::ControlerAdaptation, 6);
  EXPECT_EQ(DriverCalibrationStatusResp::DynamicAdaptation, 8);
  EXPECT_EQ(DriverCalibrationStatusResp_CalibrationStatus_OutputAdaptation, 4);
  EXPECT_EQ(DriverCalibrationEraseReq::Invalid, 0);
  EXPECT_EQ(DriverCalibrationEraseReq::OutputAdaptation, 1);
  EXPECT_EQ(DriverCalibrationEraseReq::ControllerAdaptation, 2);
  EXPECT_EQ(DriverCalibrationEraseReq_Calibration_OutputAdaptation, 1);
}

TEST(DriverCommandsWire, ExamplesInBothDirections) {
  DriverCalibrationStartReq full;
  full.set_calibrationmode(FullAdaptation);
  EXPECT_WIRE(full, "");

  DriverCalibrationStartReq start;
  start.set_calibrationmode(Dynamic);
  EXPECT_WIRE(start, Bytes({0x08, 0x03}));
  ASSERT_TRUE(start.ParseFromString(Bytes({0x08, 0x02})));
  EXPECT_EQ(start.calibrationmode(), ControlersOnly);

  DriverCalibrationStatusResp status;
  status.set_status(DriverCalibrationStatusResp::OutputAdaptation);
  EXPECT_WIRE(status, Bytes({0x08, 0x04}));
  ASSERT_TRUE(status.ParseFromString(Bytes({0x08, 0x07})));
  EXPECT_EQ(status.status(), DriverCalibrationStatusResp::DynamicAdaptationWaiting);

  DriverCalibrationEraseReq output;
  output.set_calibration(DriverCalibrationEraseReq::OutputAdaptation);
  EXPECT_WIRE(output, Bytes({0x08, 0x01}));

  // int32 selectors sign-extend to ten bytes, the sint32 parameter is zigzag.
  const std::string erase_wire = Bytes({0x08, 0x02, 0x10, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                        0xFF, 0xFF, 0x01, 0x18, 0x02, 0x20, 0x01});
  DriverCalibrationEraseReq erase;
  erase.set_calibration(DriverCalibrationEraseReq::ControllerAdaptation);
  erase.set_controllerid(-1);
  erase.set_categoryid(2);
  erase.set_parameterid(-1);
  EXPECT_WIRE(erase, erase_wire);

  DriverCalibrationEraseReq parsed;
  ASSERT_TRUE(parsed.ParseFromString(erase_wire));
  EXPECT_EQ(parsed.calibration(), DriverCalibrationEraseReq::ControllerAdaptation);
  EXPECT_EQ(parsed.controllerid(), -1);
  EXPECT_EQ(parsed.categoryid(), 2);
  EXPECT_EQ(parsed.parameterid(), -1);
}

TEST(DriverCommandsWire, SignedSelectors) {
  struct Case {
    int controller, category, parameter;
    std::string wire;
  };
  const std::vector<Case> cases = {
      {0, 0, 1, Bytes({0x20, 0x02})},
      {0, 0, -2, Bytes({0x20, 0x03})},
      {0, 0, -2147483647 - 1, Bytes({0x20, 0xFF, 0xFF, 0xFF, 0xFF, 0x0F})},
      {5, -2, 0,
       Bytes({0x10, 0x05, 0x18, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(gcuproto_test::Hex(c.wire));
    DriverCalibrationEraseReq built;
    built.set_controllerid(c.controller);
    built.set_categoryid(c.category);
    built.set_parameterid(c.parameter);
    EXPECT_WIRE(built, c.wire);
    DriverCalibrationEraseReq parsed;
    ASSERT_TRUE(parsed.ParseFromString(c.wire));
    EXPECT_EQ(parsed.controllerid(), c.controller);
    EXPECT_EQ(parsed.categoryid(), c.category);
    EXPECT_EQ(parsed.parameterid(), c.parameter);
  }

  // A five-byte -1 (low 32 bits only) reads as -1 and goes back out in the ten-byte form.
  DriverCalibrationEraseReq short_form;
  ASSERT_TRUE(short_form.ParseFromString(Bytes({0x10, 0xFF, 0xFF, 0xFF, 0xFF, 0x0F})));
  EXPECT_EQ(short_form.controllerid(), -1);
  EXPECT_WIRE(short_form,
              Bytes({0x10, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01}));
}

// Each enum field keeps a value the firmware might add later and writes it back unchanged.
TEST(DriverCommandsEnums, UndeclaredValuesAreKept) {
  struct Case {
    std::unique_ptr<Message> message;
    std::string wire;
    int value;
    bool (*is_valid)(int);
  };
  std::vector<Case> cases;
  cases.push_back({std::make_unique<DriverCalibrationStartReq>(), Bytes({0x08, 0x04}), 4,
                   CalibrationMode_IsValid});
  cases.push_back({std::make_unique<DriverCalibrationStatusResp>(), Bytes({0x08, 0x09}), 9,
                   DriverCalibrationStatusResp_CalibrationStatus_IsValid});
  cases.push_back({std::make_unique<DriverCalibrationEraseReq>(), Bytes({0x08, 0x03}), 3,
                   DriverCalibrationEraseReq_Calibration_IsValid});
  for (auto& c : cases) {
    SCOPED_TRACE(c.message->GetDescriptor()->name());
    ASSERT_TRUE(c.message->ParseFromString(c.wire));
    const FieldDescriptor* field = c.message->GetDescriptor()->field(0);
    EXPECT_EQ(c.message->GetReflection()->GetEnumValue(*c.message, field), c.value);
    EXPECT_FALSE(c.is_valid(c.value));
    EXPECT_WIRE(*c.message, c.wire);
  }

  DriverCalibrationStatusResp negative;
  negative.set_status(static_cast<DriverCalibrationStatusResp_CalibrationStatus>(-1));
  EXPECT_WIRE(negative,
              Bytes({0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01}));
}

TEST(DriverCommandsWire, FieldlessAnswersKeepWhatTheyReceive) {
  const std::string wire = Bytes({0x08, 0x01, 0x12, 0x01, 0x41});
  std::vector<std::unique_ptr<Message>> messages;
  messages.push_back(std::make_unique<DriverCalibrationStartResp>());
  messages.push_back(std::make_unique<DriverCalibrationStatusReq>());
  messages.push_back(std::make_unique<DriverCalibrationEraseResp>());
  for (auto& m : messages) gcuproto_test::ExpectKeptAsUnknown(m.get(), wire, 2);
}

}  // namespace
