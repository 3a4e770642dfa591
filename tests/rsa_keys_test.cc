// RSA key records and keychains: field layout, flag order, 64-bit time stamps.
#include <gcuproto/rsa_keys.pb.h>

#include <google/protobuf/descriptor.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "wire.h"

namespace {

using gcuproto_test::Bytes;
using google::protobuf::Descriptor;
using google::protobuf::FieldDescriptor;

struct FieldRow {
  const char* name;
  int number;
  FieldDescriptor::Type type;
  FieldDescriptor::Label label;
  const char* message_type;  // full name of a message field's type, else ""
};

struct MessageRows {
  const Descriptor* descriptor;
  std::vector<FieldRow> fields;  // declaration order
};

constexpr auto kOptional = FieldDescriptor::LABEL_OPTIONAL;
constexpr auto kRepeated = FieldDescriptor::LABEL_REPEATED;
constexpr auto kBytes = FieldDescriptor::TYPE_BYTES;
constexpr auto kBool = FieldDescriptor::TYPE_BOOL;
constexpr auto kUint32 = FieldDescriptor::TYPE_UINT32;
constexpr auto kMessage = FieldDescriptor::TYPE_MESSAGE;

TEST(RsaKeys, FieldsAreDeclaredAsTheKeyToolsExpect) {
  const std::vector<MessageRows> messages = {
      {PublicKey::descriptor(),
       {{"keyInfo", 1, kMessage, kOptional, "KeyInfo"},
        {"modulus", 2, kBytes, kOptional, ""},
        {"publicExponent", 3, kBytes, kOptional, ""}}},
      {PrivateKey::descriptor(),
       {{"keyInfo", 1, kMessage, kOptional, "KeyInfo"},
        {"modulus", 2, kBytes, kOptional, ""},
        {"publicExponent", 3, kBytes, kOptional, ""},
        {"privateExponent", 4, kBytes, kOptional, ""},
        {"primeFirst", 5, kBytes, kOptional, ""},
        {"primeSecond", 6, kBytes, kOptional, ""}}},
      {KeyInfo::descriptor(),
       {{"sequenceNo", 1, kUint32, kOptional, ""},
        {"keySeries", 2, kUint32, kOptional, ""},
        {"timestamp", 3, FieldDescriptor::TYPE_UINT64, kOptional, ""},
        {"capabilities", 4, kMessage, kOptional, "KeyCapabilities"}}},
      // Declared out of number order: the reflection index follows the declaration.
      {KeyCapabilities::descriptor(),
       {{"rootOfTrust", 1, kBool, kOptional, ""},
        {"series", 2, kBool, kOptional, ""},
        {"device", 3, kBool, kOptional, ""},
        {"updateOffLine", 4, kBool, kOptional, ""},
        {"update", 8, kBool, kOptional, ""},
        {"firmware", 9, kBool, kOptional, ""},
        {"encryption", 5, kBool, kOptional, ""},
        {"configuration", 6, kBool, kOptional, ""},
        {"development", 7, kBool, kOptional, ""}}},
      {SignedData::descriptor(),
       {{"data", 1, kBytes, kOptional, ""},
        {"signature", 2, kBytes, kOptional, ""},
        {"keySequenceNo", 3, kUint32, kOptional, ""}}},
      {EncryptedData::descriptor(),
       {{"cryptogram", 1, kBytes, kOptional, ""},
        {"keySequenceNo", 2, kUint32, kOptional, ""}}},
      {RsaKeychain::descriptor(), {{"keys", 1, kMessage, kRepeated, "SignedData"}}},
  };
  const auto* file = PublicKey::descriptor()->file();
  EXPECT_EQ(file->name(), "rsa_keys.proto");
  EXPECT_EQ(file->dependency_count(), 0);
  EXPECT_EQ(file->enum_type_count(), 0);
  ASSERT_EQ(file->message_type_count(), static_cast<int>(messages.size()));
  for (std::size_t m = 0; m < messages.size(); ++m) {
    const Descriptor* d = messages[m].descriptor;
    SCOPED_TRACE(d->full_name());
    EXPECT_EQ(file->message_type(static_cast<int>(m)), d) << "declaration order of messages";
    EXPECT_EQ(d->oneof_decl_count(), 0);
    ASSERT_EQ(d->field_count(), static_cast<int>(messages[m].fields.size()));
    for (int i = 0; i < d->field_count(); ++i) {
      const FieldRow& row = messages[m].fields[static_cast<std::size_t>(i)];
      const FieldDescriptor* f = d->field(i);
      SCOPED_TRACE(row.name);
      EXPECT_EQ(f->name(), row.name);
      EXPECT_EQ(f->number(), row.number);
      EXPECT_EQ(f->type(), row.type);
      EXPECT_EQ(f->label(), row.label);
      EXPECT_EQ(f->message_type() ? f->message_type()->full_name() : "", row.message_type);
    }
  }
}

// Each flag alone: its own key byte and 0x01, and back.
TEST(RsaKeys, EachCapabilityFlagHasItsOwnKey) {
  struct Case {
    const char* name;
    void (KeyCapabilities::*set)(bool);
    bool (KeyCapabilities::*get)() const;
    int key;
  };
  const Case cases[] = {
      {"rootOfTrust", &KeyCapabilities::set_rootoftrust, &KeyCapabilities::rootoftrust, 0x08},
      {"series", &KeyCapabilities::set_series, &KeyCapabilities::series, 0x10},
      {"device", &KeyCapabilities::set_device, &KeyCapabilities::device, 0x18},
      {"updateOffLine", &KeyCapabilities::set_updateoffline, &KeyCapabilities::updateoffline, 0x20},
      {"encryption", &KeyCapabilities::set_encryption, &KeyCapabilities::encryption, 0x28},
      {"configuration", &KeyCapabilities::set_configuration, &KeyCapabilities::configuration, 0x30},
      {"development", &KeyCapabilities::set_development, &KeyCapabilities::development, 0x38},
      {"update", &KeyCapabilities::set_update, &KeyCapabilities::update, 0x40},
      {"firmware", &KeyCapabilities::set_firmware, &KeyCapabilities::firmware, 0x48},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    KeyCapabilities out;
    (out.*c.set)(true);
    EXPECT_WIRE(out, Bytes({c.key, 0x01}));

    KeyCapabilities in;
    ASSERT_TRUE(in.ParseFromString(Bytes({c.key, 0x01})));
    EXPECT_TRUE((in.*c.get)());
    EXPECT_EQ(in.ByteSizeLong(), 2u) << "exactly one flag set";
  }
}

TEST(RsaKeys, FlagsAreWrittenInNumberOrderNotDeclarationOrder) {
  KeyCapabilities two;
  two.set_update(true);
  two.set_encryption(true);
  EXPECT_WIRE(two, Bytes({0x28, 0x01, 0x40, 0x01}));

  KeyCapabilities all;
  for (int i = 0; i < KeyCapabilities::descriptor()->field_count(); ++i) {
    all.GetReflection()->SetBool(&all, KeyCapabilities::descriptor()->field(i), true);
  }
  EXPECT_WIRE(all, Bytes({0x08, 0x01, 0x10, 0x01, 0x18, 0x01, 0x20, 0x01, 0x28, 0x01, 0x30, 0x01,
                          0x38, 0x01, 0x40, 0x01, 0x48, 0x01}));

  // Any order and any non-zero varint read as set.
  KeyCapabilities parsed;
  ASSERT_TRUE(parsed.ParseFromString(Bytes({0x40, 0x02, 0x28, 0x01})));
  EXPECT_TRUE(parsed.update());
  EXPECT_TRUE(parsed.encryption());
  EXPECT_FALSE(parsed.firmware());
  EXPECT_WIRE(parsed, Bytes({0x28, 0x01, 0x40, 0x01}));
}

TEST(RsaKeys, TimestampKeepsAllSixtyFourBits) {
  KeyInfo info;
  info.set_timestamp(UINT64_MAX);
  const std::string wire =
      Bytes({0x18, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01});
  EXPECT_WIRE(info, wire);
  KeyInfo back;
  ASSERT_TRUE(back.ParseFromString(wire));
  EXPECT_EQ(back.timestamp(), UINT64_MAX);

  KeyInfo above32;
  ASSERT_TRUE(above32.ParseFromString(Bytes({0x18, 0x80, 0x80, 0x80, 0x80, 0x10})));
  EXPECT_EQ(above32.timestamp(), std::uint64_t{1} << 32);
}

TEST(RsaKeys, KeyRecordsRoundTripInNumberOrder) {
  PrivateKey key;
  key.mutable_keyinfo()->set_sequenceno(3);
  key.mutable_keyinfo()->set_keyseries(2);
  key.mutable_keyinfo()->set_timestamp(300);
  key.mutable_keyinfo()->mutable_capabilities()->set_firmware(true);
  key.set_modulus(Bytes({0xC1}));
  key.set_publicexponent(Bytes({0x01, 0x00, 0x01}));
  key.set_privateexponent(Bytes({0xD2}));
  key.set_primefirst(Bytes({0xE3}));
  key.set_primesecond(Bytes({0xF4}));
  const std::string wire = Bytes({0x0A, 0x0B, 0x08, 0x03, 0x10, 0x02, 0x18, 0xAC, 0x02, 0x22,
                                  0x02, 0x48, 0x01,                     // keyInfo
                                  0x12, 0x01, 0xC1,                     // modulus
                                  0x1A, 0x03, 0x01, 0x00, 0x01,         // publicExponent
                                  0x22, 0x01, 0xD2, 0x2A, 0x01, 0xE3,   // private exponent, p
                                  0x32, 0x01, 0xF4});                   // q
  EXPECT_WIRE(key, wire);

  PrivateKey back;
  ASSERT_TRUE(back.ParseFromString(wire));
  EXPECT_EQ(back.keyinfo().sequenceno(), 3u);
  EXPECT_EQ(back.keyinfo().keyseries(), 2u);
  EXPECT_EQ(back.keyinfo().timestamp(), 300u);
  EXPECT_TRUE(back.keyinfo().capabilities().firmware());
  EXPECT_EQ(back.publicexponent(), Bytes({0x01, 0x00, 0x01}));
  EXPECT_EQ(back.primesecond(), Bytes({0xF4}));

  // A public key carries the same first three fields under the same keys.
  PublicKey pub;
  ASSERT_TRUE(pub.ParseFromString(wire.substr(0, 21)));
  EXPECT_EQ(pub.modulus(), Bytes({0xC1}));
  EXPECT_TRUE(pub.GetReflection()->GetUnknownFields(pub).empty());

  SignedData signed_data;
  signed_data.set_data("d");
  signed_data.set_signature("s");
  signed_data.set_keysequenceno(5);
  EXPECT_WIRE(signed_data, Bytes({0x0A, 0x01, 'd', 0x12, 0x01, 's', 0x18, 0x05}));

  EncryptedData encrypted;
  encrypted.set_cryptogram("c");
  encrypted.set_keysequenceno(5);
  EXPECT_WIRE(encrypted, Bytes({0x0A, 0x01, 'c', 0x10, 0x05}));
}

TEST(RsaKeys, EmptySubMessagesAreStillWritten) {
  PublicKey key;
  key.mutable_keyinfo();
  EXPECT_WIRE(key, Bytes({0x0A, 0x00}));
  PublicKey back;
  ASSERT_TRUE(back.ParseFromString(Bytes({0x0A, 0x00})));
  EXPECT_TRUE(back.has_keyinfo());
  EXPECT_FALSE(back.keyinfo().has_capabilities());
}

TEST(RsaKeys, KeychainKeepsEveryEntryInOrder) {
  RsaKeychain chain;
  chain.add_keys();
  chain.add_keys()->set_keysequenceno(9);
  chain.add_keys();
  const std::string wire = Bytes({0x0A, 0x00, 0x0A, 0x02, 0x18, 0x09, 0x0A, 0x00});
  EXPECT_WIRE(chain, wire);

  RsaKeychain back;
  ASSERT_TRUE(back.ParseFromString(wire));
  ASSERT_EQ(back.keys_size(), 3);
  EXPECT_EQ(back.keys(0).keysequenceno(), 0u);
  EXPECT_EQ(back.keys(1).keysequenceno(), 9u);
  EXPECT_EQ(back.keys(2).keysequenceno(), 0u);
  EXPECT_WIRE(back, wire);
}

TEST(RsaKeys, SecondKeyInfoRecordMergesIntoTheFirst) {
  PublicKey key;
  ASSERT_TRUE(key.ParseFromString(Bytes({0x0A, 0x02, 0x08, 0x07, 0x0A, 0x02, 0x10, 0x04})));
  EXPECT_EQ(key.keyinfo().sequenceno(), 7u);
  EXPECT_EQ(key.keyinfo().keyseries(), 4u);
}

// Key material is bytes, never text: no UTF-8 check on any of it.
TEST(RsaKeys, ByteFieldsAcceptAnyBytes) {
  const std::string bad = Bytes({0xFF, 0xC0});
  struct Case {
    const google::protobuf::Message& prototype;
    int key;
  };
  const Case cases[] = {
      {PublicKey::default_instance(), 0x12},  {PublicKey::default_instance(), 0x1A},
      {PrivateKey::default_instance(), 0x12}, {PrivateKey::default_instance(), 0x1A},
      {PrivateKey::default_instance(), 0x22}, {PrivateKey::default_instance(), 0x2A},
      {PrivateKey::default_instance(), 0x32}, {SignedData::default_instance(), 0x0A},
      {SignedData::default_instance(), 0x12}, {EncryptedData::default_instance(), 0x0A},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.prototype.GetTypeName() + " key " + std::to_string(c.key));
    std::unique_ptr<google::protobuf::Message> m(c.prototype.New());
    const std::string wire = Bytes({c.key, 0x02}) + bad;
    ASSERT_TRUE(m->ParseFromString(wire));
    EXPECT_TRUE(m->GetReflection()->GetUnknownFields(*m).empty());
    EXPECT_WIRE(*m, wire);
  }
}

}  // namespace
