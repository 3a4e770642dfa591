// gcuproto sim, serve and send as a user runs them.
#include <fcntl.h>
#include <gcuproto/blackbox/writer.h>
#include <google/protobuf/text_format.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "link_rig.h"

extern char** environ;

namespace gcuproto::link::testing {
namespace {

using std::chrono::milliseconds;

// A run of the tool with its stdout on a pipe; killed if it outlives the test.
class Tool {
 public:
  explicit Tool(std::vector<std::string> args) {
    args.insert(args.begin(), GCUPROTO_TOOL);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    int out[2];
    EXPECT_EQ(pipe(out), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    EXPECT_EQ(posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    out_ = out[0];
  }
  ~Tool() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    close(out_);
  }

  // A line of stdout, waiting at most `seconds`.
  std::string Line(double seconds) {
    std::string line;
    pollfd entry{out_, POLLIN, 0};
    char c;
    while (poll(&entry, 1, static_cast<int>(seconds * 1000)) > 0 && read(out_, &c, 1) == 1 &&
           c != '\n') {
      line += c;
    }
    return line;
  }

  std::string Rest(double seconds) {
    std::string rest;
    pollfd entry{out_, POLLIN, 0};
    char buffer[4096];
    ssize_t got;
    while (poll(&entry, 1, static_cast<int>(seconds * 1000)) > 0 &&
           (got = read(out_, buffer, sizeof buffer)) > 0) {
      rest.append(buffer, static_cast<std::size_t>(got));
    }
    return rest;
  }

  void Signal(int signal) { kill(pid_, signal); }

  // The exit status, or -1 when it does not end within `seconds`.
  int Wait(double seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) return -1;
      std::this_thread::sleep_for(milliseconds(10));
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
};

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
  struct stat info {};
  return stat(path.c_str(), &info) == 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
}

// send --record until SIGINT through serve and through sim: the file is
// the replayed log, byte for byte.
TEST(Tool, RecordsUntilInterrupted) {
  if (!HaveTool()) GTEST_SKIP() << "the tool is not built";
  const ScratchDir scratch("link_tool_record");
  const std::string log = (scratch / "replayed.bin").string();
  {
    blackbox::Error error;
    std::unique_ptr<blackbox::Writer> writer = blackbox::Writer::Open(log, {}, &error);
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
    ASSERT_TRUE(writer->Close());
  }
  for (const char* server : {"serve", "sim"}) {
    Tool unit({server, "--port", "0", "--replay", log, "--speed", "max", "--config",
               TestData("unit.txt")});
    const std::string port = unit.Line(10);
    ASSERT_FALSE(port.empty()) << server;
    const std::string out = (scratch / "recorded.bin").string();
    std::remove(out.c_str());
    Tool record({"send", std::string(server) == "serve" ? "--server" : "--unit",
                 "127.0.0.1:" + port, "--record", out});
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (FileSize(out) < FileSize(log) && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(milliseconds(20));
    }
    record.Signal(SIGINT);
    EXPECT_EQ(record.Wait(10), 0) << server;
    EXPECT_EQ(ReadFile(out), ReadFile(log)) << server;
    unit.Signal(SIGTERM);
    EXPECT_EQ(unit.Wait(10), 0) << server;
  }
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
