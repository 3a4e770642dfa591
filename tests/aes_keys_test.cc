// AES key and AES-encrypted data records.
#include <gcuproto/aes_keys.pb.h>

#include <google/protobuf/descriptor.h>
#include <gtest/gtest.h>

#include <string>

#include "wire.h"

namespace {

using gcuproto_test::Bytes;
using google::protobuf::FieldDescriptor;

TEST(AesKeys, FieldsAreBytesUnderTheirNumbers) {
  struct Case {
    const google::protobuf::Descriptor* message;
    int index;
    const char* name;
    int number;
  };
  const Case cases[] = {
      {AesKey::descriptor(), 0, "key", 1},
      {AesEncryptedData::descriptor(), 0, "iv", 1},
      {AesEncryptedData::descriptor(), 1, "encryptedData", 2},
  };
  const auto* file = AesKey::descriptor()->file();
  EXPECT_EQ(file->name(), "aes_keys.proto");
  EXPECT_EQ(file->dependency_count(), 0);
  ASSERT_EQ(file->message_type_count(), 2);
  EXPECT_EQ(file->message_type(0), AesKey::descriptor());
  EXPECT_EQ(file->message_type(1), AesEncryptedData::descriptor());
  EXPECT_EQ(AesKey::descriptor()->field_count(), 1);
  EXPECT_EQ(AesEncryptedData::descriptor()->field_count(), 2);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const FieldDescriptor* f = c.message->field(c.index);
    EXPECT_EQ(f->name(), c.name);
    EXPECT_EQ(f->number(), c.number);
    EXPECT_EQ(f->type(), FieldDescriptor::TYPE_BYTES);
    EXPECT_EQ(f->label(), FieldDescriptor::LABEL_OPTIONAL);
  }
}

TEST(AesKeys, KeyIsWrittenWithItsLength) {
  EXPECT_WIRE(AesKey(), std::string());

  const std::string key16(16, '\xA5');
  AesKey key;
  key.set_key(key16);
  EXPECT_WIRE(key, Bytes({0x0A, 0x10}) + key16);

  AesKey back;
  ASSERT_TRUE(back.ParseFromString(Bytes({0x0A, 0x10}) + key16));
  EXPECT_EQ(back.key(), key16);

  // 128 bytes and more take a two-byte length.
  const std::string key128(128, '\x5A');
  key.set_key(key128);
  EXPECT_WIRE(key, Bytes({0x0A, 0x80, 0x01}) + key128);
}

TEST(AesKeys, SecondKeyRecordReplacesTheFirst) {
  AesKey key;
  ASSERT_TRUE(key.ParseFromString(Bytes({0x0A, 0x02, 0x01, 0x02, 0x0A, 0x01, 0x03})));
  EXPECT_EQ(key.key(), Bytes({0x03}));
}

TEST(AesKeys, EncryptedDataWritesIvBeforeData) {
  AesEncryptedData only_data;
  only_data.set_encrypteddata(Bytes({0xEE, 0xFF}));
  EXPECT_WIRE(only_data, Bytes({0x12, 0x02, 0xEE, 0xFF}));

  AesEncryptedData both;
  both.set_encrypteddata(Bytes({0xEE}));
  both.set_iv(Bytes({0x11, 0x22}));
  const std::string wire = Bytes({0x0A, 0x02, 0x11, 0x22, 0x12, 0x01, 0xEE});
  EXPECT_WIRE(both, wire);

  AesEncryptedData back;
  ASSERT_TRUE(back.ParseFromString(Bytes({0x12, 0x01, 0xEE, 0x0A, 0x02, 0x11, 0x22})));
  EXPECT_EQ(back.iv(), Bytes({0x11, 0x22}));
  EXPECT_EQ(back.encrypteddata(), Bytes({0xEE}));
  EXPECT_WIRE(back, wire);
}

// Key material and cryptograms are bytes: invalid UTF-8 is no error.
TEST(AesKeys, FieldsAcceptAnyBytes) {
  const std::string key_wire = Bytes({0x0A, 0x02, 0xFF, 0xFE});
  AesKey key;
  ASSERT_TRUE(key.ParseFromString(key_wire));
  EXPECT_WIRE(key, key_wire);

  const std::string data_wire = Bytes({0x0A, 0x01, 0xC0, 0x12, 0x01, 0xFF});
  AesEncryptedData data;
  ASSERT_TRUE(data.ParseFromString(data_wire));
  EXPECT_WIRE(data, data_wire);
}

}  // namespace
