#include <gcuproto/blackbox/writer.h>
#include <gcuproto/link/recorder.h>
#include <gcuproto/link/unit_link.h>

#include <thread>

namespace gcuproto {
namespace link {

namespace {

using Clock = std::chrono::steady_clock;

// How often the stop request is looked at while waiting.
constexpr std::chrono::milliseconds kSlice{50};

class Session {
 public:
  Session(UnitClient& unit, blackbox::Writer& writer, const RecordOptions& options,
          RecordSummary* summary)
      : unit_(unit), writer_(writer), options_(options), summary_(summary) {}

  bool Run(std::string* error) {
    Command start;
    start.set_version(1);
    *start.mutable_loggerstart() = options_.logger;
    if (!Ask(start, Response::kLoggerStarted, "start the data logger", error)) return false;
    Command capture;
    capture.set_version(1);
    capture.mutable_candumpstart();
    if (!Ask(capture, Response::kCandumpStart, "start the CAN capture", error)) {
      Stop(nullptr);
      return false;
    }
    const bool recorded = Loop(error);
    // Stopping is part of a clean end; a failure already reported wins.
    std::string stop_error;
    const bool stopped = Stop(&stop_error);
    if (recorded && !stopped) *error = stop_error;
    return recorded && stopped;
  }

 private:
  bool Stopping() const { return options_.stop_requested && options_.stop_requested(); }

  bool WriteFrame(const Response& response, std::string* error) {
    const CandumpResp& frame = response.candump();
    BlackboxCandumpFileLine line;
    line.set_seqno(++last_seqno_);
    line.set_timestamp(frame.timestamp());
    line.set_canid(frame.canid());
    line.set_messageid(frame.msgid());
    line.set_extended(frame.isextended());
    line.set_data(frame.data());
    ++summary_->can_lines;
    return Writing([&](blackbox::Error* failure) { return writer_.Write(line, failure); }, error);
  }

  // Every call on the writer goes through here: once one has failed, only
  // Close() may follow, and that first failure is the session's error.
  template <typename Call>
  bool Writing(const Call& call, std::string* error) {
    blackbox::Error failure;
    if (writer_failure_.empty() && call(&failure)) return true;
    if (writer_failure_.empty()) writer_failure_ = failure.message();
    *error = writer_failure_;
    return false;
  }

  bool Flush(std::string* error) {
    return Writing([&](blackbox::Error* failure) { return writer_.Flush(failure); }, error);
  }

  // Waits for the answer to the command last sent, writing the CAN frames
  // that come first. Keeps waiting through a stop request: the answer is due.
  bool Answer(Response* answer, std::string* error) {
    const Clock::time_point deadline = Clock::now() + options_.timeout;
    for (;;) {
      const ReadStatus status = unit_.Receive(answer, kSlice, error);
      if (status == ReadStatus::kTimeout) {
        if (Clock::now() < deadline) continue;
        *error = "the unit did not answer in time";
        return false;
      }
      if (status != ReadStatus::kOk) return false;
      if (!IsUnsolicited(*answer)) return true;
      if (!WriteFrame(*answer, error)) return false;
    }
  }

  bool Ask(const Command& command, Response::RespCase expected, const char* what,
           std::string* error) {
    Response answer;
    if (!unit_.Send(command, error) || !Answer(&answer, error)) return false;
    if (answer.resp_case() == expected) return Flush(error);
    *error = std::string("the unit would not ") + what + ": " + answer.ShortDebugString();
    return false;
  }

  bool Loop(std::string* error) {
    Command request;
    request.set_version(1);
    request.mutable_loggergetdata();
    while (!Stopping()) {
      Response answer;
      if (!unit_.Send(request, error) || !Answer(&answer, error)) return false;
      if (answer.has_loggerdata()) {
        last_seqno_ = answer.loggerdata().seqno();
        ++summary_->logger_lines;
        const std::string line = answer.loggerdata().SerializeAsString();
        if (!Writing(
                [&](blackbox::Error* failure) {
                  return writer_.WriteRaw(blackbox::RecordKind::kLoggerLine, line, failure);
                },
                error)) {
          return false;
        }
      } else if (answer.has_result() && answer.result() == ok) {
        // No line to give yet: take CAN frames for a while, then ask again.
        if (!Idle(error)) return false;
      } else {
        *error = "the unit stopped giving data: " + answer.ShortDebugString();
        return false;
      }
      if (!Flush(error)) return false;
    }
    return true;
  }

  bool Idle(std::string* error) {
    const Clock::time_point until = Clock::now() + 4 * kSlice;
    while (Clock::now() < until && !Stopping()) {
      Response frame;
      const ReadStatus status = unit_.Receive(&frame, kSlice, error);
      if (status == ReadStatus::kTimeout) continue;
      if (status != ReadStatus::kOk) return false;
      if (!IsUnsolicited(frame)) {
        *error = "the unit answered a command it was not sent: " + frame.ShortDebugString();
        return false;
      }
      if (!WriteFrame(frame, error) || !Flush(error)) return false;
    }
    return true;
  }

  bool Stop(std::string* error) {
    std::string ignored;
    std::string* why = error ? error : &ignored;
    Command stop;
    stop.set_version(1);
    stop.mutable_candumpstop();
    bool stopped = Ask(stop, Response::kCandumpStop, "stop the CAN capture", why);
    stop.mutable_loggerstop();
    stopped = Ask(stop, Response::kLoggerStopped, "stop the data logger", why) && stopped;
    return stopped;
  }

  UnitClient& unit_;
  blackbox::Writer& writer_;
  const RecordOptions& options_;
  RecordSummary* summary_;
  std::uint32_t last_seqno_ = 0;
  std::string writer_failure_;
};

}  // namespace

bool Record(UnitClient& unit, const std::string& path, const RecordOptions& options,
            RecordSummary* summary, std::string* error) {
  blackbox::Error failure;
  std::unique_ptr<blackbox::Writer> writer = blackbox::Writer::Open(path, {}, &failure);
  if (!writer) {
    *error = failure.message();
    return false;
  }
  *summary = RecordSummary{};
  Session session(unit, *writer, options, summary);
  const bool recorded = session.Run(error);
  if (!writer->Close(&failure) && recorded) {
    *error = failure.message();
    return false;
  }
  return recorded;
}

}  // namespace link
}  // namespace gcuproto
