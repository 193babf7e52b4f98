// The identity by which a journal knows that its path still names the file it opened,
// on either platform.
#include "journal/file_identity.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/scratch_dir.h"

namespace pelliton::journal {
namespace {

TEST(FileIdentity, FollowsTheFileNotThePath) {
  ScratchDir dir;
  const std::string first = dir.Write("first.sqlite", "a");
  const std::string second = dir.Write("second.sqlite", "b");
  const auto original = IdentityOf(first);
  ASSERT_TRUE(original);
  EXPECT_EQ(IdentityOf(first), original);
  EXPECT_NE(IdentityOf(second), original);
  // Moved away, the path names nothing; another file moved in is another file.
  std::filesystem::rename(first, dir.PathOf("moved.sqlite"));
  EXPECT_FALSE(IdentityOf(first));
  EXPECT_EQ(IdentityOf(dir.PathOf("moved.sqlite")), original);
  std::filesystem::rename(second, first);
  EXPECT_NE(IdentityOf(first), original);
  EXPECT_FALSE(IdentityOf(dir.PathOf("no folder/journal.sqlite")));
}

}  // namespace
}  // namespace pelliton::journal
