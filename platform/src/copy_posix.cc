#include <gcuproto/platform/file.h>
#include <sys/sendfile.h>
#include <unistd.h>

#include <algorithm>

#include "common.h"
#include "posix_util.h"

namespace gcuproto::platform {

// The kernel copies first: copy_file_range (between regular files, may share
// blocks), then sendfile (from a regular file to anything). Either may be
// unsupported for a pair of files, or report 0 where a file system cannot
// say; the plain read/write loop then carries on from where they stopped and
// is the one that tells the end of the input and whose error it was.
CopyResult CopyRange(File& from, std::uint64_t offset, std::uint64_t length, File& to) {
  CopyResult result;
  constexpr std::uint64_t kKernelChunk = std::uint64_t{1} << 30;
  bool use_copy_file_range = true;
  bool use_sendfile = true;
  while (result.copied < length && (use_copy_file_range || use_sendfile)) {
    const auto chunk = static_cast<std::size_t>(std::min(kKernelChunk, length - result.copied));
    off_t position = static_cast<off_t>(offset + result.copied);
    ssize_t n;
    if (use_copy_file_range) {
      n = ::copy_file_range(from.descriptor(), &position, to.descriptor(), nullptr, chunk, 0);
    } else {
      n = ::sendfile(to.descriptor(), from.descriptor(), &position, chunk);
    }
    if (n > 0) {
      result.copied += static_cast<std::uint64_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (use_copy_file_range)
      use_copy_file_range = false;
    else
      use_sendfile = false;
  }
  CopyByBlocks(from, offset, length, to, &result);
  return result;
}

}  // namespace gcuproto::platform
