// gcuproto sim, serve and send as a user runs them.
#include <gcuproto/blackbox/writer.h>
#include <google/protobuf/text_format.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "link_rig.h"
#include "tool_runner.h"

namespace gcuproto::link::testing {
namespace {

using gcuproto_test::WriteFile;
using std::chrono::milliseconds;

bool HaveTool() { return std::string(GCUPROTO_TOOL).size() > 0; }

std::string Address(std::uint16_t port) { return "127.0.0.1:" + std::to_string(port); }

TEST(Tool, SendsAndExitsAsElsewhere) {
  if (!HaveTool()) GTEST_SKIP() << "the tool is not built";
  Log unused;
  Rig rig(Path::kServer, Unit(), Options(&unused));
  const std::string server = Address(rig.port());
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* out;
  } cases[] = {
      {{"--server", server, "Command", "ping { seq_no: 7 }"},
       0,
       "version: 1\npong {\n  seq_no: 7\n}\n"},
      {{"--server", server, "Command", "getFirmwareId {}", "--json", "--oneline"},
       0,
       "{\"version\":1,\"firmwareId\":{\"major_version\":2,\"minor_version\":5,\"build_version\":"
       "300}}\n"},
      {{"--server", server, "SoftwareServerRequest", "getSerialNumber {}", "--oneline"},
       0,
       "getSerialNumber { serialNo: \"GCU-0042\" deviceMode: ApplicationMode deviceUsbVID: 1155 "
       "deviceUsbPID: 22336 }\n"},
      {{"--unit", Address(rig.port()), "Command", "ping {}"}, 1, ""},  // a server is no unit
      {{"--server", server, "Command", "ping { seq_no: x }"}, 1, ""},
      {{"--server", "127.0.0.1:1", "Command", "ping {}"}, 1, ""},
      {{"Command", "ping {}"}, 2, ""},
      {{"--server", server, "Pong", "seq_no: 1"}, 2, ""},
      {{"--server", server, "--record", "x.bin", "Command", "ping {}"}, 2, ""},
  };
  for (Case& c : cases) {
    c.args.insert(c.args.begin(), "send");
    c.args.push_back("--timeout");
    c.args.push_back("3");
    Tool tool(c.args);
    EXPECT_EQ(tool.Rest(10), c.out) << c.args[2];
    EXPECT_EQ(tool.Wait(10), c.status) << c.args[2];
  }
}

std::uint64_t FileSize(const std::string& path) {
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(std::filesystem::u8path(path), error);
  return error ? 0 : size;
}

// A log of both kinds of line to replay, at a UTF-8 path.
bool WriteReplayLog(const std::string& path) {
  blackbox::Error error;
  std::unique_ptr<blackbox::Writer> writer = blackbox::Writer::Open(path, {}, &error);
  if (!writer) return false;
  for (std::uint32_t seq = 1; seq <= 40; ++seq) {
    if (seq % 3 == 0) {
      BlackboxCandumpFileLine can;
      can.set_seqno(seq);
      can.set_timestamp(seq * 5);
      can.set_canid(seq);
      can.set_data("frame");
      writer->Write(can);
    } else {
      BlackboxFileLine line;
      line.set_seqno(seq);
      line.set_timestamp(seq * 5);
      line.add_datainput(-static_cast<int>(seq));
      writer->Write(line);
    }
  }
  return writer->Close();
}

// Until the recording is as long as the log, or 10 s have gone by.
void AwaitRecording(const std::string& recorded, const std::string& log) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (FileSize(recorded) < FileSize(log) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(milliseconds(20));
  }
}

// send --record until SIGINT through serve and through sim: the file is
// the replayed log, byte for byte.
TEST(Tool, RecordsUntilInterrupted) {
  if (!HaveTool()) GTEST_SKIP() << "the tool is not built";
  const ScratchDir scratch("link_tool_record");
  const std::string log = (scratch / "replayed.bin").string();
  ASSERT_TRUE(WriteReplayLog(log));
  for (const char* server : {"serve", "sim"}) {
    Tool unit({server, "--port", "0", "--replay", log, "--speed", "max", "--config",
               TestData("unit.txt")});
    const std::string port = unit.Line(10);
    ASSERT_FALSE(port.empty()) << server;
    const std::string out = (scratch / "recorded.bin").string();
    std::remove(out.c_str());
    Tool record({"send", std::string(server) == "serve" ? "--server" : "--unit",
                 "127.0.0.1:" + port, "--record", out});
    AwaitRecording(out, log);
    record.Signal(SIGINT);
    EXPECT_EQ(record.Wait(10), 0) << server;
    EXPECT_EQ(ReadFile(out), ReadFile(log)) << server;
    unit.Signal(SIGTERM);
    EXPECT_EQ(unit.Wait(10), 0) << server;
  }
}

// Names on the command line are UTF-8 on every system; on Windows they
// reach the tool through the wide command line.
TEST(Tool, OpensFilesByUtf8Names) {
  if (!HaveTool()) GTEST_SKIP() << "the tool is not built";
  const ScratchDir scratch("link_tool_names");
  auto named = [&](const char* name) {
    return (scratch.path() / std::filesystem::u8path(name)).u8string();
  };
  const std::string config = named("unité 配置.txt");
  const std::string log = named("journal 日志.bin");
  const std::string token = named("jeton 令牌.txt");
  const std::string recorded = named("enregistré 记录.bin");
  WriteFile(std::filesystem::u8path(config), ReadFile(TestData("unit.txt")));
  WriteFile(std::filesystem::u8path(token), "s3cret\n");
  ASSERT_TRUE(WriteReplayLog(log));
  Tool unit({"sim", "--port", "0", "--config", config, "--replay", log, "--speed", "max",
             "--token-file", token});
  const std::string port = unit.Line(10);
  ASSERT_FALSE(port.empty());
  Tool record({"send", "--unit", "127.0.0.1:" + port, "--token-file", token, "--record", recorded});
  AwaitRecording(recorded, log);
  record.Signal(SIGINT);
  EXPECT_EQ(record.Wait(10), 0);
  EXPECT_EQ(ReadFile(std::filesystem::u8path(recorded)), ReadFile(std::filesystem::u8path(log)));
  unit.Signal(SIGTERM);
  EXPECT_EQ(unit.Wait(10), 0);
}

TEST(Tool, AnswersMessageBoxesAsToldTo) {
  if (!HaveTool()) GTEST_SKIP() << "the tool is not built";
  struct Case {
    const char* answer;
    const char* box;
    ShowMessageResp::Buttons clicked;
  } cases[] = {
      {"bOk", "messageButtons: [bOk, bCancel] escapeButton: bCancel", ShowMessageResp::bOk},
      {"bYes", "messageButtons: [bOk, bCancel] escapeButton: bCancel", ShowMessageResp::bCancel},
      {"14", "", ShowMessageResp::bNo},
      {"default", "messageButtons: [bYes, bNo] defaultButton: bNo", ShowMessageResp::bNo},
      {"escape", "messageButtons: [bRetry, bAbort] escapeButton: bAbort", ShowMessageResp::bAbort},
  };
  for (const Case& c : cases) {
    Tool serve({"serve", "--port", "0", "--answer", c.answer});
    const std::string port = serve.Line(10);
    ASSERT_FALSE(port.empty()) << c.answer;
    std::string error;
    std::unique_ptr<ServerClient> client =
        ServerClient::Connect(Loopback(static_cast<std::uint16_t>(std::stoi(port))), {}, &error);
    ASSERT_TRUE(client) << error;
    SoftwareServerRequest request;
    ASSERT_TRUE(
        google::protobuf::TextFormat::ParseFromString(c.box, request.mutable_showmessage()));
    SoftwareServerResponse answer;
    ASSERT_TRUE(client->Call(request, &answer, milliseconds(5000), &error)) << error;
    EXPECT_EQ(answer.showmessage().clickedbutton(), c.clicked) << c.answer;
    serve.Signal(SIGINT);
    EXPECT_EQ(serve.Wait(10), 0);
  }
  Tool wrong({"serve", "--port", "0", "--answer", "bMaybe"});
  EXPECT_EQ(wrong.Wait(10), 2);
}

}  // namespace
}  // namespace gcuproto::link::testing
