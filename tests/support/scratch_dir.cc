#include "scratch_dir.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
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

// create_directory() fails on a name that exists: a name another program
// took is passed over, as mkdtemp would, on every system.
ScratchDir::ScratchDir(const std::string& prefix) {
  static std::mt19937_64 random{std::random_device{}()};
  const std::filesystem::path parent = TempRoot();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::filesystem::path candidate =
        parent / (prefix + "." + std::to_string(random() % 1000000000));
    std::error_code error;
    if (std::filesystem::create_directory(candidate, error)) {
      path_ = candidate;
      return;
    }
    if (error) throw std::system_error(error, "cannot create " + candidate.string());
  }
  throw std::runtime_error("no free scratch directory name under " + parent.string());
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
