// Between the parts of the platform layer that are the same on every system
// (path_kind.cc) and the files of each system: what the shared parts need
// from the system, and what the systems' files share.
#ifndef GCUPROTO_PLATFORM_COMMON_H
#define GCUPROTO_PLATFORM_COMMON_H

#include <gcuproto/platform/file.h>

#include <cstdint>
#include <string>
#include <system_error>

namespace gcuproto::platform {

namespace os {

// In file_*.cc. Closes without a word: a destructor has no one to tell of a
// failure.
void DropDescriptor(int fd);

// In output_*.cc. Best effort: whoever calls it is already giving the file
// up.
void RemoveFile(const std::string& path);

// In output_*.cc. Puts `temporary` in the place of `target` in one step that
// survives a crash: a reader sees the old file or the new one, never a
// mixture.
std::error_code ReplaceTarget(const std::string& temporary, const std::string& target);

}  // namespace os

// Copies with ReadAt and WriteAll from where `result` says the copy
// stands: on its own where the system has no in-kernel copy, else after it
// gave up. The plain loop is the one that tells the end of the input and
// whose error it was.
void CopyByBlocks(File& from, std::uint64_t offset, std::uint64_t length, File& to,
                  CopyResult* result);

}  // namespace gcuproto::platform

#endif  // GCUPROTO_PLATFORM_COMMON_H
