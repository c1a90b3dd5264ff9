#include "orvelle/core/shared.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <system_error>

#include "support/temp_folder.hpp"

namespace orvelle {
namespace {

namespace fs = std::filesystem;

class AtomicWrite : public ::testing::Test {
 protected:
  static std::string read(const fs::path& p) { return testing::TempFolder::read(p); }
  std::size_t entries() const {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir_), {}));
  }
  static mode_t mode_of(const fs::path& p) {
    struct stat st {};
    ::stat(p.c_str(), &st);
    return st.st_mode & 07777;
  }

  testing::TempFolder temp_;
  const fs::path& dir_ = temp_.path();
};

TEST_F(AtomicWrite, CreatesAndReplacesKeepingMode) {
  const auto file = dir_ / "out.txt";
  write_file_atomic(file, "first");
  EXPECT_EQ(read(file), "first");
  fs::permissions(file, fs::perms(0640));
  write_file_atomic(file, "second");
  EXPECT_EQ(read(file), "second");
  EXPECT_EQ(mode_of(file), 0640u);
  write_file_atomic(file, "secret", {.mode = 0600});
  EXPECT_EQ(mode_of(file), 0600u);
  EXPECT_EQ(entries(), 1u);
}

TEST_F(AtomicWrite, FailedWriteLeavesOldFileAndNoTemporary) {
  const auto file = dir_ / "out.txt";
  write_file_atomic(file, "old content");
  int calls = 0;
  AtomicWriteOptions full_disk;
  full_disk.write = [&](int fd, const void* data, std::size_t size) -> ssize_t {
    if (++calls > 1) {
      errno = ENOSPC;
      return -1;
    }
    return ::write(fd, data, size / 2);  // a partial write first, then the disk is full
  };
  EXPECT_THROW(write_file_atomic(file, "new content that will not fit", full_disk),
               std::system_error);
  EXPECT_EQ(read(file), "old content");
  EXPECT_EQ(entries(), 1u);
}

// A text made in pieces arrives whole and in order, however its pieces fall across the
// blocks; a failure while it is made, or while it is written, leaves the old file.
TEST_F(AtomicWrite, TextsMadeInPiecesArriveWholeOrNotAtAll) {
  const auto file = dir_ / "out.txt";
  const auto produce = [&](std::ostream& out) {
    for (int i = 0; i < 50'000; ++i) out << i << ',';
    out << std::string(200'000, 'x');
    out.put('!');
  };
  std::ostringstream whole;
  produce(whole);
  write_file_atomic(file, produce);
  EXPECT_EQ(read(file), whole.str());

  const auto failing = [](std::ostream& out) {
    out << std::string(100'000, 'y');
    throw std::runtime_error("made halfway");
  };
  EXPECT_THROW(write_file_atomic(file, failing), std::runtime_error);
  AtomicWriteOptions full_disk;
  full_disk.write = [](int, const void*, std::size_t) -> ssize_t {
    errno = ENOSPC;  // the first block, while the text is still being made
    return -1;
  };
  try {
    write_file_atomic(file, produce, full_disk);
    FAIL() << "a full disk went unnoticed";
  } catch (const std::system_error& e) {
    EXPECT_EQ(e.code().value(), ENOSPC);
  }
  EXPECT_EQ(read(file), whole.str());
  EXPECT_EQ(entries(), 1u);
}

TEST_F(AtomicWrite, FollowsSymlinkAndKeepsIt) {
  const auto target = dir_ / "real.txt";
  const auto link = dir_ / "link.txt";
  write_file_atomic(target, "old");
  fs::create_symlink(target, link);
  write_file_atomic(link, "new");
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(read(target), "new");
}

TEST_F(AtomicWrite, SpecialFilesAreWrittenDirectlyAndFoldersRefused) {
  EXPECT_NO_THROW(write_file_atomic("/dev/null", "discarded"));
  EXPECT_THROW(write_file_atomic(dir_, "x"), std::system_error);
  EXPECT_THROW(write_file_atomic(dir_ / "missing" / "f.txt", "x"), std::system_error);
}

TEST_F(AtomicWrite, PrintToFileWritesFileAsIs) {
  const auto file = dir_ / "out.json";
  print_to_file(file.string(), "{}");
  EXPECT_EQ(read(file), "{}");
}

}  // namespace
}  // namespace orvelle
