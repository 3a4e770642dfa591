#include "scratch_dir.h"

#include <stdlib.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>

namespace gcuproto_test {

namespace {

// Where GoogleTest's TempDir() points (TEST_TMPDIR when the runner sets it),
// without GoogleTest: the fuzz targets use scratch directories too.
std::filesystem::path TempRoot() {
  if (const char* dir = std::getenv("TEST_TMPDIR"); dir != nullptr && *dir != '\0') return dir;
  return std::filesystem::temp_directory_path();
}

}  // namespace

ScratchDir::ScratchDir(const std::string& prefix) {
  std::string pattern = (TempRoot() / (prefix + ".XXXXXX")).string();
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::system_error(errno, std::generic_category(), "mkdtemp " + pattern);
  }
  path_ = pattern;
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  if (!out.flush()) throw std::runtime_error("cannot write " + path.string());
}

}  // namespace gcuproto_test
