// The virtual unit, the servers and the clients, over loopback.
#include <gcuproto/blackbox/writer.h>
#include <gcuproto/link/connection.h>
#include <gcuproto/link/recorder.h>
#include <google/protobuf/text_format.h>
#include <google/protobuf/util/message_differencer.h>

#include <cstdio>
#include <fstream>
#include <thread>

#include "link_rig.h"

namespace gcuproto::link::testing {
namespace {

using google::protobuf::TextFormat;
using std::chrono::milliseconds;
constexpr milliseconds kWait{5000};

template <typename Message>
Message Parse(const std::string& text) {
  Message message;
  EXPECT_TRUE(TextFormat::ParseFromString(text, &message)) << text;
  return message;
}

bool Same(const google::protobuf::Message& a, const google::protobuf::Message& b) {
  return google::protobuf::util::MessageDifferencer::Equals(a, b);
}

class UnitCommands : public ::testing::TestWithParam<Path> {};

// Every case of unit_commands.txt, in order, on one unit.
TEST_P(UnitCommands, AnswerAsTheTableSays) {
  Rig rig(GetParam(), Unit(), Options(&rig.log));
  std::unique_ptr<UnitClient> client = rig.Client();
  std::ifstream table(TestData("unit_commands.txt"));
  std::string line;
  int cases = 0;
  while (std::getline(table, line)) {
    if (line.empty() || line[0] == '#') continue;
    const std::size_t bar = line.find(" | ");
    ASSERT_NE(bar, std::string::npos) << line;
    Command command = Parse<Command>(line.substr(0, bar));
    Response expected = Parse<Response>(line.substr(bar + 3));
    if (command.version() == 0) command.set_version(1);
    if (expected.version() == 0) expected.set_version(1);
    Response answer;
    std::string error;
    ASSERT_TRUE(client->Exchange(command, &answer, kWait, &error)) << line << ": " << error;
    EXPECT_TRUE(Same(answer, expected)) << line << "\n got: " << answer.ShortDebugString();
    ++cases;
  }
  EXPECT_EQ(cases, 68);
}

INSTANTIATE_TEST_SUITE_P(Paths, UnitCommands,
                         ::testing::Values(Path::kDirect, Path::kServer, Path::kServerOverTcp));

class Server : public ::testing::TestWithParam<Path> {
 protected:
  Server() : rig(GetParam(), Unit(), Options(&rig.log)) {}

  std::unique_ptr<ServerClient> Connect() {
    std::string error;
    std::unique_ptr<ServerClient> client = ServerClient::Connect(Loopback(rig.port()), {}, &error);
    EXPECT_TRUE(client) << error;
    return client;
  }

  SoftwareServerResponse Call(ServerClient& client, const SoftwareServerRequest& request) {
    SoftwareServerResponse answer;
    std::string error;
    EXPECT_TRUE(client.Call(request, &answer, kWait, &error)) << error;
    return answer;
  }

  Rig rig;
};

TEST_P(Server, AnswersItsOwnRequests) {
  struct Case {
    const char* request;
    const char* answer;
  } cases[] = {
      {"getSerialNumber {}",
       "getSerialNumber { serialNo: 'GCU-0042' deviceMode: ApplicationMode deviceUsbVID: 1155 "
       "deviceUsbPID: 22336 }"},
      {"getFirmwareVersion { firmwareVersions { version: '1.0.0' } }",
       "getFirmwareVersion { version: '2.5.300' }"},
      {"connect { serialNo: 'GCU-0042' }", "connect { result: Ok }"},
      {"connect { serialNo: 'GCU-0043' }", "connect { result: Error }"},
      {"reconnect {}", "reconnect {}"},
      {"showMessage { messageButtons: [bOk, bCancel] escapeButton: bCancel }",
       "showMessage { clickedButton: bCancel }"},
      {"", ""},
  };
  std::unique_ptr<ServerClient> client = Connect();
  for (const Case& c : cases) {
    const SoftwareServerResponse answer = Call(*client, Parse<SoftwareServerRequest>(c.request));
    EXPECT_TRUE(Same(answer, Parse<SoftwareServerResponse>(c.answer)))
        << c.request << "\n got: " << answer.ShortDebugString();
    // The unit still answers after every request, reconnects included.
    Command ping = Parse<Command>("version: 1 ping { seq_no: 9 }");
    Response pong;
    std::string error;
    ASSERT_TRUE(client->Exchange(ping, &pong, kWait, &error)) << c.request << ": " << error;
    EXPECT_EQ(pong.pong().seq_no(), 9u);
  }
}

TEST_P(Server, AnswersPacketsInOrderWithProgress) {
  std::unique_ptr<ServerClient> client = Connect();
  std::string error;
  for (std::uint32_t seq = 1; seq <= 3; ++seq) {  // pipelined
    Command ping = Parse<Command>("version: 1 ping {}");
    ping.mutable_ping()->set_seq_no(seq);
    ASSERT_TRUE(client->Send(ping, &error)) << error;
  }
  for (std::uint32_t seq = 1; seq <= 3; ++seq) {
    Response pong;
    ASSERT_EQ(client->Receive(&pong, kWait, &error), ReadStatus::kOk) << error;
    EXPECT_EQ(pong.pong().seq_no(), seq);
  }
  // A flasher's own counters are echoed; without them the server counts
  // the packets answered of those sent. A packet that is no Command gets
  // the unit's decode error.
  struct Case {
    const char* request;
    const char* answer;
    int progress, total;
  } cases[] = {
      {"sendPacketToGcu { data: '\\x08\\x01\\x3a\\x02\\x08\\x04' progress: 3 progressTotal: 9 }",
       "version: 1 pong { seq_no: 4 }", 3, 9},
      {"sendPacketToGcu { data: '\\xff' progress: -1 }", "version: 1 result: commandDecodeError", 5,
       5},
  };
  for (const Case& c : cases) {
    const SoftwareServerResponse answer = Call(*client, Parse<SoftwareServerRequest>(c.request));
    const ReceivePacketFromGcu& packet = answer.receivepacketfromgcu();
    EXPECT_EQ(Parse<Response>(c.answer).SerializeAsString(), packet.data()) << c.request;
    EXPECT_EQ(packet.progress(), c.progress) << c.request;
    EXPECT_EQ(packet.progresstotal(), c.total) << c.request;
  }
}

INSTANTIATE_TEST_SUITE_P(Paths, Server, ::testing::Values(Path::kServer, Path::kServerOverTcp));

TEST(Token, OnlyTheRightOneIsServed) {
  struct Case {
    const char* token;
    bool served;
    const char* logged;
  } cases[] = {{"s3cret", true, ""},
               {"s3creT", false, "wrong token"},
               {"s3cre", false, "wrong token"},
               {"", false, "wrong token"}};
  for (Path path : {Path::kDirect, Path::kServer}) {
    Log unused;
    ServerOptions options = Options(&unused);
    options.token = "s3cret";
    Rig rig(path, Unit(), options);
    for (const Case& c : cases) {
      ClientOptions client_options;
      client_options.token = c.token;
      std::unique_ptr<UnitClient> client = rig.Client(client_options);
      Response pong;
      std::string error;
      EXPECT_EQ(client->Exchange(Parse<Command>("ping { seq_no: 1 }"), &pong, kWait, &error),
                c.served)
          << c.token;
      if (!c.served) {
        EXPECT_TRUE(rig.log.Holds(c.logged)) << rig.log.All();
      }
    }
  }
}

// A bad frame closes its own connection with a logged reason, while another
// client is served before, during and after.
TEST(BadFrames, CloseOnlyTheirConnection) {
  struct Case {
    std::string bytes;
    bool close_write;
    const char* logged;
  } cases[] = {
      {std::string("\x81\x80\x80\x08", 4), false,
       "a frame of 16777217 bytes is over the limit of 16777216"},
      {std::string(10, '\xff'), false, "the frame length is not a varint"},
      {std::string("\x03\xff\xff\xff", 4), false,
       "a frame of 3 bytes is not a SoftwareServerRequest"},
      {std::string("\x0a\x0a\x00", 3), true, "connection closed in the middle of a frame"},
      {std::string("\x0a\x0a\x00", 3), false, "idle for 300 ms in the middle of a frame"},
  };
  Log unused;
  ServerOptions options = Options(&unused);
  options.limits.frame_timeout = milliseconds(300);
  Rig rig(Path::kServer, Unit(), options);
  std::unique_ptr<UnitClient> good = rig.Client();
  std::uint32_t seq = 0;
  auto ping = [&] {
    Command command = Parse<Command>("ping {}");
    command.mutable_ping()->set_seq_no(++seq);
    Response pong;
    std::string error;
    return good->Exchange(command, &pong, kWait, &error) && pong.pong().seq_no() == seq;
  };
  for (const Case& c : cases) {
    RawSocket bad(rig.port());
    EXPECT_TRUE(ping());
    bad.Write(c.bytes);
    if (c.close_write) bad.CloseWrite();
    EXPECT_TRUE(ping());
    EXPECT_TRUE(bad.ClosedByPeer(5)) << c.logged;
    EXPECT_TRUE(rig.log.Holds(c.logged)) << rig.log.All();
    EXPECT_TRUE(ping());
  }
}

// An interleaved log whose CAN lines are numbered by their place among all
// lines, as a recording numbers them.
std::string WriteLog(const std::string& path) {
  blackbox::Error error;
  std::unique_ptr<blackbox::Writer> writer = blackbox::Writer::Open(path, {}, &error);
  EXPECT_TRUE(writer) << error.message();
  std::uint32_t seq = 0;
  for (int i = 0; i < 6; ++i) {
    BlackboxFileLine line;
    line.set_seqno(++seq);
    line.set_timestamp(1000 + 40 * i);
    for (int v = 0; v < i + 1; ++v) line.add_datainput(v * 1000 - i);
    if (i % 2) line.add_dataoutput(-i);
    writer->Write(line);
    if (i % 3 == 2) continue;
    BlackboxCandumpFileLine can;
    can.set_seqno(++seq);
    can.set_timestamp(1010 + 40 * i);
    can.set_canid(0x100 + i);
    can.set_messageid(i);
    can.set_extended(i == 1);
    can.set_data(std::string(i, '\x5a') + std::string(1, '\0'));
    writer->Write(can);
  }
  EXPECT_TRUE(writer->Close(&error)) << error.message();
  return path;
}

BlackboxFile Lines(const std::string& path) {
  BlackboxFile file;
  EXPECT_TRUE(file.ParseFromString(ReadFile(path))) << path;
  return file;
}

class Recording : public ::testing::TestWithParam<Path> {};

// What arrives is the log itself: byte for byte for a log kept as it
// arrived, line for line for one with its two kinds of line apart.
TEST_P(Recording, GivesBackTheReplayedLog) {
  // Each parameter runs in its own process under ctest, at the same time.
  const ScratchDir scratch("link_recording");
  const std::string logs[] = {WriteLog((scratch / "interleaved.bin").string()),
                              std::string(GCUPROTO_SAMPLES_DIR) + "/blackbox.bin"};
  for (const std::string& log : logs) {
    const BlackboxFile expected = Lines(log);
    const std::size_t lines =
        static_cast<std::size_t>(expected.line_size() + expected.linecan_size());
    Rig rig(GetParam(), Unit(log), Options(&rig.log));
    std::unique_ptr<UnitClient> client = rig.Client();
    const std::string out = (scratch / "recorded.bin").string();
    std::remove(out.c_str());
    RecordSummary summary;
    RecordOptions options;
    options.stop_requested = [&] { return summary.logger_lines + summary.can_lines >= lines; };
    std::string error;
    ASSERT_TRUE(Record(*client, out, options, &summary, &error)) << error;
    EXPECT_TRUE(Same(Lines(out), expected)) << log;
    if (log == logs[0]) {
      EXPECT_EQ(ReadFile(out), ReadFile(log));
    }
    // The session left the logger and the capture stopped.
    Response answer;
    ASSERT_TRUE(
        client->Exchange(Parse<Command>("version: 1 loggerGetData {}"), &answer, kWait, &error));
    EXPECT_EQ(answer.result(), notSupported);
  }
}

INSTANTIATE_TEST_SUITE_P(Paths, Recording,
                         ::testing::Values(Path::kDirect, Path::kServer, Path::kServerOverTcp));

// At the log's own pace the last of its 200 ms comes no sooner.
TEST(Replay, KeepsTheLogsPace) {
  const std::string log = WriteLog("link_paced.bin");
  Rig rig(Path::kDirect, Unit(log, 1.0), Options(&rig.log));
  std::unique_ptr<UnitClient> client = rig.Client();
  std::string error;
  Response answer;
  // The replay's clock may start with the logger: timed from before, a busy
  // machine's delay after the start cannot shorten the span measured.
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(client->Exchange(Parse<Command>("loggerStart {}"), &answer, kWait, &error));
  for (std::uint32_t seq : {1, 3, 5, 6, 8, 10}) {  // the CAN lines between are passed over
    ASSERT_TRUE(client->Exchange(Parse<Command>("loggerGetData {}"), &answer, kWait, &error));
    EXPECT_EQ(answer.loggerdata().seqno(), seq);
  }
  EXPECT_GE(std::chrono::steady_clock::now() - start, milliseconds(195));
}

}  // namespace
}  // namespace gcuproto::link::testing
