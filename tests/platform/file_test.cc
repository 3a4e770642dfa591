// The platform layer: outputs that are whole or absent and keep what the old
// file was, range copies, offsets past 4 GiB.
//
// Modes, owners, hard and symbolic links and file size limits are POSIX
// matters: on Windows those cases skip, saying so.
#include <gcuproto/platform/file.h>
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#endif

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "scratch_dir.h"

namespace gcuproto::platform {
namespace {

class PlatformFile : public ::testing::Test {
 protected:
  void SetUp() override {
    scratch_ = std::make_unique<gcuproto_test::ScratchDir>("gcuproto_platform");
    dir_ = scratch_->path().string() + "/";
  }

  std::string path(const char* name) const { return dir_ + name; }
  static void put(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
  }
  static std::string get(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  std::unique_ptr<gcuproto_test::ScratchDir> scratch_;
  std::string dir_;
};

std::size_t entries(const std::string& dir) {
  return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(dir), {}));
}

[[maybe_unused]] std::error_code write_output(const std::string& path, const std::string& content) {
  std::error_code error;
  Output output = Output::Open(path, &error);
  if (error) return error;
  if ((error = output.file().WriteAll(content))) return error;
  return output.Commit();
}

TEST_F(PlatformFile, ReplacedFileKeepsModeAndLinks) {
#ifdef _WIN32
  GTEST_SKIP() << "POSIX modes, owners and hard links";
#else
  struct Case {
    const char* name;
    mode_t mode;
    bool hard_link;
    uid_t owner;  // another owner, when root may give it
  } cases[] = {{"private", 0600, false, 0},
               {"shared", 0644, false, 0},
               {"linked", 0640, true, 0},
               {"owned", 0604, false, 4321}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.owner != 0 && ::geteuid() != 0) continue;
    const std::string file = path(c.name);
    put(file, "old content");
    if (c.owner != 0) {
      ASSERT_EQ(::chown(file.c_str(), c.owner, c.owner), 0);
    }
    ASSERT_EQ(::chmod(file.c_str(), c.mode), 0);
    const std::string link = file + ".link";
    if (c.hard_link) {
      ASSERT_EQ(::link(file.c_str(), link.c_str()), 0);
    }
    ASSERT_FALSE(write_output(file, "new"));
    EXPECT_EQ(get(file), "new");
    struct stat st;
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, c.mode);
    if (c.owner != 0) {
      EXPECT_EQ(st.st_uid, c.owner);
    }
    if (c.hard_link) {
      EXPECT_EQ(get(link), "new");
    }
  }
#endif
}

TEST_F(PlatformFile, SymlinkTargetIsReplacedAndLinkStays) {
#ifdef _WIN32
  GTEST_SKIP() << "symbolic links need a privilege on Windows that wine does not emulate";
#else
  const std::string target = path("target");
  put(target, "old");
  ASSERT_EQ(::symlink("target", path("link").c_str()), 0);
  ASSERT_EQ(::symlink("link", path("link2").c_str()), 0);
  ASSERT_FALSE(write_output(path("link2"), "new"));
  struct stat st;
  ASSERT_EQ(::lstat(path("link2").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(get(target), "new");
  // A dangling link creates its target.
  ASSERT_EQ(::symlink("absent", path("dangling").c_str()), 0);
  ASSERT_FALSE(write_output(path("dangling"), "made"));
  EXPECT_EQ(get(path("absent")), "made");
#endif
}

TEST_F(PlatformFile, UncommittedOrFailedOutputLeavesOldFileWhole) {
  const std::string file = path("kept");
  put(file, "old content");
  {
    std::error_code error;
    Output output = Output::Open(file, &error);
    ASSERT_FALSE(error);
    ASSERT_FALSE(output.file().WriteAll("partial"));
  }  // not committed
  EXPECT_EQ(get(file), "old content");
  EXPECT_EQ(entries(dir_), 1u) << "temporary left behind";
}

TEST_F(PlatformFile, FailedOutputLeavesOldFileWhole) {
#ifdef _WIN32
  GTEST_SKIP() << "a file size limit (RLIMIT_FSIZE) to make a write fail half-way is POSIX";
#else
  const std::string file = path("kept");
  put(file, "old content");
  // A write that fails half-way (the file size limit) leaves it as well.
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit old_limit;
  ::getrlimit(RLIMIT_FSIZE, &old_limit);
  rlimit limit = old_limit;
  limit.rlim_cur = 4096;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
  const std::error_code error = write_output(file, std::string(10000, 'x'));
  ::setrlimit(RLIMIT_FSIZE, &old_limit);
  EXPECT_EQ(error, std::errc::file_too_large);
  EXPECT_EQ(get(file), "old content");
  EXPECT_EQ(entries(dir_), 1u) << "temporary left behind";
#endif
}

TEST_F(PlatformFile, DirectoryIsNoOutput) {
  std::error_code error;
  Output directory = Output::Open(dir_, &error);
  EXPECT_EQ(error, std::errc::is_a_directory);
}

TEST_F(PlatformFile, SpecialFilesAreWrittenDirectly) {
#ifdef _WIN32
  GTEST_SKIP() << "no /dev/full on Windows";
#endif
  std::error_code error;
  Output full = Output::Open("/dev/full", &error);
  if (error) GTEST_SKIP() << "no /dev/full: " << error.message();
  EXPECT_FALSE(full.replaces());
  EXPECT_EQ(full.file().WriteAll("x"), std::errc::no_space_on_device);
}

// A scratch file reads back what was written and leaves nothing behind.
TEST_F(PlatformFile, ScratchFileIsGoneOnceClosed) {
  for (const std::string& directory : {dir_, std::string()}) {
    SCOPED_TRACE(directory.empty() ? "the temporary directory" : directory);
    std::error_code error;
    File scratch = File::Scratch(directory, &error);
    ASSERT_FALSE(error) << error.message();
    ASSERT_FALSE(scratch.WriteAll("rows to read back"));
    char buffer[4];
    EXPECT_EQ(scratch.ReadAt(buffer, 4, 5, &error), 4u);
    EXPECT_EQ(std::string(buffer, 4), "to r");
    EXPECT_FALSE(scratch.Close());
    EXPECT_EQ(entries(dir_), 0u);
  }
  std::error_code error;
  File::Scratch(dir_ + "missing", &error);
  EXPECT_TRUE(error);
}

TEST(PlatformPath, DirectoryOf) {
  struct Case {
    const char* path;
    const char* directory;
  } cases[] = {{"out.csv", "."},
               {"dir/out.csv", "dir"},
               {"/out.csv", "/"},
               {"/a/b/out.csv", "/a/b"},
               {"a/b/", "a/b"}};
  for (const Case& c : cases) EXPECT_EQ(DirectoryOf(c.path), c.directory) << c.path;
#ifdef _WIN32
  const Case windows[] = {{"C:out.csv", "C:"},
                          {"C:\\out.csv", "C:\\"},
                          {"C:\\a\\b\\out.csv", "C:\\a\\b"},
                          {"a\\b/out.csv", "a\\b"}};
  for (const Case& c : windows) EXPECT_EQ(DirectoryOf(c.path), c.directory) << c.path;
#endif
}

TEST_F(PlatformFile, OffsetsPast4GiB) {
  const std::string file = path("sparse");
  const std::uint64_t far = (std::uint64_t{5} << 30) + 3;
  std::error_code error;
  {
    File f = File::Open(file, File::Mode::kReadWrite, &error);
    ASSERT_FALSE(error);
    if (f.Truncate(far + 16)) GTEST_SKIP() << "no sparse files of 5 GiB here";
    ASSERT_FALSE(f.Seek(far));
    ASSERT_FALSE(f.WriteAll("beyond"));
    FileInfo info;
    ASSERT_FALSE(f.Info(&info));
    EXPECT_EQ(info.size, far + 16);
    char buffer[6];
    EXPECT_EQ(f.ReadAt(buffer, 6, far, &error), 6u);
    EXPECT_EQ(std::string(buffer, 6), "beyond");
    File out = File::Open(path("copy"), File::Mode::kWrite, &error);
    const CopyResult copy = CopyRange(f, far - 2, 100, out);
    EXPECT_FALSE(copy.error);
    EXPECT_EQ(copy.copied, 18u);  // to the end of the file
  }
  EXPECT_EQ(get(path("copy")), std::string(2, '\0') + "beyond" + std::string(10, '\0'));
}

}  // namespace
}  // namespace gcuproto::platform
