// The virtual unit's answers to each command, and its replay of a log.
//
// The log is replayed through one cursor in time order (unit_setup.cc merges
// its two kinds of line): a logger line waits for a data request while the
// data logger runs, a CAN line is sent on its own while the capture runs,
// and a line whose channel is off is passed over. So a client that runs both
// sees the lines in the order they happened.
#include <gcuproto/link/virtual_unit.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "unit_setup.h"

namespace gcuproto {
namespace link {

using Clock = std::chrono::steady_clock;

struct VirtualUnit::State {
  State(std::shared_ptr<const UnitSetup> unit_setup, Sink unit_sink)
      : setup(std::move(unit_setup)), sink(std::move(unit_sink)), tables(setup->config) {}

  std::shared_ptr<const UnitSetup> setup;
  Sink sink;
  config::UnitConfig tables;  // the tuners' and storage's current content
  std::string calibration;
  std::map<std::uint32_t, MapTunerGetLastGetValueResp> last_lookup;

  // The replay: cursor, channels, and every call of the sink.
  std::mutex mutex;
  std::condition_variable wake;
  std::size_t cursor = 0;
  bool logger_on = false;
  bool capture_on = false;
  bool stopping = false;
  Clock::time_point anchor;  // when the log's first line is due
  std::thread capture;

  Clock::time_point Due(std::size_t index) const {
    if (setup->speed == 0) return Clock::time_point::min();
    const std::int64_t ticks = static_cast<std::int64_t>(setup->replay[index].timestamp) -
                               static_cast<std::int64_t>(setup->replay.front().timestamp);
    const double seconds =
        static_cast<double>(ticks > 0 ? ticks : 0) * setup->seconds_per_tick / setup->speed;
    return anchor +
           std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  }

  // The log's time starts again where the cursor stands when a channel opens.
  void StartClock() {
    if (logger_on || capture_on || cursor >= setup->replay.size() || setup->speed == 0) return;
    anchor = Clock::now() - (Due(cursor) - anchor);
  }

  void CaptureLoop();
  void StopCapture(std::unique_lock<std::mutex>& lock);
  // The next logger line for a data request, in the lock.
  void AnswerDataRequest(std::unique_lock<std::mutex>& lock, Response* response);
};

void VirtualUnit::State::CaptureLoop() {
  std::unique_lock<std::mutex> lock(mutex);
  while (!stopping && capture_on) {
    if (cursor >= setup->replay.size()) {
      wake.wait(lock);
      continue;
    }
    const ReplayLine& line = setup->replay[cursor];
    if (!line.can) {
      if (logger_on) {
        wake.wait(lock);  // a data request takes it
      } else {
        ++cursor;
      }
      continue;
    }
    const Clock::time_point due = Due(cursor);
    if (Clock::now() < due) {
      wake.wait_until(lock, due);
      continue;
    }
    Response frame;
    frame.set_version(1);
    *frame.mutable_candump() = line.frame;
    ++cursor;
    sink(frame, true);
    wake.notify_all();
  }
}

void VirtualUnit::State::StopCapture(std::unique_lock<std::mutex>& lock) {
  capture_on = false;
  wake.notify_all();
  if (capture.joinable()) {
    lock.unlock();
    capture.join();
    lock.lock();
  }
}

void VirtualUnit::State::AnswerDataRequest(std::unique_lock<std::mutex>& lock, Response* response) {
  for (;;) {
    if (stopping || !logger_on) {
      response->set_result(notSupported);  // the logger does not run
      return;
    }
    if (cursor >= setup->replay.size()) {
      response->set_result(ok);  // nothing (left) to deliver
      return;
    }
    const ReplayLine& line = setup->replay[cursor];
    if (line.can && !capture_on) {
      ++cursor;
      continue;
    }
    const Clock::time_point due = Due(cursor);
    if (Clock::now() < due) {
      wake.wait_until(lock, due);
      continue;
    }
    if (line.can) {
      wake.wait(lock);  // the capture thread sends it first
      continue;
    }
    // The line's first three fields are the answer's; a fourth (the outputs)
    // stays on as an unknown field, so the line goes back byte for byte.
    response->mutable_loggerdata()->ParseFromString(line.logger_line);
    ++cursor;
    wake.notify_all();
    return;
  }
}

VirtualUnit::VirtualUnit(std::shared_ptr<const UnitSetup> setup, Sink sink)
    : state_(std::make_unique<State>(std::move(setup), std::move(sink))) {}

VirtualUnit::~VirtualUnit() {
  std::unique_lock<std::mutex> lock(state_->mutex);
  state_->stopping = true;
  state_->StopCapture(lock);
}

void VirtualUnit::Reset() {
  std::unique_lock<std::mutex> lock(state_->mutex);
  state_->logger_on = false;
  state_->StopCapture(lock);
}

UnitIdentity VirtualUnit::Identity() const { return state_->setup->identity; }

namespace {

// Tables are small: a scan costs less than keeping an index in step with them.
template <typename Item>
Item* FindById(google::protobuf::RepeatedPtrField<Item>* items, std::uint32_t id) {
  for (Item& item : *items) {
    if (item.id() == id) return &item;
  }
  return nullptr;
}

template <typename Pid>
void CopyGains(const config::Pid& from, Pid* to) {
  to->set_pidid(from.id());
  to->set_p(from.p());
  to->set_i(from.i());
  to->set_d(from.d());
  to->set_lowlimit(from.low_limit());
  to->set_highlimit(from.high_limit());
}

// The label at `position` of one axis; null when there is none.
google::protobuf::int32* Label(config::Map* map, MapTunerMapAxis axis, std::uint32_t position) {
  auto* labels = axis == xAxis   ? map->mutable_x_labels()
                 : axis == yAxis ? map->mutable_y_labels()
                                 : nullptr;
  if (labels == nullptr || position >= static_cast<std::uint32_t>(labels->size())) return nullptr;
  return labels->Mutable(static_cast<int>(position));
}

google::protobuf::int32* Cell(config::Map* map, std::uint32_t x, std::uint32_t y) {
  const auto size_x = static_cast<std::uint32_t>(map->x_labels_size());
  const auto size_y = static_cast<std::uint32_t>(map->y_labels_size());
  if (x >= size_x || y >= size_y) return nullptr;
  return map->mutable_values()->Mutable(static_cast<int>(y * size_x + x));
}

// Label and cell requests, reads and writes, answer alike: the address
// asked for, and whether the map and the entry were there.
template <typename Answer, typename Locate>
google::protobuf::int32* AnswerLookup(config::UnitConfig* tables, std::uint32_t map_id,
                                      Answer* answer, Locate locate) {
  answer->set_mapid(map_id);
  config::Map* map = FindById(tables->mutable_map(), map_id);
  google::protobuf::int32* entry = map ? locate(map) : nullptr;
  answer->set_result(!map ? mapTunerMapNotFound : entry ? mapTunerOk : mapTunerWrongValue);
  return entry;
}

template <typename Request, typename Answer>
google::protobuf::int32* AnswerLabel(config::UnitConfig* tables, const Request& request,
                                     Answer* answer) {
  answer->set_axis(request.axis());
  answer->set_position(request.position());
  return AnswerLookup(tables, request.mapid(), answer, [&request](config::Map* map) {
    return Label(map, request.axis(), request.position());
  });
}

template <typename Request, typename Answer>
google::protobuf::int32* AnswerCell(config::UnitConfig* tables, const Request& request,
                                    Answer* answer) {
  answer->set_x(request.x());
  answer->set_y(request.y());
  return AnswerLookup(tables, request.mapid(), answer,
                      [&request](config::Map* map) { return Cell(map, request.x(), request.y()); });
}

// Reads and erases of a segment answer alike.
template <typename Answer>
config::Segment* AnswerSegment(config::UnitConfig* tables, std::uint32_t id, Answer* answer) {
  answer->set_segment(id);
  config::Segment* segment = FindById(tables->mutable_segment(), id);
  answer->set_result(segment ? ok : memoryError);
  return segment;
}

}  // namespace

void VirtualUnit::Handle(std::string_view packet) {
  Command command;
  if (!command.ParseFromArray(packet.data(), static_cast<int>(packet.size()))) {
    Response response;
    response.set_version(1);
    response.set_result(commandDecodeError);
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->sink(response, false);
    return;
  }
  Handle(command);
}

void VirtualUnit::Handle(const Command& command) {
  State& s = *state_;
  Response response;
  response.set_version(command.version());
  std::unique_lock<std::mutex> lock(s.mutex);
  config::UnitConfig* tables = &s.tables;
  switch (command.req_case()) {
    case Command::kPing:
      response.mutable_pong()->set_seq_no(command.ping().seq_no());
      break;
    case Command::kGetModuleKey:
      response.mutable_publickey()->set_serialnumber(s.setup->identity.serial_number);
      response.mutable_publickey()->set_keychain(tables->keychain());
      break;
    case Command::kGetDeviceId:
      response.mutable_deviceid()->set_mcuid(tables->mcu_id());
      response.mutable_deviceid()->set_qspiflashid(tables->qspi_flash_id());
      response.mutable_deviceid()->set_storageid(tables->storage_id());
      break;
    case Command::kGetFirmwareId:
      *response.mutable_firmwareid() = s.setup->firmware;
      break;
    case Command::kLoggerStart:
      s.StartClock();
      s.logger_on = true;
      response.mutable_loggerstarted();
      s.wake.notify_all();
      break;
    case Command::kLoggerStop:
      s.logger_on = false;
      response.mutable_loggerstopped();
      s.wake.notify_all();
      break;
    case Command::kLoggerGetData:
      s.AnswerDataRequest(lock, &response);
      break;
    case Command::kCandumpStart:
      response.mutable_candumpstart();
      if (!s.capture_on) {
        if (s.capture.joinable()) s.StopCapture(lock);
        s.StartClock();
        s.capture_on = true;
        s.sink(response, false);  // the answer goes out before the first frame
        s.capture = std::thread([&s] { s.CaptureLoop(); });
        return;
      }
      break;
    case Command::kCandumpStop:
      s.StopCapture(lock);
      response.mutable_candumpstop();
      break;
    case Command::kPidTunerStart:
      response.mutable_pidtunerstart()->set_pidcount(
          static_cast<std::uint32_t>(tables->pid_size()));
      break;
    case Command::kPidTunerSet: {
      const PidTunerSetPidReq& request = command.pidtunerset();
      config::Pid* pid = FindById(tables->mutable_pid(), request.pidid());
      if (pid == nullptr) {
        response.set_result(contentDecodeError);  // no such controller
        break;
      }
      pid->set_p(request.p());
      pid->set_i(request.i());
      pid->set_d(request.d());
      pid->set_low_limit(request.lowlimit());
      pid->set_high_limit(request.highlimit());
      response.mutable_pidtunerset()->set_pidid(request.pidid());
      break;
    }
    case Command::kPidTunerGet: {
      config::Pid* pid = FindById(tables->mutable_pid(), command.pidtunerget().pidid());
      if (pid == nullptr) {
        response.set_result(contentDecodeError);
        break;
      }
      CopyGains(*pid, response.mutable_pidtunerget());
      break;
    }
    case Command::kPidTunerReset: {
      const std::uint32_t id = command.pidtunerreset().pidid();
      config::Pid* pid = FindById(tables->mutable_pid(), id);
      if (pid == nullptr) {
        response.set_result(contentDecodeError);
        break;
      }
      for (const config::Pid& seed : s.setup->config.pid()) {
        if (seed.id() == id) *pid = seed;  // back to the configured gains
      }
      response.mutable_pidtunerreset()->set_pidid(id);
      break;
    }
    case Command::kMapTunerStart:
      response.mutable_maptunerstart()->set_mapcount(
          static_cast<std::uint32_t>(tables->map_size()));
      break;
    case Command::kMapTunerGetMapDetails: {
      config::Map* map = FindById(tables->mutable_map(), command.maptunergetmapdetails().mapid());
      if (map == nullptr) {
        response.set_result(contentDecodeError);  // no such map
        break;
      }
      MapTunerGetMapDetailsResp* details = response.mutable_maptunergetmapdetails();
      details->set_mapid(map->id());
      details->set_sizex(static_cast<std::uint32_t>(map->x_labels_size()));
      details->set_sizey(static_cast<std::uint32_t>(map->y_labels_size()));
      break;
    }
    case Command::kMapTunerSetMapLabel: {
      const MapTunerSetMapLabelReq& request = command.maptunersetmaplabel();
      google::protobuf::int32* label =
          AnswerLabel(tables, request, response.mutable_maptunersetmaplabel());
      if (label) *label = request.label();
      break;
    }
    case Command::kMapTunerGetMapLabel: {
      const MapTunerGetMapLabelReq& request = command.maptunergetmaplabel();
      MapTunerGetMapLabelResp* answer = response.mutable_maptunergetmaplabel();
      const google::protobuf::int32* label = AnswerLabel(tables, request, answer);
      if (label) answer->set_label(*label);
      break;
    }
    case Command::kMapTunerSetMapValue: {
      const MapTunerSetMapValueReq& request = command.maptunersetmapvalue();
      google::protobuf::int32* cell =
          AnswerCell(tables, request, response.mutable_maptunersetmapvalue());
      if (cell) *cell = request.value();
      break;
    }
    case Command::kMapTunerGetMapValue: {
      const MapTunerGetMapValueReq& request = command.maptunergetmapvalue();
      MapTunerGetMapValueResp* answer = response.mutable_maptunergetmapvalue();
      const google::protobuf::int32* cell = AnswerCell(tables, request, answer);
      if (cell) {
        answer->set_value(*cell);
        MapTunerGetLastGetValueResp& last = s.last_lookup[request.mapid()];
        last.set_mapid(request.mapid());
        last.set_x(static_cast<google::protobuf::int32>(request.x()));
        last.set_y(static_cast<google::protobuf::int32>(request.y()));
        last.set_value(*cell);
      }
      break;
    }
    case Command::kMapTunerGetMap: {
      config::Map* map = FindById(tables->mutable_map(), command.maptunergetmap().mapid());
      if (map == nullptr) {
        response.set_result(contentDecodeError);
        break;
      }
      MapTunerGetMapResp* answer = response.mutable_maptunergetmap();
      answer->set_mapid(map->id());
      *answer->mutable_x() = map->x_labels();
      *answer->mutable_y() = map->y_labels();
      *answer->mutable_values() = map->values();
      break;
    }
    case Command::kMapTunerGetLastGetValue: {
      const std::uint32_t id = command.maptunergetlastgetvalue().mapid();
      if (FindById(tables->mutable_map(), id) == nullptr) {
        response.set_result(contentDecodeError);
        break;
      }
      // Before any lookup: the map's number and zeros.
      MapTunerGetLastGetValueResp* answer = response.mutable_maptunergetlastgetvalue();
      answer->set_mapid(id);
      const auto last = s.last_lookup.find(id);
      if (last != s.last_lookup.end()) *answer = last->second;
      break;
    }
    case Command::kIoTunerSetInputParamReq: {
      const IoTunerSetInputParamReq& request = command.iotunersetinputparamreq();
      IoTunerSetInputParamResp* answer = response.mutable_iotunersetinputparamresp();
      answer->set_inputid(request.inputid());
      answer->set_paramid(request.paramid());
      answer->set_status(IoTunerSetInputParamResp::InputNotFound);
      for (config::Input& input : *tables->mutable_input()) {
        if (input.id() != request.inputid()) continue;
        answer->set_status(IoTunerSetInputParamResp::ParamNotKnown);
        for (config::Param& param : *input.mutable_param()) {
          if (param.id() != request.paramid()) continue;
          param.set_value(request.value());
          answer->set_status(IoTunerSetInputParamResp::Ok);
        }
      }
      break;
    }
    case Command::kFaultGetFaultCount: {
      FaultGetFaultCountResp* answer = response.mutable_faultgetfaultcount();
      for (const config::Fault& fault : tables->fault()) {
        if (fault.active()) {
          answer->set_activefaultcount(answer->activefaultcount() + 1);
        } else {
          answer->set_inactivefaultcount(answer->inactivefaultcount() + 1);
        }
      }
      break;
    }
    case Command::kFaultGetFaults: {
      FaultGetFaultsResp* answer = response.mutable_faultgetfaults();
      for (const config::Fault& fault : tables->fault()) {
        FaultItem* item = answer->add_faults();
        item->set_type(fault.type());
        item->set_mode(fault.mode());
        item->set_category(fault.category());
        item->set_faultid(fault.fault_id());
        item->set_componentid(fault.component_id());
        *item->mutable_parameters() = fault.parameters();
      }
      break;
    }
    case Command::kFaultCleanFaults:
      tables->clear_fault();
      response.mutable_faultcleanfaults();
      break;
    case Command::kWriteConfiguration: {
      const WriteConfigurationReq& request = command.writeconfiguration();
      WriteConfigurationResp* answer = response.mutable_writeconfiguration();
      answer->set_segment(request.segment());
      config::Segment* segment = FindById(tables->mutable_segment(), request.segment());
      if (segment == nullptr || (segment->size() != 0 && request.data().size() > segment->size())) {
        answer->set_result(memoryError);  // no such segment, or the data does not fit
        break;
      }
      segment->set_data(request.data());
      answer->set_result(ok);
      answer->set_byteswritten(static_cast<std::uint32_t>(request.data().size()));
      break;
    }
    case Command::kReadConfiguration: {
      const std::uint32_t id = command.readconfiguration().segment();
      ReadConfigurationResp* answer = response.mutable_readconfiguration();
      const config::Segment* segment = AnswerSegment(tables, id, answer);
      if (segment) answer->set_data(segment->data());
      break;
    }
    case Command::kEraseConfiguration: {
      const std::uint32_t id = command.eraseconfiguration().segment();
      config::Segment* segment = AnswerSegment(tables, id, response.mutable_eraseconfiguration());
      if (segment) segment->clear_data();
      break;
    }
    case Command::kWriteCalibration:
      s.calibration = command.writecalibration().data();
      response.mutable_writecalibration()->set_result(ok);
      response.mutable_writecalibration()->set_byteswritten(
          static_cast<std::uint32_t>(s.calibration.size()));
      break;
    case Command::REQ_NOT_SET:
      response.set_result(commandDecodeError);  // a command without an operation
      break;
    default:
      // Bootloader, key exchange, virtual inputs and driver calibration.
      response.set_result(notSupported);
      break;
  }
  s.sink(response, false);
}

}  // namespace link
}  // namespace gcuproto
