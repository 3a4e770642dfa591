// SIGINT and SIGTERM (and Ctrl-Break on Windows) as a request to stop that
// long-running subcommands (sim, serve, send --record) look at, so that they
// end cleanly.
#ifndef GCUPROTO_TOOLS_STOP_SIGNAL_H
#define GCUPROTO_TOOLS_STOP_SIGNAL_H

namespace gcuproto::cli {

void CatchStopSignals();
bool StopRequested();
// Returns once a stop signal has come.
void WaitForStopSignal();

}  // namespace gcuproto::cli

#endif  // GCUPROTO_TOOLS_STOP_SIGNAL_H
