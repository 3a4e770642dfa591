// Range constants of the nested enums under their flattened names, as every
// top-level enum has them (CommandResult_MIN); the build adds these names.
#include <gcuproto/SoftwareServer.pb.h>
#include <gcuproto/datalogger_commands.pb.h>
#include <gcuproto/driver_commands.pb.h>
#include <gcuproto/io_commands.pb.h>
#include <google/protobuf/descriptor.h>
#include <gtest/gtest.h>

namespace {

struct Range {
  const google::protobuf::EnumDescriptor* descriptor;
  int min;
  int max;
  int array_size;
};

TEST(NestedEnumRanges, FlattenedNamesMatchTheEnums) {
  const Range ranges[] = {
      {GetSerialNumberResp_DeviceMode_descriptor(), GetSerialNumberResp_DeviceMode_MIN,
       GetSerialNumberResp_DeviceMode_MAX, GetSerialNumberResp_DeviceMode_ARRAYSIZE},
      {ShowMessageReq_Icon_descriptor(), ShowMessageReq_Icon_MIN, ShowMessageReq_Icon_MAX,
       ShowMessageReq_Icon_ARRAYSIZE},
      {ShowMessageReq_Buttons_descriptor(), ShowMessageReq_Buttons_MIN, ShowMessageReq_Buttons_MAX,
       ShowMessageReq_Buttons_ARRAYSIZE},
      {ShowMessageResp_Buttons_descriptor(), ShowMessageResp_Buttons_MIN,
       ShowMessageResp_Buttons_MAX, ShowMessageResp_Buttons_ARRAYSIZE},
      {DataloggerStart_DataloggerMode_descriptor(), DataloggerStart_DataloggerMode_MIN,
       DataloggerStart_DataloggerMode_MAX, DataloggerStart_DataloggerMode_ARRAYSIZE},
      {DriverCalibrationStatusResp_CalibrationStatus_descriptor(),
       DriverCalibrationStatusResp_CalibrationStatus_MIN,
       DriverCalibrationStatusResp_CalibrationStatus_MAX,
       DriverCalibrationStatusResp_CalibrationStatus_ARRAYSIZE},
      {DriverCalibrationEraseReq_Calibration_descriptor(),
       DriverCalibrationEraseReq_Calibration_MIN, DriverCalibrationEraseReq_Calibration_MAX,
       DriverCalibrationEraseReq_Calibration_ARRAYSIZE},
      {IoTunerSetInputParamResp_InputSetStatus_descriptor(),
       IoTunerSetInputParamResp_InputSetStatus_MIN, IoTunerSetInputParamResp_InputSetStatus_MAX,
       IoTunerSetInputParamResp_InputSetStatus_ARRAYSIZE},
  };
  for (const Range& r : ranges) {
    SCOPED_TRACE(r.descriptor->full_name());
    int lowest = r.descriptor->value(0)->number();
    int highest = lowest;
    for (int i = 1; i < r.descriptor->value_count(); ++i) {
      lowest = std::min(lowest, r.descriptor->value(i)->number());
      highest = std::max(highest, r.descriptor->value(i)->number());
    }
    EXPECT_EQ(r.min, lowest);
    EXPECT_EQ(r.max, highest);
    EXPECT_EQ(r.array_size, highest + 1);
  }
  static_assert(ShowMessageReq_Icon_MAX == ShowMessageReq::Icon_MAX, "class and global agree");
}

}  // namespace
