#include "job/replace_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

using respmat::FileReplacement;
using respmat::testing::TempDir;
using respmat::testing::read_bytes;
using respmat::testing::write_bytes;

std::vector<std::string> names_in(const TempDir &dir) {
  std::vector<std::string> names;
  for (const auto &entry : std::filesystem::directory_iterator(dir.path())) names.push_back(entry.path().filename());
  return names;
}

// Names up to the file system's limit (255 bytes here) leave no room for the
// temporary file's suffix; the name is cut, never inside a character.
TEST(FileReplacement, NamesAtTheLengthLimitAreReplaced) {
  TempDir dir;
  std::string multibyte;
  for (int k = 0; k < 127; ++k) multibyte += "\xc3\xa9";  // é, 254 bytes
  for (const std::string &name : {std::string(254, 'n'), std::string(255, 'n'), multibyte}) {
    const std::string target = dir.file(name);
    FileReplacement file(target);
    ASSERT_TRUE(file.open()) << std::strerror(errno);
    for (const std::string &present : names_in(dir)) {
      EXPECT_LE(present.size(), 255u);
      if (name == multibyte) {
        EXPECT_EQ(present.find(".tmp.") % 2, 0u) << present;  // whole characters
      }
    }
    std::fputs("new\n", file.stream());
    ASSERT_TRUE(file.commit());
    EXPECT_EQ(read_bytes(target), "new\n");
    EXPECT_EQ(names_in(dir), std::vector<std::string>{name});
    std::filesystem::remove(target);
  }
}

TEST(FileReplacement, NamesTheFolderWhenTheFolderRefusesTheTemporaryFile) {
  TempDir dir;
  FileReplacement missing_folder(dir.file("missing/er.csv"));
  ASSERT_FALSE(missing_folder.open());
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(missing_folder.failed_path(), dir.file("missing"));
  std::filesystem::create_directory(dir.file("er.csv"));
  FileReplacement folder_target(dir.file("er.csv"));
  ASSERT_FALSE(folder_target.open());
  EXPECT_EQ(folder_target.failed_path(), dir.file("er.csv"));
}

// The group is anyone's to keep among their own groups; the owner only a privileged
// process's.
TEST(FileReplacement, KeepsTheOwnerAndGroupItMayGive) {
  std::vector<gid_t> groups(static_cast<std::size_t>(::getgroups(0, nullptr)));
  groups.resize(static_cast<std::size_t>(::getgroups(static_cast<int>(groups.size()), groups.data())));
  const bool privileged = ::geteuid() == 0;
  gid_t other_group = privileged ? 4321 : ::getegid();
  for (const gid_t group : groups) other_group = group != ::getegid() ? group : other_group;
  if (other_group == ::getegid()) GTEST_SKIP() << "the process has no group but its own to give";
  const uid_t owner = privileged ? 1234 : ::geteuid();
  TempDir dir;
  const std::string target = dir.file("er.csv");
  write_bytes(target, "old\n");
  ASSERT_EQ(::chown(target.c_str(), owner, other_group), 0) << std::strerror(errno);
  FileReplacement file(target);
  ASSERT_TRUE(file.open());
  ASSERT_TRUE(file.commit());
  struct stat replaced;
  ASSERT_EQ(::stat(target.c_str(), &replaced), 0);
  EXPECT_EQ(replaced.st_uid, owner);
  EXPECT_EQ(replaced.st_gid, other_group);
}

}  // namespace
