// Load on the software server over loopback: many clients at once, each
// sending pings with sequence numbers of its own and checking that every
// answer is the pong of its ping. Prints requests per second and the
// latency percentiles of each round, and the medians of the rounds.
//
//   gcuproto_link_load [CLIENTS [PINGS [ROUNDS [server|unit]]]]   (50 10000 3 server)
#include <gcuproto/link/client.h>
#include <gcuproto/link/server.h>
#include <gcuproto/link/virtual_unit.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace gcuproto::link;
using Clock = std::chrono::steady_clock;

// The whole run is bounded: a round that takes longer fails.
constexpr std::chrono::seconds kRoundLimit{300};

struct Round {
  double requests_per_second = 0;
  double p50_us = 0;
  double p99_us = 0;
};

bool RunRound(std::uint16_t port, bool through_server, int clients, int pings, Round* round) {
  std::vector<std::vector<double>> latencies(static_cast<std::size_t>(clients));
  std::atomic<int> failures{0};
  std::atomic<bool> give_up{false};
  const Clock::time_point start = Clock::now();
  std::vector<std::thread> threads;
  for (int c = 0; c < clients; ++c) {
    threads.emplace_back([&, c] {
      Endpoint server;
      server.port = port;
      std::string error;
      std::unique_ptr<UnitClient> client =
          through_server ? std::unique_ptr<UnitClient>(ServerClient::Connect(server, {}, &error))
                         : ConnectUnit(server, {}, &error);
      if (!client) {
        std::fprintf(stderr, "client %d: %s\n", c, error.c_str());
        ++failures;
        return;
      }
      std::vector<double>& mine = latencies[static_cast<std::size_t>(c)];
      mine.reserve(static_cast<std::size_t>(pings));
      Command ping;
      ping.set_version(1);
      Response pong;
      for (int i = 0; i < pings && !give_up; ++i) {
        const std::uint32_t seq =
            static_cast<std::uint32_t>(c) * static_cast<std::uint32_t>(pings) +
            static_cast<std::uint32_t>(i) + 1;
        ping.mutable_ping()->set_seq_no(seq);
        const Clock::time_point sent = Clock::now();
        if (!client->Exchange(ping, &pong, std::chrono::seconds(10), &error) ||
            pong.pong().seq_no() != seq) {
          std::fprintf(
              stderr, "client %d, ping %u: %s\n", c, seq,
              error.empty() ? ("answered " + pong.ShortDebugString()).c_str() : error.c_str());
          ++failures;
          give_up = true;
          return;
        }
        mine.push_back(std::chrono::duration<double, std::micro>(Clock::now() - sent).count());
        if (Clock::now() - start > kRoundLimit) give_up = true;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (failures > 0 || give_up) return false;
  std::vector<double> all;
  for (const auto& mine : latencies) all.insert(all.end(), mine.begin(), mine.end());
  std::sort(all.begin(), all.end());
  round->requests_per_second = static_cast<double>(all.size()) / seconds;
  round->p50_us = all[all.size() / 2];
  round->p99_us = all[all.size() * 99 / 100];
  return true;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int clients = argc > 1 ? std::atoi(argv[1]) : 50;
  const int pings = argc > 2 ? std::atoi(argv[2]) : 10000;
  const int rounds = argc > 3 ? std::atoi(argv[3]) : 3;
  const bool through_server = argc <= 4 || std::string(argv[4]) != "unit";
  if (clients <= 0 || pings <= 0 || rounds <= 0) {
    std::fprintf(stderr, "usage: gcuproto_link_load [CLIENTS [PINGS [ROUNDS [server|unit]]]]\n");
    return 2;
  }
  std::string error;
  std::shared_ptr<const UnitSetup> setup = PrepareVirtualUnit({}, &error);
  ServerOptions options;  // 127.0.0.1, any free port
  options.max_clients = static_cast<std::size_t>(clients) + 1;
  std::unique_ptr<SoftwareServer> software_server;
  std::unique_ptr<UnitServer> unit_server;
  if (through_server) {
    software_server = SoftwareServer::Start(options, MakeVirtualUnitLink(setup), &error);
  } else {
    unit_server = UnitServer::Start(options, setup, &error);
  }
  if (!software_server && !unit_server) {
    std::fprintf(stderr, "gcuproto_link_load: %s\n", error.c_str());
    return 1;
  }
  const std::uint16_t port = software_server ? software_server->port() : unit_server->port();
  std::printf("%d clients x %d pings through the %s on 127.0.0.1:%u\n", clients, pings,
              through_server ? "software server (virtual unit in process)" : "unit server", port);
  std::vector<double> rates, p50s, p99s;
  for (int r = 0; r < rounds; ++r) {
    Round round;
    if (!RunRound(port, through_server, clients, pings, &round)) {
      std::fprintf(stderr, "gcuproto_link_load: round %d failed\n", r + 1);
      return 1;
    }
    std::printf("round %d: %.0f requests/s, latency p50 %.0f us, p99 %.0f us\n", r + 1,
                round.requests_per_second, round.p50_us, round.p99_us);
    rates.push_back(round.requests_per_second);
    p50s.push_back(round.p50_us);
    p99s.push_back(round.p99_us);
  }
  std::printf("median of %d rounds: %.0f requests/s, latency p50 %.0f us, p99 %.0f us\n", rounds,
              Median(rates), Median(p50s), Median(p99s));
  return 0;
}
