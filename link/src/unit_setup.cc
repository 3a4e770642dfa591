// Reading a virtual unit's configuration and replay log.
#include "unit_setup.h"

#include <gcuproto/blackbox/reader.h>
#include <google/protobuf/io/tokenizer.h>
#include <google/protobuf/text_format.h>

#include <cstdio>
#include <string>

namespace gcuproto {
namespace link {

namespace {

// Collects the text parser's first error as "NAME:LINE:COLUMN: message".
class ConfigErrors : public google::protobuf::io::ErrorCollector {
 public:
  explicit ConfigErrors(const std::string& name) : name_(name) {}
  void AddError(int line, google::protobuf::io::ColumnNumber column,
                const std::string& message) override {
    if (first_.empty()) {
      first_ = name_ + ":" + std::to_string(line + 1) + ":" + std::to_string(column + 1) + ": " +
               message;
    }
  }
  const std::string& first() const { return first_; }

 private:
  std::string name_;
  std::string first_;
};

bool ParseVersion(const std::string& text, FirmwareId* version) {
  unsigned major = 0, minor = 0, build = 0;
  char tail = 0;
  if (std::sscanf(text.c_str(), "%u.%u.%u%c", &major, &minor, &build, &tail) != 3) return false;
  version->set_major_version(major);
  version->set_minor_version(minor);
  version->set_build_version(build);
  return true;
}

// The two kinds of line in the order of their time stamps, each kind in its
// file order: a log written as it arrived keeps its order, and one that
// holds all its logger lines before its CAN lines is interleaved as the
// lines happened.
std::vector<ReplayLine> Merge(std::vector<ReplayLine> logger, std::vector<ReplayLine> can) {
  std::vector<ReplayLine> merged;
  merged.reserve(logger.size() + can.size());
  std::size_t l = 0, c = 0;
  while (l < logger.size() || c < can.size()) {
    const bool take_can =
        l == logger.size() || (c < can.size() && can[c].timestamp < logger[l].timestamp);
    merged.push_back(std::move(take_can ? can[c++] : logger[l++]));
  }
  return merged;
}

bool LoadReplay(const std::string& path, std::vector<ReplayLine>* lines, std::string* error) {
  blackbox::Error failure;
  std::unique_ptr<blackbox::Reader> reader = blackbox::Reader::Open(path, {}, &failure);
  if (!reader) {
    *error = failure.message();
    return false;
  }
  std::vector<ReplayLine> logger;
  std::vector<ReplayLine> can;
  while (reader->Next()) {
    ReplayLine line;
    if (reader->kind() == blackbox::RecordKind::kLoggerLine) {
      line.timestamp = reader->logger_line().timestamp();
      line.logger_line = std::string(reader->raw());
    } else {
      const BlackboxCandumpFileLine& can = reader->can_line();
      line.can = true;
      line.timestamp = can.timestamp();
      line.frame.set_canid(can.canid());
      line.frame.set_timestamp(can.timestamp());
      line.frame.set_msgid(can.messageid());
      line.frame.set_isextended(can.extended());
      line.frame.set_data(can.data());
    }
    (line.can ? can : logger).push_back(std::move(line));
  }
  *lines = Merge(std::move(logger), std::move(can));
  if (const std::optional<blackbox::Error>& damage = reader->damage()) {
    *error = path + ": damaged at byte offset " + std::to_string(damage->offset()) + ": " +
             damage->message();
    return false;
  }
  return true;
}

}  // namespace

std::shared_ptr<const UnitSetup> PrepareVirtualUnit(const VirtualUnitOptions& options,
                                                    std::string* error) {
  auto setup = std::make_shared<UnitSetup>();
  google::protobuf::TextFormat::Parser parser;
  ConfigErrors errors(options.config_name);
  parser.RecordErrorsTo(&errors);
  if (!parser.ParseFromString(options.config_text, &setup->config)) {
    *error = errors.first().empty() ? options.config_name + ": not a unit configuration"
                                    : errors.first();
    return nullptr;
  }
  const config::UnitConfig& config = setup->config;
  UnitIdentity& identity = setup->identity;
  identity.serial_number = options.serial_number.value_or(config.serial_number());
  identity.usb_vid = config.usb_vid();
  identity.usb_pid = config.usb_pid();
  if (!config.device_mode().empty() &&
      !GetSerialNumberResp_DeviceMode_Parse(config.device_mode(), &identity.mode)) {
    *error = options.config_name + ": device_mode '" + config.device_mode() +
             "' is not LegacyMode, BootloaderMode or ApplicationMode";
    return nullptr;
  }
  setup->firmware.set_major_version(config.firmware().major());
  setup->firmware.set_minor_version(config.firmware().minor());
  setup->firmware.set_build_version(config.firmware().build());
  if (options.firmware_version && !ParseVersion(*options.firmware_version, &setup->firmware)) {
    *error = "firmware version '" + *options.firmware_version + "' is not MAJOR.MINOR.BUILD";
    return nullptr;
  }
  identity.firmware_version = std::to_string(setup->firmware.major_version()) + "." +
                              std::to_string(setup->firmware.minor_version()) + "." +
                              std::to_string(setup->firmware.build_version());
  for (const config::Map& map : config.map()) {
    if (static_cast<std::size_t>(map.values_size()) !=
        static_cast<std::size_t>(map.x_labels_size()) *
            static_cast<std::size_t>(map.y_labels_size())) {
      *error = options.config_name + ": map " + std::to_string(map.id()) + " has " +
               std::to_string(map.values_size()) + " values for " +
               std::to_string(map.x_labels_size()) + " x " + std::to_string(map.y_labels_size()) +
               " cells";
      return nullptr;
    }
  }
  if (!(options.speed >= 0) || !(options.seconds_per_tick > 0)) {
    *error = "the replay speed must be 0 or more and the tick length more than 0";
    return nullptr;
  }
  setup->speed = options.speed;
  setup->seconds_per_tick = options.seconds_per_tick;
  if (!options.replay_path.empty() && !LoadReplay(options.replay_path, &setup->replay, error)) {
    return nullptr;
  }
  return setup;
}

}  // namespace link
}  // namespace gcuproto
