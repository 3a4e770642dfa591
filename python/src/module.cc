// gcuproto._native: the blackbox readers behind gcuproto.blackbox. Reading
// and filling run without the GIL, straight into numpy arrays; the Python
// side only puts the arrays together into DataFrames.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "can_columns.h"
#include "line_columns.h"
#include "log_input.h"

namespace py = pybind11;

namespace gcuproto {
namespace python {
namespace {

// One reading thread at a time: the GIL is released while a reader works.
class Busy {
 public:
  explicit Busy(std::mutex* mutex) : lock_(*mutex, std::try_to_lock) {
    if (!lock_.owns_lock()) throw std::runtime_error("the reader is in use by another thread");
  }

 private:
  std::unique_lock<std::mutex> lock_;
};

py::object DamageTuple(const std::optional<blackbox::Error>& damage) {
  if (!damage) return py::none();
  return py::make_tuple(damage->offset(), damage->message(),
                        damage->kind() == blackbox::ErrorKind::kCutShort);
}

// (offset, length, reason, records lost) of each span left out.
py::list SpanList(const std::vector<blackbox::DamagedSpan>& spans) {
  py::list list;
  for (const auto& span : spans)
    list.append(
        py::make_tuple(span.offset, span.length, span.error.message(), span.records_skipped));
  return list;
}

void CheckReadError(const LogInput& input, const std::string& path) {
  if (input.read_error() != 0) throw OpenError(path, input.read_error());
}

// The filter with the kind a reader reads; a filter of the other kind is a
// mistake of the caller's.
blackbox::Filter OfKind(blackbox::Filter filter, blackbox::RecordKind kind) {
  if (filter.kind && *filter.kind != kind)
    throw py::value_error("the filter selects the other kind of line");
  if (kind == blackbox::RecordKind::kLoggerLine && !filter.can_ids.empty()) {
    throw py::value_error("can_ids select CAN lines, not logger lines");
  }
  filter.kind = kind;
  return filter;
}

// A filter as the tool's options give one: times as the tool's --from and
// --to ("36000" ticks, "36s" seconds), the sequence range as its --seq
// ("A-B"), CAN ids in candump's ID[:MASK]. ValueError names what is wrong.
blackbox::Filter MakeFilter(std::optional<int> kind, const std::optional<std::string>& from,
                            const std::optional<std::string>& to,
                            const std::optional<std::string>& seq,
                            const std::vector<std::string>& can_ids, bool extended,
                            bool match_message_id, const std::string& seconds_per_tick) {
  blackbox::Filter filter;
  if (kind) filter.kind = static_cast<blackbox::RecordKind>(*kind);
  blackbox::TimeScale scale;
  if (!blackbox::TimeScale::Parse(seconds_per_tick, &scale)) {
    throw py::value_error("seconds_per_tick: '" + seconds_per_tick +
                          "' is not a positive decimal number");
  }
  blackbox::Error error;
  auto tick = [&](const char* name, const std::optional<std::string>& text,
                  std::optional<std::uint64_t>* out) {
    if (!text) return;
    std::uint64_t value = 0;
    if (!blackbox::ParseTick(*text, scale, &value, &error))
      throw py::value_error(std::string(name) + ": " + error.message());
    *out = value;
  };
  tick("start", from, &filter.from_tick);
  tick("stop", to, &filter.to_tick);
  if (seq && !blackbox::ParseSeqRange(*seq, &filter.seq_first, &filter.seq_last, &error)) {
    throw py::value_error("seq: " + error.message());
  }
  for (const std::string& text : can_ids) {
    blackbox::CanIdMatch match;
    if (!blackbox::ParseCanIdMatch(text, extended, &match, &error))
      throw py::value_error("can_ids: " + error.message());
    filter.can_ids.push_back(match);
  }
  filter.match_message_id = match_message_id;
  return filter;
}

template <typename T>
py::array_t<T> Column(std::size_t rows) {
  return py::array_t<T>(static_cast<py::ssize_t>(rows));
}

template <typename T>
py::array_t<T> Matrix(std::size_t columns, std::size_t rows) {
  return py::array_t<T>({static_cast<py::ssize_t>(columns), static_cast<py::ssize_t>(rows)});
}

// Both passes over a log: the first, at construction, counts what the
// second reads.
template <typename Shape>
class TwoPasses {
 public:
  TwoPasses(std::string path, blackbox::Filter filter, bool keep_damaged, Shape (*scan)(LogInput*))
      : path_(std::move(path)) {
    selection_.filter = std::move(filter);
    selection_.keep_damaged = keep_damaged;
    py::gil_scoped_release unlocked;
    LogInput first(path_, selection_, /*decode=*/false);
    shape_ = scan(&first);
    CheckReadError(first, path_);
    first_stop_ = first.stop();
    first_spans_ = first.skipped();
    // The second pass reads what the first one did, not what a growing file
    // has gained since. Keeping damage, it reads on: resyncing looks ahead.
    std::optional<std::uint64_t> limit;
    if (!keep_damaged) limit = shape_.end;
    input_ = std::make_unique<LogInput>(path_, selection_, /*decode=*/true, limit);
  }

  const Shape& shape() const { return shape_; }

  // Where reading stopped early: at the first damage either pass met.
  py::object damage() const {
    const std::optional<blackbox::Error>& second = input_->stop();
    return DamageTuple(second ? second : first_stop_);
  }
  py::list skipped() const { return SpanList(first_spans_); }

 protected:
  std::string path_;
  Selection selection_;
  Shape shape_;
  std::optional<blackbox::Error> first_stop_;
  std::vector<blackbox::DamagedSpan> first_spans_;
  std::unique_ptr<LogInput> input_;
  std::mutex busy_;
};

class LineReader : public TwoPasses<LineShape> {
 public:
  LineReader(std::string path, blackbox::Filter filter, bool keep_damaged)
      : TwoPasses(std::move(path), OfKind(std::move(filter), blackbox::RecordKind::kLoggerLine),
                  keep_damaged, ScanLines) {}

  // The sample columns, as (is_output, index) pairs; a column gets a mask
  // when some line lacks its sample.
  void Select(const std::vector<std::pair<bool, std::size_t>>& channels) {
    Busy busy(&busy_);
    if (filler_) throw std::logic_error("the channels are chosen once");
    std::vector<Channel> plan;
    masks_ = 0;
    for (const auto& [output, index] : channels) {
      const std::size_t fewest = output ? shape_.min_outputs : shape_.min_inputs;
      const std::size_t most = output ? shape_.max_outputs : shape_.max_inputs;
      if (index >= most) throw py::value_error("no such channel");
      plan.push_back({output, index, index < fewest ? -1 : static_cast<std::ptrdiff_t>(masks_++)});
    }
    filler_ = std::make_unique<LineFiller>(input_.get(), std::move(plan), shape_);
    channels_ = channels.size();
  }

  std::uint64_t rows_left() const { return filler_ ? filler_->rows_left() : shape_.rows; }

  // The next `max_rows` lines at most, as a dict of arrays: seqNo,
  // timestamp, samples (channel x row) and missing (masked channel x row).
  py::dict Read(std::uint64_t max_rows) {
    Busy busy(&busy_);
    if (!filler_) throw std::logic_error("Select() comes first");
    const auto rows =
        static_cast<std::size_t>(std::min<std::uint64_t>(max_rows, filler_->rows_left()));
    auto seq_no = Column<std::uint32_t>(rows);
    auto timestamp = Column<std::uint32_t>(rows);
    auto samples = Matrix<std::int32_t>(channels_, rows);
    auto missing = Matrix<bool>(masks_, rows);
    LineBlock block;
    block.rows = rows;
    block.seq_no = seq_no.mutable_data();
    block.timestamp = timestamp.mutable_data();
    block.samples = samples.mutable_data();
    block.missing = missing.mutable_data();
    std::size_t filled;
    {
      py::gil_scoped_release unlocked;
      filled = filler_->Fill(block);
      CheckReadError(*input_, path_);
    }
    py::dict result;
    result["rows"] = filled;
    result["seqNo"] = seq_no;
    result["timestamp"] = timestamp;
    result["samples"] = samples;
    result["missing"] = missing;
    return result;
  }

 private:
  std::unique_ptr<LineFiller> filler_;
  std::size_t channels_ = 0;
  std::size_t masks_ = 0;
};

class CanReader : public TwoPasses<CanShape> {
 public:
  CanReader(std::string path, blackbox::Filter filter, bool keep_damaged)
      : TwoPasses(std::move(path), OfKind(std::move(filter), blackbox::RecordKind::kCanLine),
                  keep_damaged, ScanCan),
        filler_(input_.get(), shape_) {}

  std::uint64_t rows_left() const { return rows_left_; }

  // With a `data_width`, the data comes as a matrix (byte x row) with dlc;
  // with 0, as a list of bytes.
  void Select(std::size_t data_width) {
    if (data_width > 0 && data_width < shape_.max_data)
      throw py::value_error("data_width below the longest frame");
    data_width_ = data_width;
  }

  // The next `max_rows` lines at most, as a dict of arrays.
  py::dict Read(std::uint64_t max_rows) {
    Busy busy(&busy_);
    const std::size_t data_width = data_width_;
    const auto rows = static_cast<std::size_t>(std::min<std::uint64_t>(max_rows, rows_left_));
    auto seq_no = Column<std::uint32_t>(rows);
    auto timestamp = Column<std::uint32_t>(rows);
    auto can_id = Column<std::uint32_t>(rows);
    auto message_id = Column<std::uint32_t>(rows);
    auto extended = Column<bool>(rows);
    auto dlc = Column<std::uint8_t>(data_width > 0 ? rows : 0);
    auto data = Matrix<std::uint8_t>(data_width, rows);
    std::string bytes;
    std::vector<std::size_t> ends;
    CanBlock block;
    block.rows = rows;
    block.seq_no = seq_no.mutable_data();
    block.timestamp = timestamp.mutable_data();
    block.can_id = can_id.mutable_data();
    block.message_id = message_id.mutable_data();
    block.extended = extended.mutable_data();
    if (data_width > 0) {
      block.dlc = dlc.mutable_data();
      block.data = data.mutable_data();
      block.data_width = data_width;
    } else {
      block.data_bytes = &bytes;
      block.data_ends = &ends;
      ends.reserve(rows);
    }
    std::size_t filled;
    {
      py::gil_scoped_release unlocked;
      filled = filler_.Fill(block);
      CheckReadError(*input_, path_);
    }
    rows_left_ = filled < rows ? 0 : rows_left_ - filled;
    py::dict result;
    result["rows"] = filled;
    result["seqNo"] = seq_no;
    result["timestamp"] = timestamp;
    result["canId"] = can_id;
    result["messageId"] = message_id;
    result["extended"] = extended;
    if (data_width > 0) {
      result["dlc"] = dlc;
      result["data"] = data;
    } else {
      py::list frames;
      std::size_t begin = 0;
      for (const std::size_t end : ends) {
        frames.append(py::bytes(bytes.data() + begin, end - begin));
        begin = end;
      }
      result["data"] = frames;
    }
    return result;
  }

 private:
  CanFiller filler_;
  std::uint64_t rows_left_ = shape_.rows;
  std::size_t data_width_ = 0;
};

// Record after record, for gcuproto.blackbox.open().
class RecordReader {
 public:
  RecordReader(std::string path, blackbox::Filter filter, bool keep_damaged)
      : path_(std::move(path)) {
    Selection selection;
    selection.filter = std::move(filter);
    selection.keep_damaged = keep_damaged;
    input_ = std::make_unique<LogInput>(path_, selection, /*decode=*/true);
  }

  // (kind, seqNo, timestamp, offset, raw bytes), or None at the end.
  py::object Next() {
    Busy busy(&busy_);
    bool more;
    {
      py::gil_scoped_release unlocked;
      more = input_->Next();
      CheckReadError(*input_, path_);
    }
    if (!more) return py::none();
    const blackbox::Reader& reader = input_->reader();
    const bool logger = reader.kind() == blackbox::RecordKind::kLoggerLine;
    return py::make_tuple(static_cast<int>(reader.kind()),
                          logger ? reader.logger_line().seqno() : reader.can_line().seqno(),
                          logger ? reader.logger_line().timestamp() : reader.can_line().timestamp(),
                          reader.offset(), py::bytes(reader.raw().data(), reader.raw().size()));
  }

  py::object damage() const { return DamageTuple(input_->stop()); }
  py::list skipped() const { return SpanList(input_->skipped()); }

 private:
  std::string path_;
  std::unique_ptr<LogInput> input_;
  std::mutex busy_;
};

// What both column readers offer; each adds what its columns need.
template <typename Reader>
py::class_<Reader> BindColumnReader(py::module_& m, const char* name) {
  return py::class_<Reader>(m, name)
      .def(py::init<std::string, blackbox::Filter, bool>())
      .def_property_readonly("rows", [](const Reader& r) { return r.shape().rows; })
      .def_property_readonly("rows_left", &Reader::rows_left)
      .def("select", &Reader::Select)
      .def("read", &Reader::Read)
      .def("damage", &Reader::damage)
      .def("skipped", &Reader::skipped);
}

}  // namespace
}  // namespace python
}  // namespace gcuproto

PYBIND11_MODULE(_native, m) {
  using namespace gcuproto::python;
  m.doc() = "Native blackbox readers of gcuproto.blackbox";
  py::register_exception_translator([](std::exception_ptr thrown) {
    try {
      if (thrown) std::rethrow_exception(thrown);
    } catch (const OpenError& error) {
      // OSError(errno, text, filename) picks the subclass for the errno.
      py::object os_error = py::reinterpret_borrow<py::object>(PyExc_OSError)(
          error.error_number(), std::strerror(error.error_number()), error.path());
      PyErr_SetObject(PyExc_OSError, os_error.ptr());
    }
  });
  m.attr("LOGGER_LINE") = static_cast<int>(gcuproto::blackbox::RecordKind::kLoggerLine);
  m.attr("CAN_LINE") = static_cast<int>(gcuproto::blackbox::RecordKind::kCanLine);

  py::class_<gcuproto::blackbox::Filter>(m, "Filter");
  m.def("make_filter", &MakeFilter, py::arg("kind"), py::arg("start"), py::arg("stop"),
        py::arg("seq"), py::arg("can_ids"), py::arg("extended"), py::arg("match_message_id"),
        py::arg("seconds_per_tick"));

  BindColumnReader<LineReader>(m, "LineReader")
      .def_property_readonly("inputs",
                             [](const LineReader& r) {
                               return py::make_tuple(r.shape().min_inputs, r.shape().max_inputs);
                             })
      .def_property_readonly("outputs", [](const LineReader& r) {
        return py::make_tuple(r.shape().min_outputs, r.shape().max_outputs);
      });

  BindColumnReader<CanReader>(m, "CanReader")
      .def_property_readonly("max_data", [](const CanReader& r) { return r.shape().max_data; });

  py::class_<RecordReader>(m, "RecordReader")
      .def(py::init<std::string, gcuproto::blackbox::Filter, bool>())
      .def("next", &RecordReader::Next)
      .def("damage", &RecordReader::damage)
      .def("skipped", &RecordReader::skipped);
}
