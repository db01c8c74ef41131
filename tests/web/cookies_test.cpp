#include "web/cookies.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "tests/web/cookie_merge_reference.h"

namespace zivorna {
namespace {

struct MergeCase {
  const char* name;
  std::string cookies;
  std::string received;
  std::string mergedCookies;
  std::string spacelessReceived;
};

TEST(MergeCookiesTest, MergesAndRewritesBothVariables) {
  const MergeCase cases[] = {
      {"received replace old, new first", "a=1; b=2", "b=3; c=4", "b=3; c=4; a=1", "b=3;c=4"},
      {"received deletion", "a=1; b=2", "a=deleted", "b=2", "a=deleted"},
      {"old deleted entry dropped", "a=deleted", "", "", ""},
      {"nothing old", "", "a=1; b=2", "a=1; b=2", "a=1;b=2"},
      {"separators normalised", "a=1;b=2", "", "a=1; b=2", ""},
      {"both empty", "", "", "", ""},
      {"received same name twice", "", "a=1; a=2", "a=1; a=2", "a=1;a=2"},
      {"received identical twice", "", "a=1; a=1", "a=1", "a=1;a=1"},
      {"old same name twice: first survives", "a=1; a=2", "b=1", "b=1; a=1", "b=1"},
      {"entry without '=' is a name", "abc", "x=1", "x=1; abc", "x=1"},
      {"entry without '=' replaced", "abc", "abc=5", "abc=5", "abc=5"},
      {"spaces inside values removed", "a=hello world", "", "a=helloworld", ""},
      {"final ';' adds nothing", "a=1;", "b=2;", "b=2; a=1", "b=2;"},
      {"empty entry kept once", ";a=1", "x=1", "x=1; ; a=1", "x=1"},
      {"empty entries collapse", ";;a=1", ";x=1", "; x=1; a=1", ";x=1"},
      {"names compared with case", "A=1", "a=2", "a=2; A=1", "a=2"},
      {"only '=deleted' ends delete", "a=1", "a=undeleted", "a=undeleted", "a=undeleted"},
      {"full-width spaces removed", "a=1;\xA1\xA1" "b=2", "c=\xA1\xA1" "3 ", "c=3; a=1; b=2", "c=3"},
      // 0xB0 0xA1 is one character; only the pair after it is a full-width space.
      {"full-width space only on a character boundary", "", "a=\xB0\xA1\xA1\xA1", "a=\xB0\xA1",
       "a=\xB0\xA1"},
  };
  for (const auto& c : cases) {
    Text cookies = c.cookies;
    Text received = c.received;
    const Text returned = MergeCookies(cookies, received);
    EXPECT_EQ(cookies, c.mergedCookies) << "case: " << c.name;
    EXPECT_EQ(received, c.spacelessReceived) << "case: " << c.name;
    EXPECT_EQ(returned, cookies) << "case: " << c.name;
  }
}

TEST(CookieNameTest, TrimmedTextBeforeFirstEquals) {
  const struct {
    std::string entry;
    std::string name;
  } cases[] = {
      {"a=1", "a"},   {" a =1", "a"}, {"abc", "abc"}, {" abc ", "abc"},
      {"=1", ""},     {"", ""},       {"a=b=c", "a"},
      {"\xB0=x=1", "\xB0=x"},  // 0xB0 0x3D is one character, not a separator
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CookieName(c.entry), c.name) << "entry: " << c.entry;
  }
}

TEST(CookieNameTest, HasCookieNamedComparesExactly) {
  const TextArray entries = {"a=1", "B=2", "=3"};
  EXPECT_TRUE(HasCookieNamed(entries, "B"));
  EXPECT_FALSE(HasCookieNamed(entries, "b"));
  EXPECT_TRUE(HasCookieNamed(entries, ""));
  EXPECT_FALSE(HasCookieNamed(entries, "1"));
  EXPECT_FALSE(HasCookieNamed({}, ""));
}

TEST(JoinDistinctTest, KeepsFirstOfEachPiece) {
  const struct {
    std::string text;
    std::string delimiter;
    std::string expected;
  } cases[] = {
      {"x; y; x", "; ", "x; y"},
      {"", "; ", ""},
      {"x; x", "", "x; x"},  // empty delimiter: unchanged
      {"x; ; y; ; x", "; ", "x; ; y"},
      {"x; y; ", "; ", "x; y"},
      {"x;y; x", "; ", "x;y; x"},  // "x;y" is one piece, different from "x"
      {"a--b--a--c", "--", "a--b--c"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(JoinDistinct(c.text, c.delimiter), c.expected) << "text: " << c.text;
  }
}

TEST(IndexOfTextTest, FirstExactMatch) {
  EXPECT_EQ(IndexOfText({}, ""), -1);
  const TextArray array = {"a", "b", "a", ""};
  EXPECT_EQ(IndexOfText(array, "a"), 1);
  EXPECT_EQ(IndexOfText(array, "b"), 2);
  EXPECT_EQ(IndexOfText(array, ""), 4);
  EXPECT_EQ(IndexOfText(array, "A"), -1);
}

// Random cookie strings built from pieces that steer the merge into its
// corners: repeated and case-variant names, deletions, entries without "=",
// empty entries, plain and full-width spaces, cut and whole GBK characters.
Text RandomCookieText(std::mt19937& rng) {
  static const std::vector<std::string> pieces = {
      "a", "b", "A", "c", "=", "=", "1", "2", ";", ";", "; ", " ", "\xA1\xA1",
      "=deleted", "deleted", "\xB0", "\xB0\xA1", "x=y", ";;",
  };
  std::uniform_int_distribution<int> length(0, 24);
  std::uniform_int_distribution<std::size_t> pick(0, pieces.size() - 1);
  Text text;
  for (int n = length(rng); n > 0; --n) {
    text += pieces[pick(rng)];
  }
  return text;
}

TEST(MergeCookiesTest, MatchesPlainScanOnRandomInput) {
  std::mt19937 rng(20240611);
  for (int i = 0; i < 5000; ++i) {
    const Text cookies = RandomCookieText(rng);
    const Text received = RandomCookieText(rng);
    Text fastCookies = cookies, fastReceived = received;
    Text plainCookies = cookies, plainReceived = received;
    const Text fast = MergeCookies(fastCookies, fastReceived);
    const Text plain = reference::MergeCookiesByScan(plainCookies, plainReceived);
    ASSERT_EQ(fastCookies, plainCookies) << "cookies: " << cookies << " received: " << received;
    ASSERT_EQ(fastReceived, plainReceived) << "cookies: " << cookies << " received: " << received;
    ASSERT_EQ(fast, plain) << "cookies: " << cookies << " received: " << received;
  }
}

TEST(JoinDistinctTest, MatchesPlainScanOnRandomInput) {
  std::mt19937 rng(7);
  const std::string delimiters[] = {"; ", ";", "", "a", "\xA1\xA1"};
  for (int i = 0; i < 3000; ++i) {
    const Text text = RandomCookieText(rng);
    for (const auto& delimiter : delimiters) {
      ASSERT_EQ(JoinDistinct(text, delimiter), reference::JoinDistinctByScan(text, delimiter))
          << "text: " << text << " delimiter: " << delimiter;
    }
  }
}

}  // namespace
}  // namespace zivorna
