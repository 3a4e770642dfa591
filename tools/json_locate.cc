#include "json_locate.h"

#include <utility>
#include <vector>

namespace gcuproto::cli {

namespace pb = google::protobuf;

namespace {

// Just enough of a JSON scanner to follow a field path through an object
// tree: the runtime's parser keeps no positions for value errors.
class JsonScanner {
 public:
  explicit JsonScanner(std::string_view text) : text_(text) {}

  std::size_t position() const { return position_; }

  void SkipSpace() {
    while (!AtEnd() && IsSpace(text_[position_])) ++position_;
  }

  bool Consume(char c) {
    SkipSpace();
    if (AtEnd() || text_[position_] != c) return false;
    ++position_;
    return true;
  }

  // The raw text between the quotes of a string, escapes left as they are.
  std::optional<std::string_view> ReadString() {
    SkipSpace();
    if (AtEnd() || text_[position_] != '"') return std::nullopt;
    const std::size_t start = ++position_;
    while (!AtEnd() && text_[position_] != '"') position_ += text_[position_] == '\\' ? 2 : 1;
    if (AtEnd()) return std::nullopt;
    return text_.substr(start, position_++ - start);
  }

  bool SkipValue() {
    SkipSpace();
    if (AtEnd()) return false;
    if (text_[position_] == '"') return ReadString().has_value();
    if (text_[position_] != '{' && text_[position_] != '[') {
      while (!AtEnd() && std::string_view(",}]").find(text_[position_]) == std::string_view::npos &&
             !IsSpace(text_[position_])) {
        ++position_;
      }
      return true;
    }
    int depth = 0;
    while (!AtEnd()) {
      const char c = text_[position_];
      if (c == '"') {
        if (!ReadString()) return false;
        continue;
      }
      ++position_;
      if (c == '{' || c == '[') ++depth;
      if ((c == '}' || c == ']') && --depth == 0) return true;
    }
    return false;
  }

 private:
  static bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
  bool AtEnd() const { return position_ >= text_.size(); }

  std::string_view text_;
  std::size_t position_ = 0;
};

struct PathStep {
  std::string name;
  std::optional<std::size_t> index;
};

// "commands[1].index" -> {commands, 1}, {index}.
std::vector<PathStep> SplitPath(std::string_view path) {
  std::vector<PathStep> steps;
  while (!path.empty()) {
    const std::size_t dot = path.find('.');
    std::string_view part = path.substr(0, dot);
    path = dot == std::string_view::npos ? std::string_view() : path.substr(dot + 1);
    PathStep step;
    const std::size_t bracket = part.find('[');
    step.name = std::string(part.substr(0, bracket));
    if (bracket != std::string_view::npos) {
      std::size_t index = 0;
      for (char c : part.substr(bracket + 1)) {
        if (c < '0' || c > '9') break;
        index = index * 10 + static_cast<std::size_t>(c - '0');
      }
      step.index = index;
    }
    steps.push_back(std::move(step));
  }
  return steps;
}

bool KeyNamesField(std::string_view key, const std::string& name,
                   const pb::FieldDescriptor* field) {
  if (key == name) return true;
  return field != nullptr && (key == field->name() || key == field->json_name());
}

// Offset of the key of the path's last field (or of the indexed element).
std::optional<std::size_t> LocatePath(std::string_view json, const pb::Descriptor* type,
                                      const std::vector<PathStep>& steps) {
  JsonScanner scanner(json);
  scanner.SkipSpace();
  std::size_t found = scanner.position();
  for (const PathStep& step : steps) {
    if (!scanner.Consume('{')) return std::nullopt;
    const pb::FieldDescriptor* field = type != nullptr ? type->FindFieldByName(step.name) : nullptr;
    for (;;) {
      scanner.SkipSpace();
      const std::size_t key_at = scanner.position();
      const std::optional<std::string_view> key = scanner.ReadString();
      if (!key || !scanner.Consume(':')) return std::nullopt;
      if (KeyNamesField(*key, step.name, field)) {
        found = key_at;
        break;
      }
      if (!scanner.SkipValue() || !scanner.Consume(',')) return std::nullopt;
    }
    if (step.index) {
      if (!scanner.Consume('[')) return found;
      for (std::size_t i = 0; i < *step.index; ++i) {
        if (!scanner.SkipValue() || !scanner.Consume(',')) return found;
      }
      scanner.SkipSpace();
      found = scanner.position();
    }
    type = field != nullptr ? field->message_type() : nullptr;
  }
  return found;
}

// "(commands[1].index): invalid value" names commands[1].index;
// "(commands[1]) bogus: Cannot find field." names commands[1].bogus;
// "version: Proto field is not repeating" names version.
std::string PathOf(std::string_view message) {
  std::string path;
  if (!message.empty() && message.front() == '(') {
    const std::size_t close = message.find(')');
    if (close == std::string_view::npos) return path;
    path = std::string(message.substr(1, close - 1));
    message.remove_prefix(close + 1);
    if (message.empty() || message.front() != ' ') return path;
    message.remove_prefix(1);
  }
  const std::size_t colon = message.find(": ");
  if (colon == std::string_view::npos) return path;
  const std::string_view name = message.substr(0, colon);
  if (name.empty() || name.find(' ') != std::string_view::npos) return path;
  return path.empty() ? std::string(name) : path + "." + std::string(name);
}

// The runtime's JSON parser nests at most this many objects (arrays do not
// count) and then reports "Message too deep" without a place.
constexpr int kMaxJsonObjectDepth = 100;

// Offset of the '{' that opens the first object nested too deep.
std::optional<std::size_t> LocateTooDeep(std::string_view json) {
  int depth = 0;
  bool in_string = false;
  for (std::size_t i = 0; i < json.size(); ++i) {
    const char c = json[i];
    if (in_string) {
      if (c == '\\')
        ++i;
      else if (c == '"')
        in_string = false;
      continue;
    }
    if (c == '"')
      in_string = true;
    else if (c == '}')
      --depth;
    else if (c == '{' && ++depth > kMaxJsonObjectDepth)
      return i;
  }
  return std::nullopt;
}

}  // namespace

JsonFault LocateJsonFault(std::string_view json, const pb::Descriptor& type,
                          std::string_view message) {
  JsonFault fault;
  const std::size_t first_break = message.find('\n');
  if (first_break == std::string_view::npos) {
    fault.what = std::string(message);
    if (message.substr(0, 16) == "Message too deep") {
      fault.offset = LocateTooDeep(json);
      return fault;
    }
    fault.offset = LocatePath(json, &type, SplitPath(PathOf(message)));
    return fault;
  }
  // A syntax error: "what\n<up to 20 characters either side>\n<spaces>^".
  fault.what = std::string(message.substr(0, first_break));
  const std::size_t last_break = message.rfind('\n');
  if (last_break == first_break) return fault;
  const std::string_view snippet = message.substr(first_break + 1, last_break - first_break - 1);
  const std::size_t caret = message.substr(last_break + 1).find('^');
  if (caret == std::string_view::npos) return fault;
  if (snippet.empty()) {
    fault.offset = json.size();  // the text ended where more was expected
    return fault;
  }
  const std::size_t snippet_at = json.find(snippet);
  if (snippet_at != std::string_view::npos) fault.offset = snippet_at + caret;
  return fault;
}

}  // namespace gcuproto::cli
