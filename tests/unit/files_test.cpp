#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "support/CaseTitle.h"
#include "support/TestSupport.h"
#include "tools/host/Files.h"

namespace {

namespace fs = std::filesystem;
using ifzvk::host::ReplacingFile;
using ifzvk::test::Bytes;
using ifzvk::test::BytesOf;

const std::string kOld = "the user's old picture";
const std::string kNew = "a complete new picture";

Bytes Contents(const std::string& path) {
  Bytes bytes;
  ifzvk::test::ReadFileBytes(path, bytes);
  return bytes;
}

// What happens to an existing "out.bmp" between opening its replacement and
// the end; in every case nothing but out.bmp is left in the folder.
struct ReplaceCase {
  const char* title;
  bool readOnly;        // the old file has no write permission
  bool commit;          // Commit() is called, else the object just goes
  bool opens;           // Open() succeeds
  const std::string* result;  // out.bmp's contents afterwards
};
void PrintTo(const ReplaceCase& c, std::ostream* out) { *out << c.title; }

const ReplaceCase kReplaceCases[] = {
    {"a committed file replaces the old one", false, true, true, &kNew},
    {"an uncommitted file leaves the old one as it was", false, false, true, &kOld},
    {"a read-only file is refused and kept", true, true, false, &kOld},
};

class Replace : public testing::TestWithParam<ReplaceCase> {};

TEST_P(Replace, KeepsTheOldFileUntilTheNewOneIsComplete) {
  const ReplaceCase& c = GetParam();
  ifzvk::test::ScopedWorkDir dir;
  ifzvk::test::WriteFileBytes("out.bmp", BytesOf(kOld));
  if (c.readOnly) fs::permissions("out.bmp", fs::perms::owner_read);
  {
    ReplacingFile out("out.bmp");
    ASSERT_EQ(out.Open(), c.opens) << out.Error();
    if (c.opens) {
      ASSERT_TRUE(out.Write(kNew.data(), kNew.size())) << out.Error();
      EXPECT_EQ(Contents("out.bmp"), BytesOf(kOld)) << "written under another name";
      if (c.commit) EXPECT_TRUE(out.Commit()) << out.Error();
    } else {
      EXPECT_NE(out.Error().find("read-only"), std::string::npos) << out.Error();
    }
  }
  EXPECT_EQ(Contents("out.bmp"), BytesOf(*c.result));
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"out.bmp"});
  fs::permissions("out.bmp", fs::perms::owner_all);
}

INSTANTIATE_TEST_SUITE_P(Files, Replace, testing::ValuesIn(kReplaceCases), ifzvk::test::ByTitle());

#ifndef _WIN32
// Interrupted while writing, the process dies of its signal; the partial
// file is gone and the old one stays.
TEST(ReplacingFile, AnInterruptedWriteLeavesTheOldFileAndNoPartOne) {
  ifzvk::test::ScopedWorkDir dir;
  ifzvk::test::WriteFileBytes("out.bmp", BytesOf(kOld));
  fs::create_symlink("out.bmp", "link.bmp");
  EXPECT_EXIT(
      {
        ifzvk::host::InstallInterruptRemoval();
        ReplacingFile link("link.bmp");
        if (link.Open()) std::_Exit(1);  // a link is never written through nor replaced
        ReplacingFile out("out.bmp");
        if (!out.Open() || !out.Write(kNew.data(), kNew.size()) || std::fflush(out.Stream()) != 0) std::_Exit(2);
        std::raise(SIGTERM);
        std::_Exit(3);
      },
      testing::KilledBySignal(SIGTERM), "");
  EXPECT_EQ(Contents("out.bmp"), BytesOf(kOld));
  EXPECT_EQ(dir.Entries().size(), 2u) << "out.bmp and link.bmp only";
}
#endif

}  // namespace
