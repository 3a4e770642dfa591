// Where exported text goes, in blocks of about a megabyte.
#ifndef GCUPROTO_BLACKBOX_SINK_H
#define GCUPROTO_BLACKBOX_SINK_H

#include <gcuproto/blackbox/export.h>

#include <iosfwd>
#include <string>
#include <string_view>

namespace gcuproto {
namespace blackbox {

// Only a sink knows why it cannot take text, so it answers yes or no, and
// the exporter reports a no as a kIo error; FdSink keeps the errno.
class GCUPROTO_BLACKBOX_EXPORT Sink {
 public:
  virtual ~Sink();
  // Takes all of `data`; false when it cannot.
  virtual bool Write(std::string_view data) = 0;
};

// Writes to a file descriptor it does not own; error_number() is the errno of
// a failed write.
class GCUPROTO_BLACKBOX_EXPORT FdSink : public Sink {
 public:
  explicit FdSink(int fd) : fd_(fd) {}
  bool Write(std::string_view data) override;
  int error_number() const { return error_number_; }

 private:
  int fd_;
  int error_number_ = 0;
};

class GCUPROTO_BLACKBOX_EXPORT OstreamSink : public Sink {
 public:
  explicit OstreamSink(std::ostream* out) : out_(out) {}
  bool Write(std::string_view data) override;

 private:
  std::ostream* out_;
};

class GCUPROTO_BLACKBOX_EXPORT StringSink : public Sink {
 public:
  explicit StringSink(std::string* out) : out_(out) {}
  bool Write(std::string_view data) override;

 private:
  std::string* out_;
};

}  // namespace blackbox
}  // namespace gcuproto

#endif  // GCUPROTO_BLACKBOX_SINK_H
