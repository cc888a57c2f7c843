// Names table-driven test cases after their titles, so that a failing case
// reads "Walk/DuplicatesTheFirstInWalkOrderWins" rather than an index.
#pragma once

#include <cctype>
#include <string>

#include <gtest/gtest.h>

namespace ifzvk::test {

// "a recordSize past the budget" -> "ARecordSizePastTheBudget".
inline std::string CaseTitle(const char* title) {
  std::string name;
  bool wordStart = true;
  for (const char* c = title; *c != '\0'; ++c) {
    const auto byte = static_cast<unsigned char>(*c);
    if (!std::isalnum(byte)) {
      wordStart = true;
      continue;
    }
    name += wordStart ? static_cast<char>(std::toupper(byte)) : *c;
    wordStart = false;
  }
  return name;
}

// For INSTANTIATE_TEST_SUITE_P over cases that have a `title`.
struct ByTitle {
  template <class Case>
  std::string operator()(const testing::TestParamInfo<Case>& info) const {
    return CaseTitle(info.param.title);
  }
};

}  // namespace ifzvk::test
