#include "acceptor.h"

#include <gcuproto/bootloader_commands.pb.h>

#include <cstdio>

#include "connection_impl.h"

namespace gcuproto {
namespace link {

namespace {

// Compares in time independent of where the texts differ.
bool SameSecret(const std::string& a, const std::string& b) {
  unsigned char difference = a.size() == b.size() ? 0 : 1;
  for (std::size_t i = 0; i < a.size(); ++i) {
    difference |= static_cast<unsigned char>(a[i] ^ (i < b.size() ? b[i] : 0));
  }
  return difference == 0;
}

}  // namespace

Acceptor::Acceptor(const ServerOptions& options, Session session)
    : options_(options), session_(std::move(session)) {}

Acceptor::~Acceptor() { Stop(); }

bool Acceptor::Start(std::string* error) {
  listener_ = Socket::Listen(options_.listen, error);
  if (!listener_.valid()) return false;
  port_ = listener_.local_port();
  accept_thread_ = std::thread([this] { AcceptLoop(); });
  return true;
}

void Acceptor::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) return;
    stopping_ = true;
    for (Entry& entry : entries_) entry.connection->Shutdown();
  }
  listener_.Shutdown();
  if (accept_thread_.joinable()) accept_thread_.join();
  // No new entries now; the sessions end as their connections shut down.
  for (Entry& entry : entries_) {
    if (entry.thread.joinable()) entry.thread.join();
  }
  entries_.clear();
}

void Acceptor::Log(const std::string& line) const {
  std::lock_guard<std::mutex> lock(log_mutex_);
  if (options_.log) {
    options_.log(line);
  } else {
    std::fprintf(stderr, "%s\n", line.c_str());
  }
}

void Acceptor::AcceptLoop() {
  for (;;) {
    Socket accepted;
    std::string peer;
    std::string error;
    const IoStatus status = listener_.Accept(&accepted, &peer, &error);
    if (status == IoStatus::kClosed) return;
    if (status != IoStatus::kOk) {
      Log("accept failed: " + error);
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      continue;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) return;
    for (auto it = entries_.begin(); it != entries_.end();) {
      if (it->done) {
        it->thread.join();
        it = entries_.erase(it);
      } else {
        ++it;
      }
    }
    if (entries_.size() >= options_.max_clients) {
      Log(peer + ": refused, " + std::to_string(options_.max_clients) +
          " clients connected already");
      continue;
    }
    entries_.emplace_back();
    Entry* entry = &entries_.back();
    entry->connection = std::make_shared<Connection>(
        std::make_unique<Connection::Impl>(std::move(accepted), peer, options_.limits));
    entry->thread = std::thread([this, entry] { Serve(entry); });
  }
}

void Acceptor::Serve(Entry* entry) {
  Connection& connection = *entry->connection;
  if (options_.token.empty() || CheckToken(connection)) session_(connection);
  connection.Shutdown();  // the peer sees the end now, not when the entry is reaped
  std::lock_guard<std::mutex> lock(mutex_);
  entry->done = true;
}

bool Acceptor::CheckToken(Connection& connection) {
  CommandData token;
  std::string error;
  const ReadStatus status = connection.Read(&token, options_.limits.frame_timeout, &error);
  if (status == ReadStatus::kOk && SameSecret(token.data(), options_.token)) return true;
  if (status == ReadStatus::kOk) {
    Log(connection.peer() + ": closed, wrong token");
  } else if (status == ReadStatus::kBadFrame) {
    Log("closed " + error + " (expected the token)");
  } else {
    Log(connection.peer() + ": closed, no token");
  }
  return false;
}

}  // namespace link
}  // namespace gcuproto
