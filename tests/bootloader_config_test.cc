// The bootloader's configuration record, USB identities and firmware signatures.
#include <gcuproto/bootloader_config.pb.h>
#include <gcuproto/rsa_keys.pb.h>

#include <google/protobuf/descriptor.h>
#include <google/protobuf/stubs/logging.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "wire.h"

namespace {

using gcuproto_test::Bytes;
using google::protobuf::FieldDescriptor;
using google::protobuf::LogLevel;

TEST(BootloaderConfig, FieldsAreDeclaredAsTheBootloaderExpects) {
  struct Row {
    const char* name;
    int number;
    FieldDescriptor::Type type;
    const char* message_type;  // full name of a message field's type, else ""
  };
  struct Message {
    const google::protobuf::Descriptor* descriptor;
    std::vector<Row> fields;  // declaration order
  };
  const std::vector<Message> messages = {
      {FirmwareSignature::descriptor(),
       {{"key", 1, FieldDescriptor::TYPE_BYTES, ""},
        {"signatureKeyNo", 2, FieldDescriptor::TYPE_UINT32, ""},
        {"signature", 3, FieldDescriptor::TYPE_BYTES, ""}}},
      {BootloaderConfigData::descriptor(),
       {{"bootloaderInfo", 1, FieldDescriptor::TYPE_MESSAGE, "USBDeviceInfo"},
        {"applicationInfo", 2, FieldDescriptor::TYPE_MESSAGE, "USBDeviceInfo"},
        {"serialNo", 3, FieldDescriptor::TYPE_STRING, ""},
        {"chainOfTrust", 5, FieldDescriptor::TYPE_BYTES, ""},
        {"boardKey", 6, FieldDescriptor::TYPE_BYTES, ""},
        {"deviceId", 7, FieldDescriptor::TYPE_MESSAGE, "SignedData"}}},
      {USBDeviceInfo::descriptor(),
       {{"manufacturer", 1, FieldDescriptor::TYPE_STRING, ""},
        {"name", 2, FieldDescriptor::TYPE_STRING, ""},
        {"vid", 3, FieldDescriptor::TYPE_FIXED32, ""},
        {"pid", 4, FieldDescriptor::TYPE_FIXED32, ""},
        {"version", 5, FieldDescriptor::TYPE_FIXED32, ""}}},
  };
  const auto* file = BootloaderConfigData::descriptor()->file();
  EXPECT_EQ(file->name(), "bootloader_config.proto");
  ASSERT_EQ(file->dependency_count(), 1);
  EXPECT_EQ(file->dependency(0), SignedData::descriptor()->file());
  EXPECT_EQ(file->dependency(0)->name(), "rsa_keys.proto");
  EXPECT_EQ(BootloaderConfigData::descriptor()->reserved_range_count(), 0);
  ASSERT_EQ(file->message_type_count(), static_cast<int>(messages.size()));
  for (std::size_t m = 0; m < messages.size(); ++m) {
    const auto* d = messages[m].descriptor;
    SCOPED_TRACE(d->full_name());
    EXPECT_EQ(file->message_type(static_cast<int>(m)), d) << "declaration order of messages";
    ASSERT_EQ(d->field_count(), static_cast<int>(messages[m].fields.size()));
    for (int i = 0; i < d->field_count(); ++i) {
      const Row& row = messages[m].fields[static_cast<std::size_t>(i)];
      const FieldDescriptor* f = d->field(i);
      SCOPED_TRACE(row.name);
      EXPECT_EQ(f->name(), row.name);
      EXPECT_EQ(f->number(), row.number);
      EXPECT_EQ(f->type(), row.type);
      EXPECT_EQ(f->label(), FieldDescriptor::LABEL_OPTIONAL);
      EXPECT_EQ(f->message_type() ? f->message_type()->full_name() : "", row.message_type);
    }
  }
}

// USB identities are four little-endian bytes each, never truncated to 16 bits.
TEST(BootloaderConfig, UsbIdentitiesAreFixedWidthLittleEndian) {
  struct Case {
    const char* what;
    std::uint32_t vid, pid, version;
    std::string wire;
  };
  const Case cases[] = {
      {"pid zero, version above 16 bits", 0x1234, 0, 0x10000,
       Bytes({0x1D, 0x34, 0x12, 0x00, 0x00, 0x2D, 0x00, 0x00, 0x01, 0x00})},
      {"vid all ones", UINT32_MAX, 0, 0, Bytes({0x1D, 0xFF, 0xFF, 0xFF, 0xFF})},
      {"pid byte order", 0, 0x12345678, 0, Bytes({0x25, 0x78, 0x56, 0x34, 0x12})},
      {"all three", 0x0483, 0xDF11, 0x0200,
       Bytes({0x1D, 0x83, 0x04, 0x00, 0x00, 0x25, 0x11, 0xDF, 0x00, 0x00, 0x2D, 0x00, 0x02, 0x00,
              0x00})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    USBDeviceInfo info;
    info.set_vid(c.vid);
    info.set_pid(c.pid);
    info.set_version(c.version);
    EXPECT_WIRE(info, c.wire);

    USBDeviceInfo back;
    ASSERT_TRUE(back.ParseFromString(c.wire));
    EXPECT_EQ(back.vid(), c.vid);
    EXPECT_EQ(back.pid(), c.pid);
    EXPECT_EQ(back.version(), c.version);
  }
}

// A varint under vid's number is not vid: it is kept as an unknown field.
TEST(BootloaderConfig, VidSentAsVarintIsKeptAsUnknown) {
  USBDeviceInfo info;
  ASSERT_TRUE(info.ParseFromString(Bytes({0x1D, 0x01, 0x00, 0x00, 0x00, 0x18, 0x05})));
  EXPECT_EQ(info.vid(), 1u);
  EXPECT_EQ(info.GetReflection()->GetUnknownFields(info).field_count(), 1);
  EXPECT_WIRE(info, Bytes({0x1D, 0x01, 0x00, 0x00, 0x00, 0x18, 0x05}));
}

TEST(BootloaderConfig, FullRecordRoundTrips) {
  BootloaderConfigData config;
  config.mutable_bootloaderinfo()->set_name("B");
  config.mutable_applicationinfo()->set_manufacturer("M");
  config.set_serialno("S1");
  config.set_chainoftrust(Bytes({0xC7}));
  config.set_boardkey(Bytes({0xB0}));
  config.mutable_deviceid()->set_keysequenceno(4);
  const std::string wire = Bytes({0x0A, 0x03, 0x12, 0x01, 'B',    // bootloaderInfo
                                  0x12, 0x03, 0x0A, 0x01, 'M',    // applicationInfo
                                  0x1A, 0x02, 'S', '1',           // serialNo
                                  0x2A, 0x01, 0xC7,               // chainOfTrust
                                  0x32, 0x01, 0xB0,               // boardKey
                                  0x3A, 0x02, 0x18, 0x04});       // deviceId
  EXPECT_WIRE(config, wire);

  BootloaderConfigData back;
  ASSERT_TRUE(back.ParseFromString(wire));
  EXPECT_EQ(back.bootloaderinfo().name(), "B");
  EXPECT_EQ(back.applicationinfo().manufacturer(), "M");
  EXPECT_EQ(back.serialno(), "S1");
  EXPECT_EQ(back.chainoftrust(), Bytes({0xC7}));
  EXPECT_EQ(back.boardkey(), Bytes({0xB0}));
  EXPECT_EQ(back.deviceid().keysequenceno(), 4u);
  EXPECT_TRUE(back.GetReflection()->GetUnknownFields(back).empty());

  FirmwareSignature signature;
  signature.set_key(Bytes({0xFF}));
  signature.set_signaturekeyno(3);
  signature.set_signature(Bytes({0xFE}));
  const std::string signature_wire = Bytes({0x0A, 0x01, 0xFF, 0x10, 0x03, 0x1A, 0x01, 0xFE});
  EXPECT_WIRE(signature, signature_wire);
  FirmwareSignature signature_back;
  ASSERT_TRUE(signature_back.ParseFromString(signature_wire));
  EXPECT_EQ(signature_back.signaturekeyno(), 3u);
  EXPECT_EQ(signature_back.signature(), Bytes({0xFE}));
}

TEST(BootloaderConfig, DefaultInstanceWritesNothing) {
  const BootloaderConfigData& config = BootloaderConfigData::default_instance();
  EXPECT_WIRE(config, std::string());
  EXPECT_FALSE(config.has_bootloaderinfo());
  EXPECT_FALSE(config.has_applicationinfo());
  EXPECT_FALSE(config.has_deviceid());
  EXPECT_EQ(&config.bootloaderinfo(), &USBDeviceInfo::default_instance());
  EXPECT_EQ(&config.applicationinfo(), &USBDeviceInfo::default_instance());
  EXPECT_EQ(&config.deviceid(), &SignedData::default_instance());
}

TEST(BootloaderConfig, EmptyDeviceIdIsWrittenAndClearingRemovesIt) {
  BootloaderConfigData config;
  config.mutable_deviceid();
  EXPECT_WIRE(config, Bytes({0x3A, 0x00}));

  config.set_boardkey(Bytes({0x01}));
  config.mutable_deviceid()->set_data("x");
  config.clear_deviceid();
  EXPECT_FALSE(config.has_deviceid());
  EXPECT_WIRE(config, Bytes({0x32, 0x01, 0x01}));
}

// Field number 4 is unused: a record under it is kept and written after field 7.
TEST(BootloaderConfig, FieldFourIsUnknownAndWrittenLast) {
  BootloaderConfigData config;
  ASSERT_TRUE(config.ParseFromString(Bytes({0x22, 0x01, 0xAB, 0x3A, 0x00})));
  ASSERT_EQ(config.GetReflection()->GetUnknownFields(config).field_count(), 1);
  EXPECT_EQ(config.GetReflection()->GetUnknownFields(config).field(0).number(), 4);
  EXPECT_TRUE(config.has_deviceid());
  EXPECT_WIRE(config, Bytes({0x3A, 0x00, 0x22, 0x01, 0xAB}));
}

// Collects what the runtime logs at error level while it is alive.
class LogCapture {
 public:
  LogCapture() : previous_(google::protobuf::SetLogHandler(&Record)) { Text().clear(); }
  ~LogCapture() { google::protobuf::SetLogHandler(previous_); }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  static std::string& Text() {
    static std::string text;
    return text;
  }

 private:
  static void Record(LogLevel level, const char*, int, const std::string& message) {
    if (level >= google::protobuf::LOGLEVEL_ERROR) Text() += message + "\n";
  }

  google::protobuf::LogHandler* previous_;
};

// Every text field: invalid UTF-8 fails the parse; set through the accessor it is
// written unchanged after an error naming the field.
TEST(BootloaderConfig, TextFieldsAreCheckedForUtf8) {
  struct Case {
    const char* field;  // as the runtime names it
    const google::protobuf::Message& prototype;
    int key;
    void (*set)(google::protobuf::Message*, const std::string&);
  };
  const Case cases[] = {
      {"BootloaderConfigData.serialNo", BootloaderConfigData::default_instance(), 0x1A,
       [](google::protobuf::Message* m, const std::string& v) {
         static_cast<BootloaderConfigData*>(m)->set_serialno(v);
       }},
      {"USBDeviceInfo.manufacturer", USBDeviceInfo::default_instance(), 0x0A,
       [](google::protobuf::Message* m, const std::string& v) {
         static_cast<USBDeviceInfo*>(m)->set_manufacturer(v);
       }},
      {"USBDeviceInfo.name", USBDeviceInfo::default_instance(), 0x12,
       [](google::protobuf::Message* m, const std::string& v) {
         static_cast<USBDeviceInfo*>(m)->set_name(v);
       }},
  };
  const std::string invalid = Bytes({0xFF});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.field);
    const std::string record = Bytes({c.key, 0x01}) + invalid;

    std::unique_ptr<google::protobuf::Message> parsed(c.prototype.New());
    {
      LogCapture log;
      EXPECT_FALSE(parsed->ParseFromString(record));
      EXPECT_NE(LogCapture::Text().find(c.field), std::string::npos) << LogCapture::Text();
    }

    std::unique_ptr<google::protobuf::Message> set(c.prototype.New());
    c.set(set.get(), invalid);
    std::string written;
    {
      LogCapture log;
      EXPECT_TRUE(set->SerializeToString(&written));
      EXPECT_NE(LogCapture::Text().find(c.field), std::string::npos) << LogCapture::Text();
    }
    EXPECT_EQ(gcuproto_test::Hex(written), gcuproto_test::Hex(record));

    // Valid multi-byte text passes both ways.
    std::unique_ptr<google::protobuf::Message> valid(c.prototype.New());
    const std::string text = "\xC3\xA9";
    c.set(valid.get(), text);
    const std::string valid_record = Bytes({c.key, 0x02}) + text;
    EXPECT_WIRE(*valid, valid_record);
    EXPECT_TRUE(valid->ParseFromString(valid_record));
  }
}

// The same byte in a bytes field of the record is no error.
TEST(BootloaderConfig, ByteFieldsAcceptAnyBytes) {
  const std::string wire = Bytes({0x2A, 0x01, 0xFF, 0x32, 0x01, 0xFE});
  BootloaderConfigData config;
  ASSERT_TRUE(config.ParseFromString(wire));
  EXPECT_WIRE(config, wire);
}

}  // namespace
