// A directory of a test's own under TEST_TMPDIR or the system's temporary
// directory, removed with everything in it when the test ends, and
// whole-file reads and writes.
#ifndef GCUPROTO_TESTS_SCRATCH_DIR_H
#define GCUPROTO_TESTS_SCRATCH_DIR_H

#include <filesystem>
#include <string>

namespace gcuproto_test {

class ScratchDir {
 public:
  // A fresh directory named after `prefix`; several test programs and builds
  // may share the temporary directory, so the name is made unique.
  explicit ScratchDir(const std::string& prefix = "gcuproto_test");
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// The file's bytes; empty when it cannot be read.
std::string ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, const std::string& bytes);

}  // namespace gcuproto_test

#endif  // GCUPROTO_TESTS_SCRATCH_DIR_H
