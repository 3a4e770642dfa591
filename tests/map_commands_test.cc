// Map tuner payloads: field layout, signed and packed encodings, open enums.
#include <gcuproto/map_commands.pb.h>

#include "wire.h"

#include <gmock/gmock.h>
#include <google/protobuf/descriptor.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using gcuproto_test::Bytes;
using google::protobuf::Descriptor;
using google::protobuf::FieldDescriptor;
using testing::ElementsAre;
using testing::ElementsAreArray;

struct FieldSpec {
  const char* name;
  int number;
  FieldDescriptor::Type type;
  const char* enum_type;  // full name of an enum field's type, else nullptr
};

constexpr auto kU32 = FieldDescriptor::TYPE_UINT32;
constexpr auto kS32 = FieldDescriptor::TYPE_SINT32;
constexpr auto kEnum = FieldDescriptor::TYPE_ENUM;
constexpr const char* kAxis = "MapTunerMapAxis";
constexpr const char* kResult = "MapTunerCommandResult";

// Messages in declaration order with their fields in declaration order. Only
// the three lists of MapTunerGetMapResp are repeated.
TEST(MapCommandsSchema, MessagesAndFieldsAsTheUnitDefinesThem) {
  struct MessageSpec {
    const Descriptor* descriptor;
    std::vector<FieldSpec> fields;
  };
  const std::vector<MessageSpec> messages = {
      {MapTunerStartReq::descriptor(), {}},
      {MapTunerStartResp::descriptor(), {{"mapCount", 1, kU32, nullptr}}},
      {MapTunerGetMapDetailsReq::descriptor(), {{"mapId", 1, kU32, nullptr}}},
      {MapTunerGetMapDetailsResp::descriptor(),
       {{"mapId", 1, kU32, nullptr}, {"sizeX", 2, kU32, nullptr}, {"sizeY", 3, kU32, nullptr}}},
      {MapTunerSetMapLabelReq::descriptor(),
       {{"mapId", 1, kU32, nullptr}, {"axis", 2, kEnum, kAxis},
        {"position", 3, kU32, nullptr}, {"label", 4, kS32, nullptr}}},
      {MapTunerSetMapLabelResp::descriptor(),
       {{"mapId", 1, kU32, nullptr}, {"axis", 2, kEnum, kAxis},
        {"position", 3, kU32, nullptr}, {"result", 4, kEnum, kResult}}},
      {MapTunerGetMapLabelReq::descriptor(),
       {{"mapId", 1, kU32, nullptr}, {"axis", 2, kEnum, kAxis}, {"position", 3, kU32, nullptr}}},
      {MapTunerGetMapLabelResp::descriptor(),
       {{"mapId", 1, kU32, nullptr}, {"axis", 2, kEnum, kAxis}, {"position", 3, kU32, nullptr},
        {"label", 4, kS32, nullptr}, {"result", 5, kEnum, kResult}}},
      {MapTunerSetMapValueReq::descriptor(),
       {{"mapId", 1, kU32, nullptr}, {"x", 2, kU32, nullptr}, {"y", 3, kU32, nullptr},
        {"value", 4, kS32, nullptr}}},
      {MapTunerSetMapValueResp::descriptor(),
       {{"mapId", 1, kU32, nullptr}, {"x", 2, kU32, nullptr}, {"y", 3, kU32, nullptr},
        {"result", 4, kEnum, kResult}}},
      {MapTunerGetMapValueReq::descriptor(),
       {{"mapId", 1, kU32, nullptr}, {"x", 2, kU32, nullptr}, {"y", 3, kU32, nullptr}}},
      {MapTunerGetMapValueResp::descriptor(),
       {{"mapId", 1, kU32, nullptr}, {"x", 2, kU32, nullptr}, {"y", 3, kU32, nullptr},
        {"value", 4, kS32, nullptr}, {"result", 5, kEnum, kResult}}},
      {MapTunerGetMapReq::descriptor(), {{"mapId", 1, kU32, nullptr}}},
      {MapTunerGetMapResp::descriptor(),
       {{"mapId", 1, kU32, nullptr}, {"x", 2, kS32, nullptr}, {"y", 3, kS32, nullptr},
        {"values", 4, kS32, nullptr}}},
      {MapTunerGetLastGetValueReq::descriptor(), {{"mapId", 1, kU32, nullptr}}},
      {MapTunerGetLastGetValueResp::descriptor(),
       {{"mapId", 1, kU32, nullptr}, {"x", 2, kS32, nullptr}, {"y", 3, kS32, nullptr},
        {"value", 4, kS32, nullptr}}},
  };

  const auto* file = MapTunerStartReq::descriptor()->file();
  EXPECT_EQ(file->name(), "map_commands.proto");
  ASSERT_EQ(file->message_type_count(), static_cast<int>(messages.size()));
  for (std::size_t i = 0; i < messages.size(); ++i) {
    const Descriptor* message = messages[i].descriptor;
    SCOPED_TRACE(message->name());
    EXPECT_EQ(file->message_type(static_cast<int>(i)), message);
    EXPECT_EQ(message->oneof_decl_count(), 0);
    EXPECT_EQ(message->enum_type_count(), 0);
    ASSERT_EQ(message->field_count(), static_cast<int>(messages[i].fields.size()));
    for (std::size_t j = 0; j < messages[i].fields.size(); ++j) {
      const FieldSpec& want = messages[i].fields[j];
      const FieldDescriptor* field = message->field(static_cast<int>(j));
      SCOPED_TRACE(want.name);
      EXPECT_EQ(field->name(), want.name);
      EXPECT_EQ(field->number(), want.number);
      EXPECT_EQ(field->type(), want.type);
      const bool is_list = message == MapTunerGetMapResp::descriptor() && want.number > 1;
      EXPECT_EQ(field->is_repeated(), is_list);
      EXPECT_EQ(field->is_packed(), is_list);
      if (want.enum_type != nullptr) {
        ASSERT_NE(field->enum_type(), nullptr);
        EXPECT_EQ(field->enum_type()->full_name(), want.enum_type);
      }
    }
  }
}

// Both enums are top-level, the result codes first; their enumerators are
// global names in declaration (= numeric) order.
TEST(MapCommandsSchema, TopLevelEnums) {
  const auto* file = MapTunerStartReq::descriptor()->file();
  ASSERT_EQ(file->enum_type_count(), 2);
  EXPECT_EQ(file->enum_type(0), MapTunerCommandResult_descriptor());
  EXPECT_EQ(file->enum_type(1), MapTunerMapAxis_descriptor());

  struct EnumSpec {
    const google::protobuf::EnumDescriptor* descriptor;
    std::vector<std::pair<const char*, int>> values;
  };
  const EnumSpec enums[] = {
      {MapTunerCommandResult_descriptor(),
       {{"mapTunerOk", mapTunerOk}, {"mapTunerWrongValue", mapTunerWrongValue},
        {"mapTunerValidationError", mapTunerValidationError},
        {"mapTunerMapNotFound", mapTunerMapNotFound}}},
      {MapTunerMapAxis_descriptor(), {{"xAxis", xAxis}, {"yAxis", yAxis}}},
  };
  for (const auto& e : enums) {
    SCOPED_TRACE(e.descriptor->name());
    ASSERT_EQ(e.descriptor->value_count(), static_cast<int>(e.values.size()));
    for (std::size_t i = 0; i < e.values.size(); ++i) {
      const auto* value = e.descriptor->value(static_cast<int>(i));
      EXPECT_EQ(value->name(), e.values[i].first);
      EXPECT_EQ(value->number(), static_cast<int>(i));
      EXPECT_EQ(e.values[i].second, static_cast<int>(i));
      EXPECT_EQ(value->full_name(), e.values[i].first);  // sibling of the messages
    }
  }

  EXPECT_EQ(MapTunerCommandResult_MIN, 0);
  EXPECT_EQ(MapTunerCommandResult_MAX, 3);
  EXPECT_EQ(MapTunerCommandResult_ARRAYSIZE, 4);
  EXPECT_EQ(MapTunerMapAxis_MIN, 0);
  EXPECT_EQ(MapTunerMapAxis_MAX, 1);
  EXPECT_EQ(MapTunerMapAxis_ARRAYSIZE, 2);
  for (int v : {-1, 4, 9}) EXPECT_FALSE(MapTunerCommandResult_IsValid(v)) << v;
  for (int v : {0, 3}) EXPECT_TRUE(MapTunerCommandResult_IsValid(v)) << v;
  for (int v : {-1, 2}) EXPECT_FALSE(MapTunerMapAxis_IsValid(v)) << v;
  EXPECT_TRUE(MapTunerMapAxis_IsValid(1));
}

// Each message with every field set, written in field order with its own key.
TEST(MapCommandsWire, EveryFieldUnderItsKey) {
  MapTunerStartResp start;
  start.set_mapcount(12);
  EXPECT_WIRE(start, Bytes({0x08, 0x0C}));

  MapTunerGetMapDetailsResp details;
  details.set_mapid(3);
  details.set_sizex(16);
  details.set_sizey(300);
  EXPECT_WIRE(details, Bytes({0x08, 0x03, 0x10, 0x10, 0x18, 0xAC, 0x02}));

  MapTunerGetMapLabelResp label;
  label.set_mapid(3);
  label.set_axis(yAxis);
  label.set_position(5);
  label.set_label(-2);
  label.set_result(mapTunerMapNotFound);
  EXPECT_WIRE(label, Bytes({0x08, 0x03, 0x10, 0x01, 0x18, 0x05, 0x20, 0x03, 0x28, 0x03}));

  MapTunerGetMapValueResp value;
  value.set_mapid(1);
  value.set_x(2);
  value.set_y(3);
  value.set_value(-300);
  value.set_result(mapTunerWrongValue);
  EXPECT_WIRE(value, Bytes({0x08, 0x01, 0x10, 0x02, 0x18, 0x03, 0x20, 0xD7, 0x04, 0x28, 0x01}));

  MapTunerGetLastGetValueResp last;
  last.set_mapid(1);
  last.set_x(-1);
  last.set_y(1);
  last.set_value(2);
  EXPECT_WIRE(last, Bytes({0x08, 0x01, 0x10, 0x01, 0x18, 0x02, 0x20, 0x04}));

  MapTunerGetMapValueResp parsed;
  ASSERT_TRUE(parsed.ParseFromString(
      Bytes({0x08, 0x01, 0x10, 0x02, 0x18, 0x03, 0x20, 0xD7, 0x04, 0x28, 0x01})));
  EXPECT_EQ(parsed.mapid(), 1u);
  EXPECT_EQ(parsed.x(), 2u);
  EXPECT_EQ(parsed.y(), 3u);
  EXPECT_EQ(parsed.value(), -300);
  EXPECT_EQ(parsed.result(), mapTunerWrongValue);
}

TEST(MapCommandsWire, LabelAxisAndZigzag) {
  MapTunerSetMapLabelReq req;
  req.set_label(-300);
  req.set_axis(xAxis);
  EXPECT_WIRE(req, Bytes({0x20, 0xD7, 0x04}));  // xAxis is 0: not written
  req.set_axis(yAxis);
  EXPECT_WIRE(req, Bytes({0x10, 0x01, 0x20, 0xD7, 0x04}));

  MapTunerSetMapLabelReq parsed;
  ASSERT_TRUE(parsed.ParseFromString(Bytes({0x10, 0x01, 0x20, 0xD7, 0x04})));
  EXPECT_EQ(parsed.axis(), yAxis);
  EXPECT_EQ(parsed.label(), -300);
}

// The same bytes: an unsigned cell coordinate in one message, a signed lookup
// position in the other.
TEST(MapCommandsWire, CellCoordinatesUnsignedLookupPositionSigned) {
  MapTunerGetMapValueResp cell;
  ASSERT_TRUE(cell.ParseFromString(Bytes({0x10, 0x01})));
  EXPECT_EQ(cell.x(), 1u);
  MapTunerGetLastGetValueResp lookup;
  ASSERT_TRUE(lookup.ParseFromString(Bytes({0x10, 0x01})));
  EXPECT_EQ(lookup.x(), -1);
}

TEST(MapCommandsWire, OpenEnumsKeptAndWrittenBack) {
  MapTunerSetMapLabelReq req;
  ASSERT_TRUE(req.ParseFromString(Bytes({0x10, 0x05})));
  EXPECT_EQ(req.axis(), 5);
  EXPECT_FALSE(MapTunerMapAxis_IsValid(req.axis()));
  EXPECT_WIRE(req, Bytes({0x10, 0x05}));

  MapTunerGetMapLabelResp label;
  ASSERT_TRUE(label.ParseFromString(Bytes({0x28, 0x09})));
  EXPECT_EQ(label.result(), 9);
  EXPECT_WIRE(label, Bytes({0x28, 0x09}));

  // A negative enum value is sign-extended to ten bytes, unlike sint32.
  const std::string negative =
      Bytes({0x20, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01});
  MapTunerSetMapValueResp resp;
  resp.set_result(static_cast<MapTunerCommandResult>(-1));
  EXPECT_WIRE(resp, negative);
  MapTunerSetMapValueResp back;
  ASSERT_TRUE(back.ParseFromString(negative));
  EXPECT_EQ(back.result(), -1);
}

TEST(MapCommandsGetMap, ListsWrittenPackedEmptyListLeavesNoTrace) {
  MapTunerGetMapResp map;
  EXPECT_WIRE(map, std::string());
  map.set_mapid(1);
  map.add_x(-1);
  map.add_x(1);
  map.add_values(2);
  const std::string wire = Bytes({0x08, 0x01, 0x12, 0x02, 0x01, 0x02, 0x22, 0x01, 0x04});
  EXPECT_WIRE(map, wire);

  MapTunerGetMapResp parsed;
  ASSERT_TRUE(parsed.ParseFromString(wire));
  EXPECT_EQ(parsed.mapid(), 1u);
  EXPECT_THAT(parsed.x(), ElementsAre(-1, 1));
  EXPECT_TRUE(parsed.y().empty());
  EXPECT_THAT(parsed.values(), ElementsAre(2));
}

// Packed and one-element-per-key forms in any mix; elements in wire order.
TEST(MapCommandsGetMap, PackedAndUnpackedFormsInAnyMix) {
  struct Case {
    const char* what;
    std::string wire;
    std::vector<int32_t> x, y, values;
  };
  const Case cases[] = {
      {"unpacked", Bytes({0x10, 0x01, 0x10, 0x02}), {-1, 1}, {}, {}},
      {"packed then unpacked", Bytes({0x12, 0x01, 0x01, 0x10, 0x02}), {-1, 1}, {}, {}},
      {"unpacked then packed", Bytes({0x10, 0x01, 0x12, 0x01, 0x02}), {-1, 1}, {}, {}},
      {"empty packed block", Bytes({0x12, 0x00}), {}, {}, {}},
      {"lists interleaved",
       Bytes({0x20, 0x03, 0x1A, 0x02, 0x04, 0x05, 0x22, 0x01, 0x06, 0x18, 0x08, 0x12, 0x01, 0x07}),
       {-4}, {2, -3, 4}, {-2, 3}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MapTunerGetMapResp map;
    ASSERT_TRUE(map.ParseFromString(c.wire));
    EXPECT_THAT(map.x(), ElementsAreArray(c.x));
    EXPECT_THAT(map.y(), ElementsAreArray(c.y));
    EXPECT_THAT(map.values(), ElementsAreArray(c.values));
  }

  MapTunerGetMapResp unpacked;
  ASSERT_TRUE(unpacked.ParseFromString(Bytes({0x10, 0x01, 0x10, 0x02})));
  EXPECT_WIRE(unpacked, Bytes({0x12, 0x02, 0x01, 0x02}));
}

TEST(MapCommandsGetMap, CutShortPackedBlockFails) {
  struct Case {
    const char* what;
    std::string wire;
  };
  const Case cases[] = {
      {"length past the input", Bytes({0x12, 0x03, 0x01, 0x02})},
      {"length ends inside an element", Bytes({0x22, 0x01, 0xD8, 0x04})},
      {"element cut by the end", Bytes({0x1A, 0x01, 0x80})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MapTunerGetMapResp map;
    EXPECT_FALSE(map.ParseFromString(c.wire));
  }
}

TEST(MapCommandsGetMap, MergeAppendsLists) {
  MapTunerGetMapResp target;
  target.set_mapid(4);
  target.add_values(1);
  target.add_values(2);
  MapTunerGetMapResp source;
  source.add_values(3);
  target.MergeFrom(source);
  EXPECT_EQ(target.mapid(), 4u);  // a zero mapId does not overwrite
  EXPECT_THAT(target.values(), ElementsAre(1, 2, 3));
}

void AppendVarint(std::string* out, uint32_t v) {
  while (v >= 0x80) {
    out->push_back(static_cast<char>((v & 0x7F) | 0x80));
    v >>= 7;
  }
  out->push_back(static_cast<char>(v));
}

uint32_t ZigZag(int32_t n) {
  return (static_cast<uint32_t>(n) << 1) ^ static_cast<uint32_t>(n >> 31);
}

// A full 32x32 map whose values need one to five bytes each: its packed form
// round-trips, the same map sent one element per key parses to the same lists,
// and a block cut inside the values fails.
TEST(MapCommandsGetMap, WholeMapRoundTrip) {
  constexpr int kSide = 32;
  std::vector<int32_t> x, y, values;
  for (int i = 0; i < kSide; ++i) {
    x.push_back(i * 100 - 1600);
    y.push_back(-i * 7);
  }
  for (int i = 0; i < kSide * kSide; ++i) {
    const int32_t v = (i % 5 == 0) ? INT32_MIN + i : (i - 512) * (i % 7 == 0 ? 100000 : 13);
    values.push_back(v);
  }

  MapTunerGetMapResp map;
  map.set_mapid(7);
  for (int32_t v : x) map.add_x(v);
  for (int32_t v : y) map.add_y(v);
  for (int32_t v : values) map.add_values(v);
  const std::string packed = map.SerializeAsString();

  std::string unpacked = Bytes({0x08, 0x07});
  auto append_unpacked = [&unpacked](int key, const std::vector<int32_t>& list) {
    for (int32_t v : list) {
      unpacked.push_back(static_cast<char>(key));
      AppendVarint(&unpacked, ZigZag(v));
    }
  };
  // Lists out of field order on purpose: each list keeps its own wire order.
  append_unpacked(0x20, values);
  append_unpacked(0x10, x);
  append_unpacked(0x18, y);

  struct Form {
    const char* what;
    const std::string& wire;
  };
  for (const Form& form : {Form{"packed", packed}, Form{"unpacked", unpacked}}) {
    SCOPED_TRACE(form.what);
    MapTunerGetMapResp parsed;
    ASSERT_TRUE(parsed.ParseFromString(form.wire));
    EXPECT_EQ(parsed.mapid(), 7u);
    EXPECT_THAT(parsed.x(), ElementsAreArray(x));
    EXPECT_THAT(parsed.y(), ElementsAreArray(y));
    EXPECT_THAT(parsed.values(), ElementsAreArray(values));
    EXPECT_WIRE(parsed, packed);
  }

  MapTunerGetMapResp truncated;
  EXPECT_FALSE(truncated.ParseFromString(packed.substr(0, packed.size() - 3)));
}

}  // namespace
