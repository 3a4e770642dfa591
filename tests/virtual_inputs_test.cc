// Virtual input messages: the override switch and the zigzag-encoded value.
#include <gcuproto/virtual_inputs.pb.h>

#include <google/protobuf/descriptor.h>
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "wire.h"

namespace {

using gcuproto_test::Bytes;
using google::protobuf::FieldDescriptor;
using google::protobuf::Message;

TEST(VirtualInputs, SchemaShapeInDeclarationOrder) {
  std::vector<std::string> shape;
  const auto* file = VirtualInputOverride::descriptor()->file();
  for (int m = 0; m < file->message_type_count(); ++m) {
    shape.push_back("message " + file->message_type(m)->name());
    for (int f = 0; f < file->message_type(m)->field_count(); ++f) {
      const FieldDescriptor* field = file->message_type(m)->field(f);
      shape.push_back(std::string(field->is_repeated() ? "repeated " : "") + field->type_name() +
                      " " + field->name() + " = " + std::to_string(field->number()));
    }
  }
  const std::vector<std::string> expected = {
      "message VirtualInputOverride",     "uint32 virtualInputId = 1",
      "bool enableOverride = 2",          "message VirtualInputOverrideResp",
      "uint32 virtualInputId = 1",        "message VirtualInputSet",
      "uint32 virtualInputId = 1",        "sint32 virtualInputValue = 2",
      "message VirtualInputSetResp",      "uint32 virtualInputId = 1",
  };
  EXPECT_EQ(shape, expected);
}

VirtualInputOverride Override(unsigned id, bool on) {
  VirtualInputOverride m;
  m.set_virtualinputid(id);
  m.set_enableoverride(on);
  return m;
}

VirtualInputSet Set(unsigned id, int value) {
  VirtualInputSet m;
  m.set_virtualinputid(id);
  m.set_virtualinputvalue(value);
  return m;
}

TEST(VirtualInputs, Serialises) {
  VirtualInputOverrideResp override_resp;
  override_resp.set_virtualinputid(300);
  VirtualInputSetResp set_resp;
  set_resp.set_virtualinputid(300);

  struct Case {
    const char* what;
    const Message& message;
    std::string wire;
  };
  const Case cases[] = {
      {"new override", VirtualInputOverride(), ""},
      {"new override resp", VirtualInputOverrideResp(), ""},
      {"new set", VirtualInputSet(), ""},
      {"new set resp", VirtualInputSetResp(), ""},
      {"override on", Override(3, true), Bytes({0x08, 0x03, 0x10, 0x01})},
      {"override off sends no switch", Override(3, false), Bytes({0x08, 0x03})},
      {"set -100", Set(3, -100), Bytes({0x08, 0x03, 0x10, 0xC7, 0x01})},
      {"set 100", Set(0, 100), Bytes({0x10, 0xC8, 0x01})},
      {"set -1", Set(0, -1), Bytes({0x10, 0x01})},
      {"set 1", Set(0, 1), Bytes({0x10, 0x02})},
      {"set min", Set(0, INT_MIN), Bytes({0x10, 0xFF, 0xFF, 0xFF, 0xFF, 0x0F})},
      {"override resp 300", override_resp, Bytes({0x08, 0xAC, 0x02})},
      {"set resp 300", set_resp, Bytes({0x08, 0xAC, 0x02})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_WIRE(c.message, c.wire);
  }
}

TEST(VirtualInputs, Parses) {
  VirtualInputOverride override_req;
  ASSERT_TRUE(override_req.ParseFromString(Bytes({0x08, 0x03, 0x10, 0x05})));
  EXPECT_EQ(override_req.virtualinputid(), 3u);
  EXPECT_TRUE(override_req.enableoverride());
  EXPECT_WIRE(override_req, Bytes({0x08, 0x03, 0x10, 0x01}));

  // Zigzag: 0x01 is -1 and 0xC7 0x01 is -100, not the plain varints.
  struct Case {
    std::string wire;
    int value;
  };
  for (const Case& c : {Case{Bytes({0x10, 0x01}), -1}, Case{Bytes({0x10, 0xC7, 0x01}), -100},
                        Case{Bytes({0x10, 0xFE, 0xFF, 0xFF, 0xFF, 0x0F}), INT_MAX}}) {
    SCOPED_TRACE(gcuproto_test::Hex(c.wire));
    VirtualInputSet set;
    ASSERT_TRUE(set.ParseFromString(c.wire));
    EXPECT_EQ(set.virtualinputvalue(), c.value);
  }

  VirtualInputOverrideResp override_resp;
  VirtualInputSetResp set_resp;
  ASSERT_TRUE(override_resp.ParseFromString(Bytes({0x08, 0xAC, 0x02})));
  ASSERT_TRUE(set_resp.ParseFromString(Bytes({0x08, 0xAC, 0x02})));
  EXPECT_EQ(override_resp.virtualinputid(), 300u);
  EXPECT_EQ(set_resp.virtualinputid(), 300u);
}

TEST(VirtualInputs, ValueUnderAnotherWireTypeIsKeptUnknown) {
  VirtualInputSet set;
  ASSERT_TRUE(set.ParseFromString(Bytes({0x12, 0x00, 0x08, 0x03})));
  EXPECT_EQ(set.virtualinputvalue(), 0);
  EXPECT_EQ(set.virtualinputid(), 3u);
  EXPECT_EQ(set.GetReflection()->GetUnknownFields(set).field_count(), 1);
  EXPECT_WIRE(set, Bytes({0x08, 0x03, 0x12, 0x00}));
}

}  // namespace
