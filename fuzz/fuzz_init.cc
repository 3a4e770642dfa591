// The start of every fuzz target but the tool's (which captures the runtime's
// log as the tool does). Fuzzing feeds the runtime bad strings and broken
// messages on most inputs, and it logs each one; the checks decide, not the log.
#include <google/protobuf/stubs/logging.h>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  google::protobuf::SetLogHandler(nullptr);
  return 0;
}
