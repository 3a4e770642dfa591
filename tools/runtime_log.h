// The protobuf runtime logs some faults (a string field that is not UTF-8)
// instead of returning them. The tool collects those messages so that a
// failure is reported as one line of its own and a success prints nothing to
// stderr.
#ifndef GCUPROTO_TOOLS_RUNTIME_LOG_H
#define GCUPROTO_TOOLS_RUNTIME_LOG_H

#include <string>
#include <vector>

namespace gcuproto::cli {

// Routes the runtime's log messages into the collection below.
void CaptureRuntimeLog();

// The messages logged since the last call, oldest first.
std::vector<std::string> TakeRuntimeLog();

}  // namespace gcuproto::cli

#endif  // GCUPROTO_TOOLS_RUNTIME_LOG_H
