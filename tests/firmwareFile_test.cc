// The firmware update file: its fields and the order and count of its command blobs.
#include <gcuproto/firmwareFile.pb.h>

#include <google/protobuf/descriptor.h>
#include <google/protobuf/util/message_differencer.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "wire.h"

namespace {

using gcuproto_test::Bytes;
using google::protobuf::FieldDescriptor;
using google::protobuf::util::MessageDifferencer;

TEST(FirmwareFile, FieldsAreDeclaredAsTheUpdaterExpects) {
  struct Case {
    const google::protobuf::Descriptor* message;
    const char* name;
    int number;
    FieldDescriptor::Type type;
    FieldDescriptor::Label label;
  };
  constexpr auto kOptional = FieldDescriptor::LABEL_OPTIONAL;
  const Case cases[] = {
      {FirmwareFile::descriptor(), "version", 1, FieldDescriptor::TYPE_UINT32, kOptional},
      {FirmwareFile::descriptor(), "firmwarePublicKey", 2, FieldDescriptor::TYPE_BYTES, kOptional},
      {FirmwareFile::descriptor(), "encryptionPublicKey", 3, FieldDescriptor::TYPE_BYTES, kOptional},
      {FirmwareFile::descriptor(), "aesKey", 4, FieldDescriptor::TYPE_BYTES, kOptional},
      {FirmwareFile::descriptor(), "commands", 5, FieldDescriptor::TYPE_MESSAGE,
       FieldDescriptor::LABEL_REPEATED},
      {FirmwareCommand::descriptor(), "index", 1, FieldDescriptor::TYPE_UINT32, kOptional},
      {FirmwareCommand::descriptor(), "data", 2, FieldDescriptor::TYPE_BYTES, kOptional},
      {FirmwareCommand::descriptor(), "checkpoint", 3, FieldDescriptor::TYPE_BOOL, kOptional},
  };
  const auto* file = FirmwareFile::descriptor()->file();
  EXPECT_EQ(file->name(), "firmwareFile.proto");
  EXPECT_EQ(file->dependency_count(), 0);
  ASSERT_EQ(file->message_type_count(), 2);
  EXPECT_EQ(file->message_type(0), FirmwareFile::descriptor());
  EXPECT_EQ(file->message_type(1), FirmwareCommand::descriptor());
  EXPECT_EQ(FirmwareFile::descriptor()->field_count(), 5);
  EXPECT_EQ(FirmwareCommand::descriptor()->field_count(), 3);
  int index_in_message = 0;
  const google::protobuf::Descriptor* previous = nullptr;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.message != previous) index_in_message = 0;
    previous = c.message;
    const FieldDescriptor* f = c.message->field(index_in_message++);
    EXPECT_EQ(f->name(), c.name);
    EXPECT_EQ(f->number(), c.number);
    EXPECT_EQ(f->type(), c.type);
    EXPECT_EQ(f->label(), c.label);
  }
  EXPECT_EQ(FirmwareFile::descriptor()->FindFieldByName("commands")->message_type(),
            FirmwareCommand::descriptor());
}

// A file with every field set, written in number order.
FirmwareFile FullFile() {
  FirmwareFile file;
  file.set_version(2);
  file.set_firmwarepublickey(Bytes({0xF1}));
  file.set_encryptionpublickey(Bytes({0xE1}));
  file.set_aeskey(Bytes({0xA1, 0xA2}));
  FirmwareCommand* first = file.add_commands();
  first->set_index(1);
  first->set_data(Bytes({0xD1}));
  FirmwareCommand* second = file.add_commands();
  second->set_index(2);
  second->set_checkpoint(true);
  return file;
}

const std::string kFullWire = Bytes({0x08, 0x02,                          // version
                                     0x12, 0x01, 0xF1,                    // firmwarePublicKey
                                     0x1A, 0x01, 0xE1,                    // encryptionPublicKey
                                     0x22, 0x02, 0xA1, 0xA2,              // aesKey
                                     0x2A, 0x05, 0x08, 0x01, 0x12, 0x01, 0xD1,  // command 1
                                     0x2A, 0x04, 0x08, 0x02, 0x18, 0x01});      // command 2

TEST(FirmwareFile, FullFileRoundTrips) {
  EXPECT_WIRE(FullFile(), kFullWire);

  FirmwareFile back;
  ASSERT_TRUE(back.ParseFromString(kFullWire));
  EXPECT_EQ(back.version(), 2u);
  EXPECT_EQ(back.firmwarepublickey(), Bytes({0xF1}));
  EXPECT_EQ(back.encryptionpublickey(), Bytes({0xE1}));
  EXPECT_EQ(back.aeskey(), Bytes({0xA1, 0xA2}));
  ASSERT_EQ(back.commands_size(), 2);
  EXPECT_EQ(back.commands(0).index(), 1u);
  EXPECT_EQ(back.commands(0).data(), Bytes({0xD1}));
  EXPECT_FALSE(back.commands(0).checkpoint());
  EXPECT_EQ(back.commands(1).index(), 2u);
  EXPECT_TRUE(back.commands(1).checkpoint());
  EXPECT_TRUE(back.GetReflection()->GetUnknownFields(back).empty());
}

TEST(FirmwareFile, SmallRecordsHaveTheirExactBytes) {
  EXPECT_WIRE(FirmwareFile(), std::string());
  FirmwareFile version_only;
  version_only.set_version(1);
  EXPECT_WIRE(version_only, Bytes({0x08, 0x01}));

  FirmwareCommand checkpoint_only;
  checkpoint_only.set_checkpoint(true);
  EXPECT_WIRE(checkpoint_only, Bytes({0x18, 0x01}));
}

// Commands whose fields are all zero are still elements of the file.
TEST(FirmwareFile, EmptyCommandsKeepTheElementCount) {
  FirmwareFile file;
  file.add_commands();
  file.add_commands()->set_index(5);
  file.add_commands();
  const std::string wire = Bytes({0x2A, 0x00, 0x2A, 0x02, 0x08, 0x05, 0x2A, 0x00});
  EXPECT_WIRE(file, wire);

  FirmwareFile back;
  ASSERT_TRUE(back.ParseFromString(wire));
  ASSERT_EQ(back.commands_size(), 3);
  EXPECT_EQ(back.commands(1).index(), 5u);
  EXPECT_WIRE(back, wire);
}

// The list order is the file's order, whatever the indices say.
TEST(FirmwareFile, CommandsKeepListOrderWhateverTheirIndex) {
  const std::vector<unsigned> indices = {7, 3, 3, 0, 1};
  FirmwareFile file;
  for (unsigned i : indices) file.add_commands()->set_index(i);
  FirmwareFile back;
  ASSERT_TRUE(back.ParseFromString(file.SerializeAsString()));
  ASSERT_EQ(back.commands_size(), static_cast<int>(indices.size()));
  for (int i = 0; i < back.commands_size(); ++i) {
    EXPECT_EQ(back.commands(i).index(), indices[static_cast<std::size_t>(i)]) << "element " << i;
  }
}

TEST(FirmwareFile, InterleavedRecordsParseLikeOrderedOnes) {
  const std::string interleaved =
      Bytes({0x2A, 0x05, 0x08, 0x01, 0x12, 0x01, 0xD1, 0x22, 0x02, 0xA1, 0xA2, 0x08, 0x02,
             0x2A, 0x04, 0x08, 0x02, 0x18, 0x01, 0x1A, 0x01, 0xE1, 0x12, 0x01, 0xF1});
  FirmwareFile parsed;
  ASSERT_TRUE(parsed.ParseFromString(interleaved));
  EXPECT_TRUE(MessageDifferencer::Equals(parsed, FullFile()));
  EXPECT_WIRE(parsed, kFullWire);
}

TEST(FirmwareFile, CheckpointReadsAnyNonZeroVarintAsSet) {
  FirmwareCommand command;
  ASSERT_TRUE(command.ParseFromString(Bytes({0x18, 0x80, 0x01})));
  EXPECT_TRUE(command.checkpoint());
  EXPECT_WIRE(command, Bytes({0x18, 0x01}));
}

// Keys and command blobs are bytes: invalid UTF-8 is no error.
TEST(FirmwareFile, BlobsAcceptAnyBytes) {
  const std::string file_wire = Bytes({0x12, 0x01, 0xFF, 0x1A, 0x01, 0xFE, 0x22, 0x01, 0xC0,
                                       0x2A, 0x03, 0x12, 0x01, 0xFF});
  FirmwareFile file;
  ASSERT_TRUE(file.ParseFromString(file_wire));
  EXPECT_WIRE(file, file_wire);
}

}  // namespace
