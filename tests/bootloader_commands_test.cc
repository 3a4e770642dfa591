// Bootloader, ping and key-exchange messages and the flash loader's command set.
#include <gcuproto/bootloader_commands.pb.h>

#include <google/protobuf/descriptor.h>
#include <gtest/gtest.h>

#include <iterator>
#include <string>

#include "wire.h"

namespace {

using gcuproto_test::Bytes;
using google::protobuf::Descriptor;
using google::protobuf::FieldDescriptor;

// "name number type", the type a message or enum name where it has one, plus
// the oneof a member belongs to; fields in declaration order.
std::string Layout(const Descriptor* message) {
  std::string out;
  for (int i = 0; i < message->field_count(); ++i) {
    const FieldDescriptor* f = message->field(i);
    if (!out.empty()) out += "; ";
    out += f->name() + " " + std::to_string(f->number()) + " ";
    if (f->is_repeated()) out += "repeated ";
    if (f->message_type() != nullptr) {
      out += f->message_type()->full_name();
    } else if (f->enum_type() != nullptr) {
      out += f->enum_type()->full_name();
    } else {
      out += f->type_name();
    }
    if (f->containing_oneof() != nullptr) out += " in " + f->containing_oneof()->name();
  }
  return out;
}

TEST(BootloaderCommandsSchema, MessagesAndFieldsAsDeclared) {
  struct Case {
    const char* message;
    const char* layout;
  };
  const Case cases[] = {
      {"ResetToBootloader", ""},
      {"BootloaderRsaPublicKey", "data 1 bytes"},
      {"CommandAesKey", "data 1 bytes"},
      {"KeyExchangeRequest", "data 1 bytes"},
      {"KeyExchangeResponse", "commandResult 1 int32; publicKey 2 bytes"},
      {"CommandData", "data 1 bytes"},
      {"Ping", "seq_no 1 uint32"},
      {"ModulePublicKeyRequest", ""},
      {"ModulePublicKeyResponse", "serialNumber 1 bytes; keychain 2 bytes"},
      {"LoaderCommands",
       "erase 2 EraseBlock in command; write 3 WriteBlock in command; reset 4 Reset in command"},
      {"EraseBlock", "index 1 uint32; addr 2 uint32; size 3 uint32"},
      {"WriteBlock", "index 1 uint32; addr 2 uint32; data 3 bytes"},
      {"Reset", "index 1 uint32"},
      {"CommandReturn", "commandNo 1 uint32; result 2 CommandResult"},
      {"Pong", "seq_no 1 uint32"},
  };
  const auto* file = Ping::descriptor()->file();
  ASSERT_EQ(file->name(), "bootloader_commands.proto");
  ASSERT_EQ(file->dependency_count(), 1);
  EXPECT_EQ(file->dependency(0)->name(), "CommandResult.proto");
  EXPECT_EQ(file->enum_type_count(), 0);
  ASSERT_EQ(file->message_type_count(), static_cast<int>(std::size(cases)));
  for (int i = 0; i < file->message_type_count(); ++i) {
    SCOPED_TRACE(cases[i].message);
    EXPECT_EQ(file->message_type(i)->name(), cases[i].message);
    EXPECT_EQ(Layout(file->message_type(i)), cases[i].layout);
  }
  EXPECT_EQ(CommandReturn::descriptor()->FindFieldByName("result")->enum_type(),
            CommandResult_descriptor());
}

TEST(BootloaderCommandsWire, ScalarExamples) {
  Ping ping_one;
  ping_one.set_seq_no(1);
  Pong pong_300;
  pong_300.set_seq_no(300);
  const ResetToBootloader reset_to_bootloader;
  const ModulePublicKeyRequest key_request;
  const Ping new_ping;
  const CommandReturn new_return;
  KeyExchangeResponse five;
  five.set_commandresult(5);
  KeyExchangeResponse minus_one;
  minus_one.set_commandresult(-1);
  CommandReturn verify;
  verify.set_commandno(1);
  verify.set_result(verifyError);
  CommandReturn not_supported;
  not_supported.set_result(notSupported);
  CommandReturn negative;
  negative.set_result(static_cast<CommandResult>(-1));
  ModulePublicKeyResponse key;
  key.set_serialnumber(Bytes({0x01}));
  key.set_keychain(Bytes({0xFF, 0xFE}));

  struct Case {
    const char* what;
    const google::protobuf::Message& message;
    std::string wire;
  };
  const Case cases[] = {
      {"empty ResetToBootloader", reset_to_bootloader, ""},
      {"empty ModulePublicKeyRequest", key_request, ""},
      {"new Ping", new_ping, ""},
      {"Ping 1", ping_one, Bytes({0x08, 0x01})},
      {"Pong 300", pong_300, Bytes({0x08, 0xAC, 0x02})},
      {"commandResult 5", five, Bytes({0x08, 0x05})},
      {"commandResult -1",
       minus_one,
       Bytes({0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01})},
      {"ok, commandNo 0", new_return, ""},
      {"verifyError", verify, Bytes({0x08, 0x01, 0x10, 0x03})},
      {"notSupported", not_supported, Bytes({0x10, 0x65})},
      {"negative result",
       negative,
       Bytes({0x10, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01})},
      {"module key", key, Bytes({0x0A, 0x01, 0x01, 0x12, 0x02, 0xFF, 0xFE})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_WIRE_ROUND_TRIP(c.message, c.wire);
  }
}

TEST(BootloaderCommandsWire, ParsedValues) {
  KeyExchangeResponse exchange;
  ASSERT_TRUE(exchange.ParseFromString(
      Bytes({0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x12, 0x01, 0x7F})));
  EXPECT_EQ(exchange.commandresult(), -1);
  EXPECT_EQ(exchange.publickey(), Bytes({0x7F}));

  Pong pong;
  ASSERT_TRUE(pong.ParseFromString(Bytes({0x08, 0xAC, 0x02})));
  EXPECT_EQ(pong.seq_no(), 300u);

  CommandReturn answer;
  ASSERT_TRUE(answer.ParseFromString(Bytes({0x08, 0x01, 0x10, 0x03})));
  EXPECT_EQ(answer.commandno(), 1u);
  EXPECT_EQ(answer.result(), verifyError);
}

// The result code is open: numbers the firmware adds later survive a round trip.
TEST(BootloaderCommandsWire, UndeclaredResultIsKept) {
  for (int number : {12, 99}) {
    SCOPED_TRACE(number);
    const std::string wire = Bytes({0x10, number});
    CommandReturn answer;
    ASSERT_TRUE(answer.ParseFromString(wire));
    EXPECT_EQ(static_cast<int>(answer.result()), number);
    EXPECT_FALSE(CommandResult_IsValid(answer.result()));
    EXPECT_EQ(answer.GetReflection()->GetUnknownFields(answer).field_count(), 0);
    EXPECT_WIRE(answer, wire);
  }
}

TEST(BootloaderCommandsWire, BytesFieldsTakeAnyOctets) {
  const std::string not_utf8 = Bytes({0xC3, 0x28, 0xFF});
  WriteBlock block;
  ASSERT_TRUE(block.ParseFromString(Bytes({0x08, 0x02, 0x10, 0x40, 0x1A, 0x03}) + not_utf8));
  EXPECT_EQ(block.index(), 2u);
  EXPECT_EQ(block.addr(), 0x40u);
  EXPECT_EQ(block.data(), not_utf8);
  EXPECT_WIRE(block, Bytes({0x08, 0x02, 0x10, 0x40, 0x1A, 0x03}) + not_utf8);
}

TEST(LoaderCommandsOneof, WritesSetMemberEvenWhenEmpty) {
  EraseBlock erase;
  erase.set_index(1);
  erase.set_addr(128);
  erase.set_size(300);
  const std::string erase_wire = Bytes({0x08, 0x01, 0x10, 0x80, 0x01, 0x18, 0xAC, 0x02});
  EXPECT_WIRE(erase, erase_wire);

  LoaderCommands holding_erase;
  *holding_erase.mutable_erase() = erase;
  EXPECT_WIRE(holding_erase, Bytes({0x12, 0x08}) + erase_wire);

  struct Case {
    const char* what;
    void (*set)(LoaderCommands*);
    std::string wire;
  };
  const Case cases[] = {
      {"nothing set", [](LoaderCommands*) {}, ""},
      {"empty erase", [](LoaderCommands* m) { m->mutable_erase(); }, Bytes({0x12, 0x00})},
      {"empty write", [](LoaderCommands* m) { m->mutable_write(); }, Bytes({0x1A, 0x00})},
      {"empty reset", [](LoaderCommands* m) { m->mutable_reset(); }, Bytes({0x22, 0x00})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    LoaderCommands command;
    c.set(&command);
    EXPECT_WIRE(command, c.wire);
  }
}

TEST(LoaderCommandsOneof, ParsedMembersReplaceOrMerge) {
  LoaderCommands replaced;
  ASSERT_TRUE(replaced.ParseFromString(
      Bytes({0x12, 0x02, 0x08, 0x01, 0x1A, 0x04, 0x10, 0x05, 0x1A, 0x00})));
  EXPECT_EQ(replaced.command_case(), LoaderCommands::kWrite);
  EXPECT_FALSE(replaced.has_erase());
  EXPECT_EQ(replaced.write().index(), 0u);
  EXPECT_EQ(replaced.write().addr(), 5u);
  EXPECT_TRUE(replaced.write().data().empty());

  LoaderCommands merged;
  ASSERT_TRUE(merged.ParseFromString(Bytes({0x12, 0x02, 0x08, 0x01, 0x12, 0x02, 0x10, 0x02})));
  EXPECT_EQ(merged.command_case(), LoaderCommands::kErase);
  EXPECT_EQ(merged.erase().index(), 1u);
  EXPECT_EQ(merged.erase().addr(), 2u);

  LoaderCommands reset;
  ASSERT_TRUE(reset.ParseFromString(Bytes({0x22, 0x02, 0x08, 0x07})));
  EXPECT_EQ(reset.command_case(), LoaderCommands::kReset);
  EXPECT_EQ(reset.reset().index(), 7u);
}

TEST(LoaderCommandsOneof, UndeclaredFieldOneIsUnknown) {
  LoaderCommands command;
  ASSERT_TRUE(command.ParseFromString(Bytes({0x0A, 0x00})));
  EXPECT_EQ(command.command_case(), LoaderCommands::COMMAND_NOT_SET);
  EXPECT_EQ(command.GetReflection()->GetUnknownFields(command).field_count(), 1);
  EXPECT_WIRE(command, Bytes({0x0A, 0x00}));
}

TEST(LoaderCommandsOneof, BrokenMemberFailsTheParse) {
  LoaderCommands command;
  // The erase member is two bytes long but its varint runs past them.
  EXPECT_FALSE(command.ParseFromString(Bytes({0x12, 0x02, 0x08, 0x80})));
}

TEST(LoaderCommandsOneof, SetAllocatedSwitchesOrClears) {
  LoaderCommands command;
  command.mutable_erase()->set_index(1);
  auto* write = new WriteBlock;
  write->set_index(2);
  command.set_allocated_write(write);
  EXPECT_EQ(command.command_case(), LoaderCommands::kWrite);
  EXPECT_FALSE(command.has_erase());
  EXPECT_EQ(&command.write(), write);
  EXPECT_WIRE(command, Bytes({0x1A, 0x02, 0x08, 0x02}));

  command.set_allocated_write(nullptr);
  EXPECT_EQ(command.command_case(), LoaderCommands::COMMAND_NOT_SET);
  EXPECT_WIRE(command, "");
}

TEST(LoaderCommandsOneof, MergeFollowsSourceCase) {
  LoaderCommands target;
  target.mutable_erase()->set_index(1);

  LoaderCommands same;
  same.mutable_erase()->set_size(9);
  target.MergeFrom(same);
  EXPECT_EQ(target.command_case(), LoaderCommands::kErase);
  EXPECT_EQ(target.erase().index(), 1u);
  EXPECT_EQ(target.erase().size(), 9u);

  target.MergeFrom(LoaderCommands());
  EXPECT_EQ(target.command_case(), LoaderCommands::kErase);

  LoaderCommands other;
  other.mutable_reset()->set_index(4);
  target.MergeFrom(other);
  EXPECT_EQ(target.command_case(), LoaderCommands::kReset);
  EXPECT_EQ(target.reset().index(), 4u);
  EXPECT_FALSE(target.has_erase());
}

}  // namespace
