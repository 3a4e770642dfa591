// Reads the data-logger lines of a blackbox log held in memory, one at a time.
#include <gcuproto/blackbox/reader.h>

#include <cstdio>
#include <sstream>
#include <string>

int main() {
  // Two logger lines (seqNo 1 and 2, one input sample each) as a unit writes them.
  const std::string log(
      "\x52\x05\x08\x01\x12\x01\x02"
      "\x52\x05\x08\x02\x12\x01\x03",
      14);
  std::istringstream input(log);
  gcuproto::blackbox::Reader reader(&input);
  unsigned lines = 0;
  while (reader.Next()) {
    if (reader.kind() != gcuproto::blackbox::RecordKind::kLoggerLine) continue;
    std::printf("line %u: %d\n", reader.logger_line().seqno(), reader.logger_line().datainput(0));
    ++lines;
  }
  if (reader.damage()) {
    std::fprintf(stderr, "blackbox_lines: damaged at byte %llu: %s\n",
                 static_cast<unsigned long long>(reader.damage()->offset()),
                 reader.damage()->message().c_str());
    return 1;
  }
  return lines == 2 ? 0 : 1;
}
