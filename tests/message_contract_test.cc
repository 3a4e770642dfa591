// The contract every message class honours, shown on the identity messages:
// presence, unknown fields, repeated occurrences, merging, copying, clearing,
// swapping, ownership transfer, arenas and default instances.
#include <gcuproto/device_id.pb.h>

#include <google/protobuf/arena.h>
#include <google/protobuf/unknown_field_set.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "wire.h"

namespace {

using gcuproto_test::Bytes;
using gcuproto_test::Hex;

const google::protobuf::UnknownFieldSet& Unknown(const google::protobuf::Message& m) {
  return m.GetReflection()->GetUnknownFields(m);
}

TEST(UnknownFields, KeptAndWrittenAfterKnownFields) {
  // Field 99 (varint) arrives before the known field; it is written back after it.
  FirmwareId version;
  ASSERT_TRUE(version.ParseFromString(Bytes({0x98, 0x06, 0x2A, 0x08, 0x05})));
  EXPECT_EQ(version.major_version(), 5u);
  ASSERT_EQ(Unknown(version).field_count(), 1);
  EXPECT_EQ(Unknown(version).field(0).number(), 99);
  EXPECT_WIRE(version, Bytes({0x08, 0x05, 0x98, 0x06, 0x2A}));
}

TEST(UnknownFields, KnownNumberWithOtherWireTypeIsUnknown) {
  FirmwareId version;
  ASSERT_TRUE(version.ParseFromString(Bytes({0x0A, 0x00})));
  EXPECT_EQ(version.major_version(), 0u);
  EXPECT_EQ(Unknown(version).field_count(), 1);
  EXPECT_WIRE(version, Bytes({0x0A, 0x00}));

  DeviceId id;
  ASSERT_TRUE(id.ParseFromString(Bytes({0x08, 0x07})));
  EXPECT_EQ(id.mcuid(), "");
  EXPECT_WIRE(id, Bytes({0x08, 0x07}));
}

TEST(UnknownFields, GroupsAndFixedWidthKeptWhole) {
  const std::string wire = Bytes({0x23, 0x08, 0x01, 0x24,               // group 4 with a varint
                                  0x2D, 0x01, 0x02, 0x03, 0x04,         // fixed32 field 5
                                  0x31, 1, 2, 3, 4, 5, 6, 7, 8});       // fixed64 field 6
  GetFirmwareId request;
  ASSERT_TRUE(request.ParseFromString(wire));
  EXPECT_EQ(Unknown(request).field_count(), 3);
  EXPECT_WIRE(request, wire);
}

TEST(Parsing, LastOccurrenceWins) {
  FirmwareId version;
  ASSERT_TRUE(version.ParseFromString(Bytes({0x08, 0x05, 0x08, 0x07})));
  EXPECT_EQ(version.major_version(), 7u);

  DeviceId id;
  ASSERT_TRUE(id.ParseFromString(Bytes({0x0A, 0x02, 'a', 'b', 0x0A, 0x01, 'c'})));
  EXPECT_EQ(id.mcuid(), "c");
}

TEST(Parsing, MalformedInputFails) {
  struct Case {
    const char* what;
    std::string wire;
  };
  const Case cases[] = {
      {"varint cut short", Bytes({0x08, 0x80})},
      {"varint longer than ten bytes",
       Bytes({0x08, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x01})},
      {"key cut short", Bytes({0x80})},
      {"length beyond the input", Bytes({0x0A, 0x05, 0x01})},
      {"end-group key without a start", Bytes({0x0C})},
      {"field number 0", Bytes({0x02, 0x00})},
      {"wire type 6", Bytes({0x0E})},
      {"wire type 7", Bytes({0x0F})},
      {"fixed32 cut short", Bytes({0x2D, 0x01, 0x02})},
      {"group never closed", Bytes({0x23, 0x08, 0x01})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DeviceId id;
    EXPECT_FALSE(id.ParseFromString(c.wire)) << Hex(c.wire);
    FirmwareId version;
    EXPECT_FALSE(version.ParseFromString(c.wire)) << Hex(c.wire);
  }
}

TEST(Parsing, WhatWasReadBeforeAFailureStays) {
  FirmwareId version;
  EXPECT_FALSE(version.ParsePartialFromString(Bytes({0x08, 0x04, 0x10, 0x80})));
  EXPECT_EQ(version.major_version(), 4u);
}

TEST(Merging, NonZeroAndNonEmptyValuesWin) {
  FirmwareId target;
  target.set_major_version(1);
  target.set_minor_version(9);
  FirmwareId source;
  source.set_major_version(4);
  target.MergeFrom(source);
  EXPECT_EQ(target.major_version(), 4u);
  EXPECT_EQ(target.minor_version(), 9u);

  const std::string before = gcuproto_test::Wire(target);
  target.MergeFrom(FirmwareId());
  EXPECT_EQ(Hex(gcuproto_test::Wire(target)), Hex(before));

  DeviceId id;
  id.set_mcuid("abc");
  DeviceId other;
  other.set_storageid("s");
  id.MergeFrom(other);
  EXPECT_EQ(id.mcuid(), "abc");
  EXPECT_EQ(id.storageid(), "s");
}

TEST(Merging, UnknownFieldsAppended) {
  FirmwareId target;
  ASSERT_TRUE(target.ParseFromString(Bytes({0x98, 0x06, 0x01})));
  FirmwareId source;
  ASSERT_TRUE(source.ParseFromString(Bytes({0x98, 0x06, 0x02, 0x10, 0x03})));
  target.MergeFrom(source);
  EXPECT_WIRE(target, Bytes({0x10, 0x03, 0x98, 0x06, 0x01, 0x98, 0x06, 0x02}));

  // The reflective form (through the base class) takes the same path.
  FirmwareId via_base;
  via_base.MergeFrom(static_cast<const google::protobuf::Message&>(source));
  EXPECT_WIRE(via_base, Bytes({0x10, 0x03, 0x98, 0x06, 0x02}));
}

TEST(Copying, CopyFromClearsFirstAndIgnoresItself) {
  FirmwareId target;
  target.set_minor_version(9);
  FirmwareId source;
  source.set_major_version(2);
  target.CopyFrom(source);
  EXPECT_EQ(target.major_version(), 2u);
  EXPECT_EQ(target.minor_version(), 0u);

  target.CopyFrom(target);
  EXPECT_EQ(target.major_version(), 2u);

  DeviceId id;
  ASSERT_TRUE(id.ParseFromString(Bytes({0x0A, 0x01, 'x', 0x98, 0x06, 0x01})));
  const DeviceId copy(id);
  EXPECT_WIRE(copy, Bytes({0x0A, 0x01, 'x', 0x98, 0x06, 0x01}));
}

TEST(Clearing, BackToEmpty) {
  DeviceId id;
  ASSERT_TRUE(id.ParseFromString(Bytes({0x0A, 0x01, 'x', 0x12, 0x01, 'y', 0x98, 0x06, 0x01})));
  id.Clear();
  EXPECT_EQ(id.ByteSizeLong(), 0u);
  EXPECT_EQ(Unknown(id).field_count(), 0);
  EXPECT_WIRE(id, std::string());
}

TEST(Swapping, ExchangesValuesAndUnknownFields) {
  DeviceId a;
  ASSERT_TRUE(a.ParseFromString(Bytes({0x0A, 0x01, 'a', 0x98, 0x06, 0x01})));
  DeviceId b;
  b.set_storageid("b");
  a.Swap(&b);
  EXPECT_WIRE(a, Bytes({0x1A, 0x01, 'b'}));
  EXPECT_WIRE(b, Bytes({0x0A, 0x01, 'a', 0x98, 0x06, 0x01}));
  a.Swap(&a);
  EXPECT_EQ(a.storageid(), "b");
}

TEST(Ownership, ReleaseAndSetAllocatedOfBytes) {
  DeviceId id;
  id.set_allocated_mcuid(new std::string(Bytes({0x01, 0x02})));
  EXPECT_WIRE(id, Bytes({0x0A, 0x02, 0x01, 0x02}));

  std::unique_ptr<std::string> released(id.release_mcuid());
  ASSERT_NE(released, nullptr);
  EXPECT_EQ(*released, Bytes({0x01, 0x02}));
  EXPECT_EQ(id.mcuid(), "");
  EXPECT_WIRE(id, std::string());

  id.set_qspiflashid("q");
  id.set_allocated_qspiflashid(nullptr);
  EXPECT_EQ(id.qspiflashid(), "");

  id.mutable_storageid()->append("st");
  EXPECT_WIRE(id, Bytes({0x1A, 0x02, 's', 't'}));
}

TEST(Arenas, NewOnArenaAndOnHeap) {
  google::protobuf::Arena arena;
  FirmwareId* on_arena = FirmwareId::default_instance().New(&arena);
  EXPECT_EQ(on_arena->GetArena(), &arena);
  on_arena->set_major_version(3);
  EXPECT_WIRE(*on_arena, Bytes({0x08, 0x03}));

  std::unique_ptr<FirmwareId> on_heap(FirmwareId::default_instance().New());
  EXPECT_EQ(on_heap->GetArena(), nullptr);
}

TEST(DefaultInstances, ExportedEmptyAndTyped) {
  EXPECT_EQ(static_cast<const void*>(&_DeviceId_default_instance_),
            static_cast<const void*>(&DeviceId::default_instance()));
  EXPECT_EQ(static_cast<const void*>(&_FirmwareId_default_instance_),
            static_cast<const void*>(&FirmwareId::default_instance()));
  EXPECT_EQ(static_cast<const void*>(&_GetDeviceId_default_instance_),
            static_cast<const void*>(&GetDeviceId::default_instance()));
  EXPECT_EQ(static_cast<const void*>(&_GetFirmwareId_default_instance_),
            static_cast<const void*>(&GetFirmwareId::default_instance()));
  EXPECT_EQ(DeviceId::default_instance().ByteSizeLong(), 0u);
  EXPECT_EQ(DeviceId::default_instance().GetDescriptor(), DeviceId::descriptor());
}

}  // namespace
