#include "runtime_log.h"

#include <google/protobuf/stubs/logging.h>

#include <utility>

namespace gcuproto::cli {

namespace {

std::vector<std::string>& collected() {
  static std::vector<std::string> messages;
  return messages;
}

void collect(google::protobuf::LogLevel /*level*/, const char* /*filename*/, int /*line*/,
             const std::string& message) {
  collected().push_back(message);
}

}  // namespace

void capture_runtime_log() { google::protobuf::SetLogHandler(&collect); }

std::vector<std::string> take_runtime_log() { return std::exchange(collected(), {}); }

}  // namespace gcuproto::cli
