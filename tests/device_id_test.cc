// The identity messages: their schema facts and the wire examples the unit
// firmware produces.
#include <gcuproto/device_id.pb.h>

#include <google/protobuf/descriptor.h>
#include <gtest/gtest.h>

#include <string>

#include "wire.h"

namespace {

using gcuproto_test::Bytes;
using google::protobuf::FieldDescriptor;

TEST(DeviceIdSchema, FieldsInDeclarationOrder) {
  struct Field {
    const google::protobuf::Descriptor* message;
    int index;
    const char* name;
    int number;
    FieldDescriptor::Type type;
  };
  const Field fields[] = {
      {DeviceId::descriptor(), 0, "mcuId", 1, FieldDescriptor::TYPE_BYTES},
      {DeviceId::descriptor(), 1, "qspiFlashId", 2, FieldDescriptor::TYPE_BYTES},
      {DeviceId::descriptor(), 2, "storageId", 3, FieldDescriptor::TYPE_BYTES},
      {FirmwareId::descriptor(), 0, "major_version", 1, FieldDescriptor::TYPE_UINT32},
      {FirmwareId::descriptor(), 1, "minor_version", 2, FieldDescriptor::TYPE_UINT32},
      {FirmwareId::descriptor(), 2, "build_version", 3, FieldDescriptor::TYPE_UINT32},
  };
  for (const Field& f : fields) {
    SCOPED_TRACE(f.name);
    const FieldDescriptor* field = f.message->field(f.index);
    EXPECT_EQ(field->name(), f.name);
    EXPECT_EQ(field->number(), f.number);
    EXPECT_EQ(field->type(), f.type);
    EXPECT_EQ(field->label(), FieldDescriptor::LABEL_OPTIONAL);
  }
  EXPECT_EQ(DeviceId::descriptor()->field_count(), 3);
  EXPECT_EQ(FirmwareId::descriptor()->field_count(), 3);
  EXPECT_EQ(GetDeviceId::descriptor()->field_count(), 0);
  EXPECT_EQ(GetFirmwareId::descriptor()->field_count(), 0);

  const auto* file = DeviceId::descriptor()->file();
  ASSERT_EQ(file->message_type_count(), 4);
  EXPECT_EQ(file->message_type(0)->name(), "GetDeviceId");
  EXPECT_EQ(file->message_type(1)->name(), "DeviceId");
  EXPECT_EQ(file->message_type(2)->name(), "GetFirmwareId");
  EXPECT_EQ(file->message_type(3)->name(), "FirmwareId");
  EXPECT_EQ(file->dependency_count(), 0);
}

TEST(DeviceIdSchema, FieldNumberConstants) {
  EXPECT_EQ(DeviceId::kMcuIdFieldNumber, 1);
  EXPECT_EQ(DeviceId::kQspiFlashIdFieldNumber, 2);
  EXPECT_EQ(DeviceId::kStorageIdFieldNumber, 3);
  EXPECT_EQ(FirmwareId::kMajorVersionFieldNumber, 1);
  EXPECT_EQ(FirmwareId::kMinorVersionFieldNumber, 2);
  EXPECT_EQ(FirmwareId::kBuildVersionFieldNumber, 3);
}

TEST(DeviceIdWire, Serialise) {
  DeviceId mcu_only;
  mcu_only.set_mcuid(Bytes({0x01, 0x02, 0x03}));
  EXPECT_WIRE(mcu_only, Bytes({0x0A, 0x03, 0x01, 0x02, 0x03}));

  DeviceId storage_only;
  storage_only.set_storageid(Bytes({0xAA}));
  EXPECT_WIRE(storage_only, Bytes({0x1A, 0x01, 0xAA}));

  DeviceId all;
  all.set_storageid("s");
  all.set_mcuid("m");
  all.set_qspiflashid("q");
  EXPECT_WIRE(all, Bytes({0x0A, 0x01, 'm', 0x12, 0x01, 'q', 0x1A, 0x01, 's'}));

  FirmwareId version;
  version.set_major_version(1);
  version.set_minor_version(2);
  version.set_build_version(3);
  EXPECT_WIRE(version, Bytes({0x08, 0x01, 0x10, 0x02, 0x18, 0x03}));

  FirmwareId build300;
  build300.set_build_version(300);
  EXPECT_WIRE(build300, Bytes({0x18, 0xAC, 0x02}));

  EXPECT_WIRE(FirmwareId(), std::string());
  EXPECT_WIRE(GetDeviceId(), std::string());
  EXPECT_WIRE(GetFirmwareId(), std::string());
}

TEST(DeviceIdWire, IdentifiersAreBytesNotText) {
  // Raw identifiers are not UTF-8 and contain zero bytes; nothing may reject them.
  const std::string raw = Bytes({0xFF, 0xFE, 0x00, 0x80});
  DeviceId id;
  id.set_mcuid(raw);
  id.set_qspiflashid(raw);
  const std::string wire = gcuproto_test::Wire(id);
  DeviceId parsed;
  ASSERT_TRUE(parsed.ParseFromString(wire));
  EXPECT_EQ(parsed.mcuid(), raw);
  EXPECT_EQ(parsed.qspiflashid(), raw);
  EXPECT_EQ(parsed.storageid(), "");
}

TEST(DeviceIdWire, Parse) {
  FirmwareId version;
  ASSERT_TRUE(version.ParseFromString(Bytes({0x08, 0x01, 0x10, 0x02, 0x18, 0xAC, 0x02})));
  EXPECT_EQ(version.major_version(), 1u);
  EXPECT_EQ(version.minor_version(), 2u);
  EXPECT_EQ(version.build_version(), 300u);

  // A 64-bit varint keeps its low 32 bits.
  FirmwareId wide;
  ASSERT_TRUE(wide.ParseFromString(
      Bytes({0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01})));
  EXPECT_EQ(wide.major_version(), 0xFFFFFFFFu);

  GetDeviceId request;
  ASSERT_TRUE(request.ParseFromString(std::string()));
  ASSERT_TRUE(request.ParseFromString(Bytes({0x08, 0x01})));
  EXPECT_EQ(request.GetReflection()->GetUnknownFields(request).field_count(), 1);
  EXPECT_EQ(request.ByteSizeLong(), 2u);
  EXPECT_WIRE(request, Bytes({0x08, 0x01}));
}

}  // namespace
