#include "output/replace_file.h"

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

// Only a privileged process may give the file its previous owner, and a group not its own.
TEST(FileReplacement, KeepsTheOwnerAndGroup) {
  if (::geteuid() != 0) GTEST_SKIP() << "only a privileged process gives files away";
  TempDir dir;
  const std::string target = dir.file("er.csv");
  write_bytes(target, "old\n");
  ASSERT_EQ(::chown(target.c_str(), 1234, 4321), 0);
  FileReplacement file(target);
  ASSERT_TRUE(file.open() && file.commit());
  struct stat replaced;
  ASSERT_EQ(::stat(target.c_str(), &replaced), 0);
  EXPECT_EQ(replaced.st_uid, 1234u);
  EXPECT_EQ(replaced.st_gid, 4321u);
}

}  // namespace
