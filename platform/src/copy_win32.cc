#include <gcuproto/platform/file.h>

#include <algorithm>
#include <memory>

namespace gcuproto::platform {

// Windows has no in-kernel copy between arbitrary handles: a read/write loop
// in blocks of 1 MiB.
CopyResult copy_range(File& from, std::uint64_t offset, std::uint64_t length, File& to) {
  CopyResult result;
  constexpr std::size_t kBlock = std::size_t{1} << 20;
  std::unique_ptr<char[]> buffer;
  while (result.copied < length) {
    if (!buffer) buffer.reset(new char[kBlock]);
    const auto want =
        static_cast<std::size_t>(std::min<std::uint64_t>(kBlock, length - result.copied));
    const std::size_t n = from.read_at(buffer.get(), want, offset + result.copied, &result.error);
    if (result.error || n == 0) return result;
    result.error = to.write_all(std::string_view(buffer.get(), n));
    if (result.error) {
      result.output_failed = true;
      return result;
    }
    result.copied += n;
  }
  return result;
}

}  // namespace gcuproto::platform
