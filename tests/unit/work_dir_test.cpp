#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "support/TestSupport.h"
#include "tools/host/Paths.h"
#include "tools/host/WorkDir.h"

namespace {

namespace fs = std::filesystem;
using ifzvk::host::PrivateWorkDir;

fs::path Here() { return fs::current_path(); }

// What the module does in the folder: a file of its own under a relative name.
void WriteRelative(const char* name) { std::ofstream(name) << "<Zorvik/>"; }

TEST(PrivateWorkDir, IsAFreshCurrentDirectoryInTheTemporaryFolderUntilLeft) {
  ifzvk::test::ScopedWorkDir user;
  const fs::path before = Here();
  PrivateWorkDir dir;
  ASSERT_TRUE(dir.Enter()) << dir.Error();
  EXPECT_TRUE(fs::equivalent(Here(), dir.Path()));
  EXPECT_TRUE(fs::equivalent(fs::path(dir.Path()).parent_path(), ifzvk::host::TemporaryRoot()));
  EXPECT_TRUE(fs::is_empty(dir.Path()));
#ifndef _WIN32
  EXPECT_EQ(fs::status(dir.Path()).permissions(), fs::perms::owner_all) << "readable by this user only";
#endif
  WriteRelative("_zvk-spi-tmp_.xml");
  EXPECT_TRUE(user.Entries().empty()) << "a relative name lands in the private folder";

  const std::string path = dir.Path();
  EXPECT_TRUE(dir.Leave()) << dir.Error();
  EXPECT_TRUE(fs::equivalent(Here(), before));
  EXPECT_FALSE(fs::exists(path));
  EXPECT_FALSE(dir.IsEntered());
}

// A link inside is removed, never followed: what it leads to stays.
TEST(PrivateWorkDir, LeavingRemovesWhateverWasLeftInsideButNotWhatALinkLeadsTo) {
  ifzvk::test::ScopedWorkDir user;
  fs::create_directory("kept");
  WriteRelative("kept/file");
  std::string path;
  {
    PrivateWorkDir dir;
    ASSERT_TRUE(dir.Enter()) << dir.Error();
    path = dir.Path();
    WriteRelative("left-behind.xml");
    fs::create_directories("nested/deeper");
    WriteRelative("nested/deeper/file");
#ifndef _WIN32
    fs::create_directory_symlink(fs::path(user.Path()) / "kept", "nested/link");
#endif
  }  // the destructor leaves
  EXPECT_FALSE(fs::exists(path));
  EXPECT_TRUE(fs::equivalent(Here(), user.Path()));
  EXPECT_TRUE(fs::exists("kept/file"));
}

TEST(PrivateWorkDir, EveryEnterMakesADifferentFolderAndEachLeaveReturnsOneStep) {
  ifzvk::test::ScopedWorkDir user;
  PrivateWorkDir outer, inner;
  ASSERT_TRUE(outer.Enter()) << outer.Error();
  ASSERT_TRUE(inner.Enter()) << inner.Error();
  EXPECT_NE(outer.Path(), inner.Path());
  EXPECT_TRUE(inner.Leave());
  EXPECT_TRUE(fs::equivalent(Here(), outer.Path()));
  EXPECT_TRUE(outer.Leave());
  EXPECT_TRUE(fs::equivalent(Here(), user.Path()));
}

TEST(AbsolutePath, RelativeNamesMeanTheCurrentDirectory) {
  ifzvk::test::ScopedWorkDir user;
  const std::string absolute = ifzvk::host::AbsolutePath("in/doc.zvk");
  EXPECT_TRUE(fs::path(absolute).is_absolute()) << absolute;
  EXPECT_EQ(fs::path(absolute).lexically_normal(), (fs::path(user.Path()) / "in" / "doc.zvk").lexically_normal());
  EXPECT_EQ(ifzvk::host::AbsolutePath(absolute), absolute);
}

#ifndef _WIN32
// Puts TMPDIR back as it was when the test ends.
struct TmpdirGuard {
  const char* saved = std::getenv("TMPDIR");
  std::string previous = saved != nullptr ? saved : "";
  ~TmpdirGuard() {
    if (saved != nullptr) {
      setenv("TMPDIR", previous.c_str(), 1);
    } else {
      unsetenv("TMPDIR");
    }
  }
};

// TMPDIR names the temporary folder; an unusable one is an error that changes nothing.
TEST(PrivateWorkDir, FollowsTmpdirAndFailsCleanlyWhenItIsUnusable) {
  ifzvk::test::ScopedWorkDir user;
  TmpdirGuard guard;
  fs::create_directory("tmp");
  setenv("TMPDIR", (user.Path() + "/tmp/").c_str(), 1);
  {
    PrivateWorkDir dir;
    ASSERT_TRUE(dir.Enter()) << dir.Error();
    EXPECT_TRUE(fs::equivalent(fs::path(dir.Path()).parent_path(), fs::path(user.Path()) / "tmp"));
  }
  EXPECT_TRUE(fs::is_empty(fs::path(user.Path()) / "tmp"));

  setenv("TMPDIR", (user.Path() + "/missing").c_str(), 1);
  PrivateWorkDir dir;
  EXPECT_FALSE(dir.Enter());
  EXPECT_NE(dir.Error().find("/missing"), std::string::npos) << dir.Error();
  EXPECT_FALSE(dir.IsEntered());
  EXPECT_TRUE(fs::equivalent(Here(), user.Path()));
  EXPECT_TRUE(dir.Leave()) << "leaving a folder never entered does nothing";
}
#endif

}  // namespace
