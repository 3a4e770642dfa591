#include "runtime_log.h"

#include <google/protobuf/stubs/logging.h>

#include <utility>

namespace gcuproto::cli {

namespace {

std::vector<std::string>& Collected() {
  static std::vector<std::string> messages;
  return messages;
}

void Collect(google::protobuf::LogLevel /*level*/, const char* /*filename*/, int /*line*/,
             const std::string& message) {
  Collected().push_back(message);
}

}  // namespace

void CaptureRuntimeLog() { google::protobuf::SetLogHandler(&Collect); }

std::vector<std::string> TakeRuntimeLog() { return std::exchange(Collected(), {}); }

}  // namespace gcuproto::cli
