// The two routes of the XML section (a temporary file for the plug-in
// module, memory for viewers) give the same answer for every stored document:
// the bundled examples and every input the fuzzers have kept.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "document/thumbnail.h"
#include "support/TestSupport.h"

namespace {

using namespace ifzvk;
namespace fs = std::filesystem;

std::vector<fs::path> StoredDocuments() {
  std::vector<fs::path> files;
  const fs::path source(ZVK_SOURCE_DIR);
  for (const char* folder : {"examples", "fuzz/corpus"}) {
    for (const auto& entry : fs::recursive_directory_iterator(source / folder)) {
      if (entry.is_regular_file()) files.push_back(entry.path());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

TEST(XmlRoutes, AgreeOnEveryStoredDocument) {
  const std::vector<fs::path> files = StoredDocuments();
  ASSERT_GT(files.size(), 100u) << "the examples and the fuzz corpora are found";
  test::ScopedWorkDir dir;
  int previews = 0;
  for (const fs::path& file : files) {
    SCOPED_TRACE(file.string());
    test::Bytes bytes;
    ASSERT_TRUE(test::ReadFileBytes(file.string(), bytes));
    // Files shorter than the header or without the magic go through too: the
    // extraction itself must hold against them.
    qoru::CImage32 throughFile, inMemory;
    const PreviewProblem fileAnswer = ExtractThumbnail(bytes.data(), bytes.size(), throughFile, XmlRoute::TemporaryFile);
    const PreviewProblem memoryAnswer = ExtractThumbnail(bytes.data(), bytes.size(), inMemory, XmlRoute::Memory);
    ASSERT_EQ(fileAnswer, memoryAnswer) << DescribePreviewProblem(fileAnswer) << " / " << DescribePreviewProblem(memoryAnswer);
    if (fileAnswer != PreviewProblem::None) continue;
    ++previews;
    ASSERT_EQ(throughFile.width, inMemory.width);
    ASSERT_EQ(throughFile.height, inMemory.height);
    const auto pixels = static_cast<std::size_t>(inMemory.width) * static_cast<std::size_t>(inMemory.height);
    ASSERT_TRUE(std::equal(throughFile.pixels, throughFile.pixels + pixels, inMemory.pixels));
  }
  EXPECT_GE(previews, 4) << "enough of them carry a preview for the comparison to mean something";
  EXPECT_TRUE(dir.Entries().empty());
}

}  // namespace
