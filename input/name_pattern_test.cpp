#include "input/name_pattern.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using respmat::NamePattern;

bool found(const std::string &pattern, const std::string &name) {
  std::optional<NamePattern> compiled;
  EXPECT_FALSE(NamePattern::compile(pattern, "--monitors-match", compiled)) << pattern;
  return compiled && compiled->found_in(name);
}

TEST(NamePattern, TakesTheCommonSyntaxAndAnyNameInLinearTime) {
  EXPECT_TRUE(found("^I?BPM\\d+(?:H|V)$", "IBPM12V"));
  EXPECT_FALSE(found("^BPM[0-9]{2}$", "BPM123"));
  EXPECT_TRUE(found("k.*?r", "kicker"));
  // Once a crash (recursion per character) and a minute of backtracking.
  const std::string long_name(50000, 'a');
  EXPECT_TRUE(found("a+$", long_name));
  EXPECT_FALSE(found("(a*)*b", long_name));
}

TEST(NamePattern, WhatItCannotMatchIsAUsageErrorNamingTheOption) {
  for (const char *pattern : {"(", "(B)\\1", "B(?=PM)", "a{1001}"}) {
    std::optional<NamePattern> compiled;
    const std::optional<respmat::Failure> failure = NamePattern::compile(pattern, "--correctors-match", compiled);
    ASSERT_TRUE(failure) << pattern;
    EXPECT_EQ(failure->kind, respmat::Failure::Kind::usage);
    EXPECT_TRUE(failure->message.starts_with("--correctors-match '" + std::string(pattern) + "': not a regular"));
  }
}

}  // namespace
