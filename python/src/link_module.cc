// gcuproto._link: the C++ clients of gcuproto::link for gcuproto.link. The
// messages cross as serialised bytes, since Python's classes live in their
// own descriptor pool; the waiting is done without the GIL.
#include <gcuproto/link/client.h>
#include <gcuproto/link/recorder.h>
#include <pybind11/pybind11.h>

#include <chrono>
#include <cmath>
#include <memory>
#include <stdexcept>
#include <string>

namespace py = pybind11;

namespace gcuproto {
namespace python {
namespace {

using std::chrono::milliseconds;

milliseconds Milliseconds(double seconds) {
  if (!(seconds > 0) || !std::isfinite(seconds))
    throw py::value_error("timeout must be a positive number of seconds");
  return milliseconds(static_cast<long long>(std::ceil(seconds * 1000)));
}

link::Endpoint Address(const std::string& text) {
  link::Endpoint endpoint;
  std::string error;
  if (!link::ParseEndpoint(text, &endpoint, &error)) throw py::value_error(error);
  return endpoint;
}

link::ClientOptions Options(double timeout, const std::string& token,
                            std::uint32_t max_frame_size) {
  link::ClientOptions options;
  options.connect_timeout = Milliseconds(timeout);
  options.token = token;
  options.limits.max_frame_size = max_frame_size;
  return options;
}

template <typename Message>
Message Parse(const py::bytes& bytes, const char* type) {
  Message message;
  if (!message.ParseFromString(std::string(bytes))) {
    throw py::value_error(std::string("not a serialised ") + type);
  }
  return message;
}

py::bytes Bytes(const google::protobuf::Message& message) {
  return py::bytes(message.SerializeAsString());
}

// A broken or timed-out exchange: TimeoutError when nothing came in time,
// ConnectionError otherwise, with the library's reason.
[[noreturn]] void Fail(link::ReadStatus status, const std::string& error) {
  if (status == link::ReadStatus::kTimeout) {
    PyErr_SetString(PyExc_TimeoutError, error.c_str());
  } else {
    PyErr_SetString(PyExc_ConnectionError, error.c_str());
  }
  throw py::error_already_set();
}

// Exchange() and Call() say only in their text that the answer was late.
[[noreturn]] void FailExchange(const std::string& error) {
  const bool late = error.find("no answer in time") != std::string::npos;
  Fail(late ? link::ReadStatus::kTimeout : link::ReadStatus::kClosed, error);
}

// One client of either kind; the Python wrapper knows which it holds.
class Client {
 public:
  Client(std::unique_ptr<link::UnitClient> unit, link::ServerClient* server)
      : unit_(std::move(unit)), server_(server) {}

  void Send(const py::bytes& command_bytes) {
    const Command command = Parse<Command>(command_bytes, "Command");
    std::string error;
    bool sent;
    {
      py::gil_scoped_release unlocked;
      sent = unit_->Send(command, &error);
    }
    if (!sent) Fail(link::ReadStatus::kClosed, error);
  }

  // The next packet of the unit, or None when none came within `timeout`.
  py::object Receive(double timeout) {
    Response response;
    std::string error;
    link::ReadStatus status;
    {
      py::gil_scoped_release unlocked;
      status = unit_->Receive(&response, Milliseconds(timeout), &error);
    }
    if (status == link::ReadStatus::kTimeout) return py::none();
    if (status != link::ReadStatus::kOk) Fail(status, error);
    return Bytes(response);
  }

  // The command's answer, and the CAN frames that came before it.
  py::tuple Exchange(const py::bytes& command_bytes, double timeout) {
    const Command command = Parse<Command>(command_bytes, "Command");
    Response answer;
    std::string error;
    std::vector<std::string> frames;
    bool answered;
    {
      py::gil_scoped_release unlocked;
      answered = unit_->Exchange(
          command, &answer, Milliseconds(timeout), &error,
          [&frames](const Response& frame) { frames.push_back(frame.SerializeAsString()); });
    }
    if (!answered) FailExchange(error);
    py::list before;
    for (const std::string& frame : frames) before.append(py::bytes(frame));
    return py::make_tuple(Bytes(answer), before);
  }

  py::bytes Call(const py::bytes& request_bytes, double timeout) {
    if (server_ == nullptr)
      throw py::type_error("a unit client has no server requests; use exchange()");
    const SoftwareServerRequest request =
        Parse<SoftwareServerRequest>(request_bytes, "SoftwareServerRequest");
    SoftwareServerResponse answer;
    std::string error;
    bool answered;
    {
      py::gil_scoped_release unlocked;
      answered = server_->Call(request, &answer, Milliseconds(timeout), &error);
    }
    if (!answered) FailExchange(error);
    return Bytes(answer);
  }

  // A recording session until `seconds` have passed or `records` records
  // came (0: no such limit), or Ctrl-C; the file is valid whenever it ends.
  py::tuple Record(const std::string& path, double seconds, std::uint64_t records, double timeout,
                   const py::bytes& logger_bytes) {
    link::RecordOptions options;
    options.timeout = Milliseconds(timeout);
    if (py::len(logger_bytes) > 0)
      options.logger = Parse<DataloggerStart>(logger_bytes, "DataloggerStart");
    link::RecordSummary summary;
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(seconds > 0 ? seconds : 1e9));
    bool interrupted = false;
    options.stop_requested = [&]() {
      if (records > 0 && summary.logger_lines + summary.can_lines >= records) return true;
      if (std::chrono::steady_clock::now() >= deadline) return true;
      py::gil_scoped_acquire locked;
      if (PyErr_CheckSignals() != 0) {
        interrupted = true;
        PyErr_Clear();
      }
      return interrupted;
    };
    std::string error;
    bool recorded;
    {
      py::gil_scoped_release unlocked;
      recorded = link::Record(*unit_, path, options, &summary, &error);
    }
    if (!recorded) Fail(link::ReadStatus::kClosed, error);
    if (interrupted) {
      PyErr_SetNone(PyExc_KeyboardInterrupt);
      throw py::error_already_set();
    }
    return py::make_tuple(summary.logger_lines, summary.can_lines);
  }

 private:
  std::unique_ptr<link::UnitClient> unit_;
  link::ServerClient* server_;  // unit_ itself, when it is the software server
};

// Connects with `connect(endpoint, options, &error)` while the GIL is free.
template <typename Connect>
Client Open(const std::string& address, double timeout, const std::string& token,
            std::uint32_t max_frame_size, bool server, Connect connect) {
  const link::Endpoint endpoint = Address(address);
  const link::ClientOptions options = Options(timeout, token, max_frame_size);
  std::string error;
  std::unique_ptr<link::UnitClient> client;
  {
    py::gil_scoped_release unlocked;
    client = connect(endpoint, options, &error);
  }
  if (!client) Fail(link::ReadStatus::kClosed, error);
  link::ServerClient* as_server = server ? static_cast<link::ServerClient*>(client.get()) : nullptr;
  return Client(std::move(client), as_server);
}

Client ConnectServer(const std::string& address, double timeout, const std::string& token,
                     std::uint32_t max_frame_size) {
  return Open(address, timeout, token, max_frame_size, true, &link::ServerClient::Connect);
}

Client ConnectUnit(const std::string& address, double timeout, const std::string& token,
                   std::uint32_t max_frame_size) {
  return Open(address, timeout, token, max_frame_size, false, &link::ConnectUnit);
}

}  // namespace
}  // namespace python
}  // namespace gcuproto

PYBIND11_MODULE(_link, m) {
  using gcuproto::python::Client;
  m.doc() = "Clients of the software server and of units on TCP, for gcuproto.link";
  m.attr("DEFAULT_MAX_FRAME_SIZE") = gcuproto::link::kDefaultMaxFrameSize;
  py::class_<Client>(m, "Client")
      .def("send", &Client::Send, py::arg("command"))
      .def("receive", &Client::Receive, py::arg("timeout"))
      .def("exchange", &Client::Exchange, py::arg("command"), py::arg("timeout"))
      .def("call", &Client::Call, py::arg("request"), py::arg("timeout"))
      .def("record", &Client::Record, py::arg("path"), py::arg("seconds"), py::arg("records"),
           py::arg("timeout"), py::arg("logger"));
  m.def("connect_server", &gcuproto::python::ConnectServer, py::arg("address"), py::arg("timeout"),
        py::arg("token"), py::arg("max_frame_size"));
  m.def("connect_unit", &gcuproto::python::ConnectUnit, py::arg("address"), py::arg("timeout"),
        py::arg("token"), py::arg("max_frame_size"));
}
