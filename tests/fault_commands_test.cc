// Fault memory messages: wire bytes, the packed signed parameter list and the list of faults.
#include <gcuproto/fault_commands.pb.h>

#include <google/protobuf/descriptor.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "schema_summary.h"
#include "wire.h"

namespace {

using google::protobuf::Descriptor;
using google::protobuf::FieldDescriptor;
using google::protobuf::Message;
using gcuproto_test::Bytes;

using gcuproto_test::Fields;

std::vector<int> Parameters(const FaultItem& item) {
  return {item.parameters().begin(), item.parameters().end()};
}

// The item of the firmware's example: every number set and parameters -1, 100.
FaultItem ExampleItem() {
  FaultItem item;
  item.set_type(1);
  item.set_mode(2);
  item.set_category(3);
  item.set_faultid(4);
  item.set_componentid(5);
  item.add_parameters(-1);
  item.add_parameters(100);
  return item;
}

const std::string kExampleItemWire = Bytes(
    {0x08, 0x01, 0x10, 0x02, 0x18, 0x03, 0x20, 0x04, 0x28, 0x05, 0x32, 0x03, 0x01, 0xC8, 0x01});

TEST(FaultCommandsSchema, MessagesAndFieldsAsTheFirmwareDeclaresThem) {
  const auto* file = FaultItem::descriptor()->file();
  EXPECT_EQ(file->dependency_count(), 0);
  EXPECT_EQ(file->enum_type_count(), 0);
  const std::vector<gcuproto_test::MessageShape> cases = {
      {FaultGetFaultCountReq::descriptor(), ""},
      {FaultGetFaultCountResp::descriptor(),
       "activeFaultCount=1 uint32; inactiveFaultCount=2 uint32"},
      {FaultGetFaultsReq::descriptor(), ""},
      {FaultItem::descriptor(),
       "type=1 uint32; mode=2 uint32; category=3 uint32; faultId=4 uint32; componentId=5 uint32; "
       "parameters=6 repeated packed sint32"},
      {FaultGetFaultsResp::descriptor(), "faults=1 repeated message FaultItem"},
      {FaultCleanFaultsReq::descriptor(), ""},
      {FaultCleanFaultsResp::descriptor(), ""},
  };
  gcuproto_test::ExpectMessages(file, cases);
}

TEST(FaultCommandsWire, CountAnswerInBothDirections) {
  FaultGetFaultCountResp count;
  count.set_activefaultcount(3);
  count.set_inactivefaultcount(12);
  EXPECT_WIRE(count, Bytes({0x08, 0x03, 0x10, 0x0C}));

  FaultGetFaultCountResp parsed;
  ASSERT_TRUE(parsed.ParseFromString(Bytes({0x10, 0x0C, 0x08, 0x03})));
  EXPECT_EQ(parsed.activefaultcount(), 3u);
  EXPECT_EQ(parsed.inactivefaultcount(), 12u);
}

TEST(FaultCommandsWire, ItemInBothDirections) {
  EXPECT_WIRE(ExampleItem(), kExampleItemWire);

  FaultItem parsed;
  ASSERT_TRUE(parsed.ParseFromString(kExampleItemWire));
  EXPECT_EQ(parsed.type(), 1u);
  EXPECT_EQ(parsed.mode(), 2u);
  EXPECT_EQ(parsed.category(), 3u);
  EXPECT_EQ(parsed.faultid(), 4u);
  EXPECT_EQ(parsed.componentid(), 5u);
  EXPECT_EQ(Parameters(parsed), (std::vector<int>{-1, 100}));

  // Zero elements are written inside the packed block; extremes are zigzag.
  FaultItem extremes;
  extremes.add_parameters(0);
  extremes.add_parameters(1);
  extremes.add_parameters(-2147483647 - 1);
  EXPECT_WIRE(extremes, Bytes({0x32, 0x07, 0x00, 0x02, 0xFF, 0xFF, 0xFF, 0xFF, 0x0F}));
}

TEST(FaultCommandsWire, ListWritesEveryItemIncludingAnEmptyOne) {
  FaultGetFaultsResp list;
  *list.add_faults() = ExampleItem();
  list.add_faults();
  const std::string wire = Bytes({0x0A, 0x0F}) + kExampleItemWire + Bytes({0x0A, 0x00});
  EXPECT_WIRE(list, wire);

  FaultGetFaultsResp parsed;
  ASSERT_TRUE(parsed.ParseFromString(wire));
  ASSERT_EQ(parsed.faults_size(), 2);
  EXPECT_EQ(parsed.faults(0).componentid(), 5u);
  EXPECT_EQ(Parameters(parsed.faults(0)), (std::vector<int>{-1, 100}));
  EXPECT_EQ(parsed.faults(1).ByteSizeLong(), 0u);
}

TEST(FaultCommandsWire, ParametersAcceptPackedAndUnpackedInAnyMix) {
  struct Case {
    const char* name;
    std::string wire;
    std::vector<int> parameters;
  };
  const std::vector<Case> cases = {
      {"unpacked", Bytes({0x30, 0x01, 0x30, 0xC8, 0x01}), {-1, 100}},
      {"unpacked then packed", Bytes({0x30, 0x01, 0x32, 0x02, 0x02, 0x03}), {-1, 1, -2}},
      {"packed then unpacked then packed",
       Bytes({0x32, 0x01, 0x04, 0x30, 0x05, 0x32, 0x02, 0x06, 0x07}), {2, -3, 3, -4}},
      {"empty packed block", Bytes({0x32, 0x00, 0x30, 0x02}), {1}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FaultItem item;
    ASSERT_TRUE(item.ParseFromString(c.wire));
    EXPECT_EQ(Parameters(item), c.parameters);

    // Written back in the packed form only.
    FaultItem repacked;
    for (int p : c.parameters) repacked.add_parameters(p);
    EXPECT_EQ(gcuproto_test::Hex(gcuproto_test::Wire(item)),
              gcuproto_test::Hex(gcuproto_test::Wire(repacked)));
    EXPECT_EQ(gcuproto_test::Wire(item)[0], '\x32');
  }
}

TEST(FaultCommandsWire, CutShortInputFailsTheParse) {
  struct Case {
    const char* name;
    const Message& prototype;
    std::string wire;
  };
  const std::vector<Case> cases = {
      {"packed block longer than the input", FaultItem::default_instance(),
       Bytes({0x32, 0x03, 0x01, 0xC8})},
      {"packed block ends inside an element", FaultItem::default_instance(),
       Bytes({0x32, 0x02, 0x01, 0xC8, 0x01})},
      {"unpacked element cut short", FaultItem::default_instance(), Bytes({0x30, 0xC8})},
      {"item ends inside its first field", FaultGetFaultsResp::default_instance(),
       Bytes({0x0A, 0x01, 0x08})},
      {"item longer than the input", FaultGetFaultsResp::default_instance(),
       Bytes({0x0A, 0x05, 0x08, 0x01})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<Message> m(c.prototype.New());
    EXPECT_FALSE(m->ParseFromString(c.wire));
  }
}

TEST(FaultCommandsList, ClearedListTakesExactlyTheNewFaults) {
  FaultGetFaultsResp list;
  *list.add_faults() = ExampleItem();
  *list.add_faults() = ExampleItem();
  list.Clear();
  EXPECT_EQ(list.faults_size(), 0);
  EXPECT_WIRE(list, "");

  const std::string three =
      Bytes({0x0A, 0x02, 0x08, 0x07, 0x0A, 0x00, 0x0A, 0x03, 0x32, 0x01, 0x01});
  ASSERT_TRUE(list.MergeFromString(three));
  ASSERT_EQ(list.faults_size(), 3);
  EXPECT_EQ(list.faults(0).type(), 7u);
  EXPECT_EQ(list.faults(0).componentid(), 0u);
  EXPECT_TRUE(list.faults(0).parameters().empty());
  EXPECT_EQ(list.faults(1).ByteSizeLong(), 0u);
  EXPECT_EQ(Parameters(list.faults(2)), (std::vector<int>{-1}));
  EXPECT_EQ(list.faults(2).type(), 0u);
  EXPECT_WIRE(list, three);
}

TEST(FaultCommandsList, MergeAppendsTheSourceFaultsAfterTheTargets) {
  FaultGetFaultsResp target;
  target.add_faults()->set_faultid(1);
  FaultGetFaultsResp source;
  source.add_faults()->set_faultid(2);
  source.add_faults()->set_faultid(3);
  target.MergeFrom(source);
  ASSERT_EQ(target.faults_size(), 3);
  EXPECT_EQ(target.faults(0).faultid(), 1u);
  EXPECT_EQ(target.faults(1).faultid(), 2u);
  EXPECT_EQ(target.faults(2).faultid(), 3u);

  FaultItem item = ExampleItem();
  FaultItem more;
  more.set_mode(9);
  more.add_parameters(7);
  item.MergeFrom(more);
  EXPECT_EQ(item.mode(), 9u);
  EXPECT_EQ(item.type(), 1u);
  EXPECT_EQ(Parameters(item), (std::vector<int>{-1, 100, 7}));
}

TEST(FaultCommandsWire, FieldlessMessagesKeepWhatTheyReceive) {
  const std::string wire = Bytes({0x08, 0x01, 0x32, 0x01, 0x01});
  std::vector<std::unique_ptr<Message>> messages;
  messages.push_back(std::make_unique<FaultGetFaultCountReq>());
  messages.push_back(std::make_unique<FaultGetFaultsReq>());
  messages.push_back(std::make_unique<FaultCleanFaultsReq>());
  messages.push_back(std::make_unique<FaultCleanFaultsResp>());
  for (auto& m : messages) gcuproto_test::ExpectKeptAsUnknown(m.get(), wire, 2);
}

}  // namespace
