// Registration of the schema files with the runtime's generated pool.
#include <gcuproto/library.h>
#include <gcuproto/version.h>

#include <google/protobuf/descriptor.h>
#include <google/protobuf/descriptor.pb.h>
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

using google::protobuf::DescriptorPool;
using google::protobuf::FileDescriptor;
using google::protobuf::FileDescriptorProto;

// Byte length of each file's serialised descriptor (no source information, no
// JSON names). A schema transcribed with any difference in a name, number,
// type, label, order or import has another length.
const std::map<std::string, std::size_t> kDescriptorLength = {
    {"CommandResult.proto", 348},  {"SoftwareServer.proto", 2266},
    {"aes_keys.proto", 102},       {"blackbox.proto", 384},
    {"bootloader_commands.proto", 739}, {"bootloader_config.proto", 417},
    {"candump.proto", 197},        {"commands.proto", 4230},
    {"datalogger_commands.proto", 334}, {"device_id.proto", 207},
    {"driver_commands.proto", 804}, {"fault_commands.proto", 370},
    {"firmwareFile.proto", 238},   {"gcu_commands.proto", 563},
    {"io_commands.proto", 333},    {"map_commands.proto", 1445},
    {"pid_commands.proto", 444},   {"rsa_keys.proto", 729},
    {"virtual_inputs.proto", 271},
};

TEST(Registration, EveryFileHasItsDescriptorLength) {
  const auto files = gcuproto::schema_files();
  ASSERT_FALSE(files.empty());
  for (const FileDescriptor* file : files) {
    ASSERT_NE(file, nullptr);
    SCOPED_TRACE(file->name());
    const auto expected = kDescriptorLength.find(file->name());
    ASSERT_NE(expected, kDescriptorLength.end()) << "not a schema file of the protocol";
    FileDescriptorProto proto;
    file->CopyTo(&proto);
    EXPECT_EQ(proto.SerializeAsString().size(), expected->second);
  }
}

TEST(Registration, FilesAreProto3WithoutPackageOrOptions) {
  for (const FileDescriptor* file : gcuproto::schema_files()) {
    SCOPED_TRACE(file->name());
    FileDescriptorProto proto;
    file->CopyTo(&proto);
    EXPECT_EQ(proto.syntax(), "proto3");
    EXPECT_FALSE(proto.has_package());
    EXPECT_FALSE(proto.has_options());
    EXPECT_EQ(proto.service_size(), 0);
    EXPECT_EQ(proto.extension_size(), 0);
    for (const auto& message : proto.message_type()) {
      EXPECT_EQ(message.nested_type_size(), 0) << message.name();
      EXPECT_FALSE(message.has_options()) << message.name();
    }
  }
}

TEST(Registration, GeneratedPoolFindsFilesAndMessagesUnderBareNames) {
  const DescriptorPool* pool = DescriptorPool::generated_pool();
  for (const std::string& name : gcuproto::schema_file_names()) {
    const FileDescriptor* file = pool->FindFileByName(name);
    ASSERT_NE(file, nullptr) << name;
    for (int i = 0; i < file->message_type_count(); ++i) {
      const auto* message = file->message_type(i);
      EXPECT_EQ(message->full_name(), message->name());
      EXPECT_EQ(pool->FindMessageTypeByName(message->name()), message);
    }
  }
}

TEST(Registration, TotalsOverAllFiles) {
  int files = 0, messages = 0, fields = 0, enums = 0, values = 0;
  for (const FileDescriptor* file : gcuproto::schema_files()) {
    ++files;
    enums += file->enum_type_count();
    for (int e = 0; e < file->enum_type_count(); ++e) values += file->enum_type(e)->value_count();
    for (int m = 0; m < file->message_type_count(); ++m) {
      const auto* message = file->message_type(m);
      ++messages;
      fields += message->field_count();
      enums += message->enum_type_count();
      for (int e = 0; e < message->enum_type_count(); ++e) {
        values += message->enum_type(e)->value_count();
      }
    }
  }
  EXPECT_EQ(files, 19);
  EXPECT_EQ(messages, 117);
  EXPECT_EQ(fields, 332);
  EXPECT_EQ(enums, 13);
  EXPECT_EQ(values, 92);
}

TEST(Registration, ImportsInOrder) {
  const std::map<std::string, std::vector<std::string>> imports = {
      {"bootloader_commands.proto", {"CommandResult.proto"}},
      {"gcu_commands.proto", {"CommandResult.proto"}},
      {"bootloader_config.proto", {"rsa_keys.proto"}},
      {"commands.proto",
       {"bootloader_commands.proto", "datalogger_commands.proto", "virtual_inputs.proto",
        "pid_commands.proto", "map_commands.proto", "io_commands.proto", "gcu_commands.proto",
        "device_id.proto", "driver_commands.proto", "fault_commands.proto", "candump.proto",
        "CommandResult.proto"}},
  };
  for (const FileDescriptor* file : gcuproto::schema_files()) {
    SCOPED_TRACE(file->name());
    std::vector<std::string> actual;
    for (int i = 0; i < file->dependency_count(); ++i) actual.push_back(file->dependency(i)->name());
    const auto expected = imports.find(file->name());
    EXPECT_EQ(actual, expected == imports.end() ? std::vector<std::string>() : expected->second);
  }
}

TEST(Registration, LinkOrder) {
  const std::vector<std::string> expected = {
      "CommandResult.proto",       "SoftwareServer.proto",     "aes_keys.proto",
      "blackbox.proto",            "bootloader_commands.proto", "bootloader_config.proto",
      "candump.proto",             "commands.proto",           "datalogger_commands.proto",
      "device_id.proto",           "driver_commands.proto",    "fault_commands.proto",
      "firmwareFile.proto",        "gcu_commands.proto",       "io_commands.proto",
      "map_commands.proto",        "pid_commands.proto",       "rsa_keys.proto",
      "virtual_inputs.proto"};
  EXPECT_EQ(gcuproto::schema_file_names(), expected);
}

TEST(Registration, VersionMatchesHeaders) {
  EXPECT_STREQ(gcuproto::version(), GCUPROTO_VERSION);
}

}  // namespace
