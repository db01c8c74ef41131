#include "text/text.h"

#include <gtest/gtest.h>

#include <climits>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "naive_walk.h"

namespace zivorna {
namespace {

// Two-byte characters used below, spelled as bytes. The second byte of kAA is
// 'A' and that of kAa is 'a', so a search for the letter could wrongly hit it.
const std::string kAA = "\xB0\x41";   // lead 0xB0, second byte 0x41 'A'
const std::string kAa = "\xB0\x61";   // lead 0xB0, second byte 0x61 'a'
const std::string kWide = "\xA1\xA1";  // full-width space
const std::string kDot = "\xA1\xA3";   // a two-byte character with second byte 0xA3
const std::string kCut = "\xB0";       // a lead byte with nothing after it

TEST(TextExtraction, BoundsAndClipping) {
  struct Case {
    const char* name;
    Text got;
    Text want;
  } cases[] = {
      {"left longer than text", TextLeft("abc", 5), "abc"},
      {"left zero", TextLeft("abc", 0), ""},
      {"left negative", TextLeft("abc", -2), ""},
      {"left INT_MAX", TextLeft("abc", INT_MAX), "abc"},
      {"left cuts a character", TextLeft("a" + kAA, 2), "a\xB0"},
      {"right", TextRight("abc", 2), "bc"},
      {"right longer than text", TextRight("abc", 9), "abc"},
      {"right negative", TextRight("abc", -1), ""},
      {"mid start 0 not moved up", TextMid("abcdef", 0, 3), ""},
      {"mid clipped at end", TextMid("abcdef", 5, 10), "ef"},
      {"mid start one past end", TextMid("abcdef", 7, 1), ""},
      {"mid count zero", TextMid("abcdef", 2, 0), ""},
      {"mid INT_MAX start and count", TextMid("abcdef", INT_MAX, INT_MAX), ""},
      {"mid INT_MAX count", TextMid("abcdef", 2, INT_MAX), "bcdef"},
      {"mid on second byte", TextMid(kAA + "x", 2, 2), "Ax"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.got, c.want) << "case: " << c.name;
  EXPECT_EQ(TextLength(""), 0);
  EXPECT_EQ(TextLength(kAA + "a"), 3);
}

struct FindCase {
  const char* name;
  std::string text, pattern;
  int start;
  bool ignoreCase;
  int want;
};

TEST(TextSearch, FindText) {
  const FindCase cases[] = {
      {"first", "abcabc", "c", 1, false, 3},
      {"from start", "abcabc", "c", 4, false, 6},
      {"start past end", "abcabc", "c", 7, false, -1},
      {"start 0 means 1", "abcabc", "c", 0, false, 3},
      {"negative start means 1", "abcabc", "c", -5, false, 3},
      {"start at the match", "abcabc", "c", 3, false, 3},
      {"empty pattern", "abc", "", 1, false, 1},
      {"empty pattern found at 1 whatever the start", "abc", "", 3, false, 1},
      {"empty pattern start past end", "abc", "", 4, false, -1},
      {"empty text empty pattern", "", "", 1, false, -1},
      {"pattern longer than text", "ab", "abc", 1, false, -1},
      {"pattern at very end", "xxab", "ab", 1, false, 3},
      {"ignore case", "aBc", "b", 1, true, 2},
      {"exact case", "aBc", "b", 1, false, -1},
      {"ignore case in pattern", "abc", "BC", 1, true, 2},
      {"no fold outside ASCII letters", "a[c", "{", 1, true, -1},
      // No match may start on the second byte of a two-byte character.
      {"letter equal to a second byte", kAA + "A", "A", 1, false, 3},
      {"letter equal to a second byte, folded", kAa + "x", "A", 1, true, -1},
      {"two high bytes across characters", "\xB0\xB1\xB2\xB3", "\xB1\xB2", 1, false, -1},
      {"second byte 0xA1 then full-width space", "\xB0\xA1" + kWide, kWide, 1, false, 3},
      {"whole character", "ab" + kAA, kAA, 1, false, 3},
      {"after odd run of high bytes", "x\xB0\xB1\xB2" "AA", "A", 1, false, 6},
      {"after even run of high bytes", "x\xB0\xB1" "A", "A", 1, false, 4},
      {"long run of characters, offset decided by parity",
       std::string(40, '\xB0') + "\xB1" "A" + kAA, "A", 1, false, -1},
      {"long run of characters, match on boundary",
       std::string(40, '\xB0') + "A", "A", 1, false, 41},
      // Many near-misses on the first byte switch the byte search to memmem
      // for a stretch; its hits still have to lie on a character start.
      {"many near-misses", std::string(40, 'a') + "b", "ab", 1, false, 40},
      {"many near-misses, then a hit on a second byte",
       [] {
         std::string t;
         for (int i = 0; i < 20; ++i) t += "\xB1" "a";
         return t + "\xB0\xB1\xB1\xB1\xB1";
       }(),
       "\xB1\xB1", 1, false, 43},
      // A start inside a character walks from its second byte.
      {"start on a second byte", kAA + "A", "A", 2, false, 2},
      // A cut character at the end: the walk ends there.
      {"cut lead not matched", "ab" + kCut, kCut, 1, false, -1},
      {"match may end on the cut byte", "a" + kCut, "a" + kCut, 1, false, 1},
      {"ascii before cut lead", "ab" + kCut, "b", 1, false, 2},
  };
  for (const FindCase& c : cases) {
    EXPECT_EQ(FindText(c.text, c.pattern, c.start, c.ignoreCase), c.want) << "case: " << c.name;
  }
  EXPECT_EQ(FindText("abcabc", "c"), 3) << "defaults";
}

// Long texts full of near-misses: the byte search changes strategy on such
// stretches, and a match right at the edge of one must not be skipped.
TEST(TextSearch, FindTextInLongNearMissRuns) {
  for (std::size_t n = 65530; n <= 65560; ++n) {
    const std::string plain = std::string(n, 'a') + "b";
    ASSERT_EQ(FindText(plain, "ab"), static_cast<int>(n)) << "n=" << n;
    const std::string shifted = "\xB0" + plain + "\xB1\xB1";
    ASSERT_EQ(FindText(shifted, "ab", 2), naive::FindText(shifted, "ab", 2, false)) << "n=" << n;
    ASSERT_EQ(FindText(shifted, "b\xB1"), naive::FindText(shifted, "b\xB1", 1, false));
  }
}

TEST(TextSearch, FindTextReverse) {
  struct Case {
    const char* name;
    std::string text, pattern;
    std::optional<int> start;
    bool ignoreCase;
    int want;
  } cases[] = {
      {"whole text", "a.b.c", ".", std::nullopt, false, 4},
      {"start excludes itself only", "a.b.c", ".", 5, false, 4},
      {"start on the dot excludes it", "a.b.c", ".", 4, false, 2},
      {"start 2", "a.b.c", ".", 2, false, -1},
      {"start 1", "a.b.c", ".", 1, false, -1},
      {"start 0", "a.b.c", ".", 0, false, -1},
      {"start far beyond", "a.b.c", ".", 99, false, 4},
      {"start one past the end", "a.b.", ".", 5, false, 4},
      {"overlapping", "aaa", "aa", std::nullopt, false, 2},
      {"match must end before start", "abcab", "ab", 5, false, 1},
      {"empty pattern", "abc", "", std::nullopt, false, 1},
      {"empty pattern, empty region", "abc", "", 1, false, -1},
      {"empty text", "", "a", std::nullopt, false, -1},
      {"ignore case", "xAbxaB", "ab", std::nullopt, true, 5},
      {"second byte never matches", "A" + kAA, "A", std::nullopt, false, 1},
      {"second byte never matches, folded", "A" + kAa, "a", std::nullopt, true, 1},
      {"full-width space straddling characters", "\xB0\xA1\xA1" "x", kWide, std::nullopt,
       false, -1},
      {"last of several in one run", kDot + kDot + kDot, kDot, std::nullopt, false, 5},
      {"cut lead at end", "x" + kCut, kCut, std::nullopt, false, -1},
      {"lead byte as one-byte pattern", "\xB0" "x" + kCut, kCut, std::nullopt, false, 1},
      {"candidates inside one run decided by parity", "\xB0" + kWide + kWide, kWide,
       std::nullopt, false, 3},
      {"every candidate in one run on a second byte", "\xB0\xA3\xA1\xA3\xA1\xA3",
       "\xA3\xA1", std::nullopt, false, -1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FindTextReverse(c.text, c.pattern, c.start, c.ignoreCase), c.want)
        << "case: " << c.name;
  }
}

TEST(TextSearch, FindTextReverseWalksDotsLeftwards) {
  const std::string host = "one.two.three";
  std::vector<int> dots;
  for (int p = FindTextReverse(host, "."); p != -1; p = FindTextReverse(host, ".", p)) {
    dots.push_back(p);
  }
  EXPECT_EQ(dots, (std::vector<int>{8, 4}));
  EXPECT_EQ(FindTextReverse(host, ".", 13), 8);
}

TEST(TextSearch, FindBytes) {
  const ByteSet data = {'a', 0, 'b', 0, 'b'};
  struct Case {
    const char* name;
    ByteSet pattern;
    int start;
    int want;
  } cases[] = {
      {"zero byte in pattern", {0, 'b'}, 1, 2},
      {"from start", {0, 'b'}, 3, 4},
      {"start 0", {'b'}, 0, 3},
      {"not character-aware", {'b'}, 1, 3},
      {"pattern runs past end", {'b', 0, 'c'}, 1, -1},
      {"start past end", {'b'}, 6, -1},
      {"start at last byte", {'b'}, 5, 5},
      {"empty pattern", {}, 1, -1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FindBytes(data, c.pattern, c.start), c.want) << "case: " << c.name;
  }
  EXPECT_EQ(FindBytes({}, {}), -1);
  EXPECT_EQ(FindBytes({0xB0, 0x41}, {0x41}), 2) << "second bytes are ordinary bytes here";
}

TEST(TextTransform, ReplaceSubtext) {
  struct Case {
    const char* name;
    Text got;
    Text want;
  } cases[] = {
      {"left to right, no overlap", ReplaceSubtext("aaa", "aa", "b"), "ba"},
      {"empty pattern", ReplaceSubtext("abc", "", "x"), "abc"},
      {"replacement left out", ReplaceSubtext("a<bR>b", "<bR>"), "ab"},
      {"case-insensitive", ReplaceSubtext("ABC", "b", "x", 1, -1, false), "AxC"},
      {"case-sensitive", ReplaceSubtext("ABC", "b", "x", 1, -1, true), "ABC"},
      {"replacement not searched again", ReplaceSubtext("aXa", "a", "aa"), "aaXaa"},
      {"count limits", ReplaceSubtext("a,b,c,d", ",", ";", 1, 2), "a;b;c,d"},
      {"count zero is identity", ReplaceSubtext("a,b", ",", ";", 1, 0), "a,b"},
      {"negative count means all", ReplaceSubtext("a,b,c", ",", "", 1, -7), "abc"},
      {"start skips earlier ones", ReplaceSubtext("a,b,c", ",", ";", 3), "a,b;c"},
      {"start past end", ReplaceSubtext("a,b", ",", ";", 4), "a,b"},
      {"empty text", ReplaceSubtext("", "a", "b"), ""},
      {"second byte left alone", ReplaceSubtext(kAA + "A", "A", "z"), kAA + "z"},
      {"second byte left alone, folded", ReplaceSubtext(kAa + "a", "A", "z", 1, -1, false),
       kAa + "z"},
      {"whole characters", ReplaceSubtext("\xB0\xA1" + kWide + "x", kWide, " "),
       "\xB0\xA1 x"},
      {"cut lead kept", ReplaceSubtext("a,b" + kCut, kCut, "!"), "a,b" + kCut},
      {"cut lead kept after replacing", ReplaceSubtext("a,b" + kCut, ",", ""), "ab" + kCut},
  };
  for (const Case& c : cases) EXPECT_EQ(c.got, c.want) << "case: " << c.name;
}

TEST(TextTransform, SplitText) {
  struct Case {
    const char* name;
    TextArray got;
    TextArray want;
  } cases[] = {
      {"empty between, none after the last", SplitText("a;;b;", ";"), {"a", "", "b"}},
      {"leading delimiter", SplitText(";a", ";"), {"", "a"}},
      {"delimiter only", SplitText(";", ";"), {""}},
      {"two delimiters only", SplitText(";;", ";"), {"", ""}},
      {"empty text", SplitText("", ";"), {}},
      {"empty delimiter", SplitText("abc", ""), {"abc"}},
      {"default comma", SplitText("a,b"), {"a", "b"}},
      {"no delimiter", SplitText("abc", ";"), {"abc"}},
      {"count drops the rest", SplitText("a;b;c", ";", 2), {"a", "b"}},
      {"count larger than pieces", SplitText("a;b", ";", 5), {"a", "b"}},
      {"count reached by last piece", SplitText("a;b", ";", 2), {"a", "b"}},
      {"count zero", SplitText("a;b", ";", 0), {}},
      {"negative count counts as zero", SplitText("a;b", ";", -1), {}},
      {"multi-byte delimiter", SplitText("a\r\nb\r\n\r\nc", "\r\n"), {"a", "b", "", "c"}},
      {"exact case", SplitText("aXbxc", "x"), {"aXb", "c"}},
      {"second byte is not a delimiter", SplitText(kAA + "A" + kAA, "A"), {kAA, kAA}},
      {"cut lead stays in the last piece", SplitText("a,b" + kCut, ","), {"a", "b" + kCut}},
  };
  for (const Case& c : cases) EXPECT_EQ(c.got, c.want) << "case: " << c.name;
}

TEST(TextTransform, SpacesAndCase) {
  struct Case {
    const char* name;
    Text got;
    Text want;
  } cases[] = {
      {"trim", TrimBothEnds("  a b  "), "a b"},
      {"trim keeps tab and CR", TrimBothEnds("\ta\r"), "\ta\r"},
      {"trim full-width", TrimBothEnds(kWide + "a" + kWide + " " + kWide), "a"},
      {"trim all spaces", TrimBothEnds(" " + kWide + " "), ""},
      {"trim empty", TrimBothEnds(""), ""},
      {"trim second byte 0x20 is no space", TrimBothEnds("a\xB0\x20"), "a\xB0\x20"},
      {"trim second byte 0xA1 before a space", TrimBothEnds("\xB0\xA1" + kWide), "\xB0\xA1"},
      {"trim pair then cut 0xA1", TrimBothEnds("\xB0\xA1\xA1"), "\xB0\xA1\xA1"},
      {"trim 0xA1 0x20 is a character", TrimBothEnds("\xA1\x20" " "), "\xA1\x20"},
      {"trim lone 0xA1 at end kept", TrimBothEnds("x " "\xA1"), "x " "\xA1"},
      {"trim three 0xA1 after letter", TrimBothEnds("x\xA1\xA1\xA1"), "x\xA1\xA1\xA1"},
      {"trim four 0xA1 after letter", TrimBothEnds("x\xA1\xA1\xA1\xA1"), "x"},
      {"trim inner spaces stay", TrimBothEnds(kWide + "a" + kWide + "b"), "a" + kWide + "b"},
      {"remove all", RemoveAllSpaces("a = 1; b=2"), "a=1;b=2"},
      {"remove full-width", RemoveAllSpaces("a" + kWide + "b"), "ab"},
      {"remove keeps tabs and line ends", RemoveAllSpaces(" a\t\r\n"), "a\t\r\n"},
      {"remove keeps second byte 0x20", RemoveAllSpaces("\xB0\x20 x"), "\xB0\x20x"},
      {"remove keeps 0xA1 pair across characters", RemoveAllSpaces("\xB0\xA1\xA1" "b"),
       "\xB0\xA1\xA1" "b"},
      {"lower", ToLowerCase("Accept-Language"), "accept-language"},
      {"lower leaves second bytes", ToLowerCase(kAA + "Z" + kAA), kAA + "z" + kAA},
      {"lower leaves high letters", ToLowerCase("\xC1\xC2" "Q"), "\xC1\xC2" "q"},
      {"lower with cut lead", ToLowerCase("A" + kCut), "a" + kCut},
  };
  for (const Case& c : cases) EXPECT_EQ(c.got, c.want) << "case: " << c.name;
}

TEST(TextBuild, ConcatCharBlankCompare) {
  EXPECT_EQ(ConcatText("a", "", "b"), "ab");
  EXPECT_EQ(ConcatText(Text("x"), std::string_view("y"), "z", Text()), "xyz");
  EXPECT_EQ(CharFromCode(0), "");
  EXPECT_EQ(CharFromCode(0xB0), "\xB0");
  EXPECT_EQ(CharFromCode(256), "");
  EXPECT_EQ(CharFromCode(-1), "");
  EXPECT_EQ(BlankText(0), "");
  EXPECT_EQ(BlankText(-3), "");
  EXPECT_EQ(BlankText(3), "   ");
  Text unset;
  EXPECT_EQ(CompareText(unset, ""), 0);
  EXPECT_LT(CompareText("ab", "abc"), 0) << "prefix first";
  EXPECT_GT(CompareText("\xB0", "a"), 0) << "bytes compare unsigned";
  EXPECT_NE(CompareText("A", "a"), 0) << "case matters";
}

TEST(TextConvert, ToInteger) {
  struct Case {
    std::string text;
    std::int32_t want;
  } cases[] = {
      {"443abc", 443},
      {" 8080", 8080},
      {"", 0},
      {"abc", 0},
      {"-12", -12},
      {"+7", 7},
      {"2147483647", 2147483647},
      {"2147483648", INT32_MIN},
      {"-2147483648", INT32_MIN},
      {"4294967297", 1},
      {"\t\r\n\v\f 5", 5},
      {"+-1", 0},
      {"- 5", 0},
      {"-", 0},
      {"\xA3\xB8\xA3\xB0", 80},            // full-width digits
      {"\xA3\xAD\xA3\xB1", -1},            // full-width minus
      {kWide + "\xA3\xB9", 9},             // full-width space first
      {"1\xA3\xB2" "3", 123},              // mixed widths
      {"7" + kAA, 7},                      // other character ends the number
      {"\xB0\x35", 0},                     // '5' as a second byte is no digit
      {"3" + kCut, 3},
  };
  for (const Case& c : cases) EXPECT_EQ(ToInteger(c.text), c.want) << "text: " << c.text;
}

TEST(TextConvert, BytesAndText) {
  EXPECT_EQ(BytesToText({0x61, 0x00, 0x62}), "a");
  EXPECT_EQ(BytesToText({0x00, 0x61}), "");
  EXPECT_EQ(BytesToText({}), "");
  EXPECT_EQ(BytesToText({0xB0, 0x41}), kAA);
  EXPECT_EQ(TextToBytes("ab"), (ByteSet{'a', 'b'}));
  EXPECT_TRUE(TextToBytes("").empty());
  EXPECT_EQ(TextToBytes(kAA), (ByteSet{0xB0, 0x41}));

  EXPECT_EQ(BytesLength({1, 0, 2}), 3);
  EXPECT_EQ(BytesLeft({1, 2, 3}, 2), (ByteSet{1, 2}));
  EXPECT_EQ(BytesLeft({1, 2, 3}, 9), (ByteSet{1, 2, 3}));
  EXPECT_TRUE(BytesLeft({1, 2, 3}, 0).empty());
  EXPECT_TRUE(BytesLeft({1, 2, 3}, -1).empty());
  EXPECT_TRUE(BlankBytes(-1).empty());
  EXPECT_EQ(BlankBytes(1024), ByteSet(1024, 0));
  EXPECT_EQ(ConcatBytes({1}, {0, 2}), (ByteSet{1, 0, 2}));
  EXPECT_TRUE(ConcatBytes({}, {}).empty());
}

TEST(TextArrays, AppendAndRead) {
  TextArray array;
  EXPECT_EQ(ArraySize(array), 0);
  Text member = "one";
  AppendToArray(array, member);
  member = "changed";
  AppendToArray(array, "two");
  EXPECT_EQ(ArraySize(array), 2);
  EXPECT_EQ(ArrayMember(array, 1), "one") << "the array holds its own copy";
  EXPECT_EQ(ArrayMember(array, 2), "two");
  EXPECT_EQ(ArrayMember(array, 0), "");
  EXPECT_EQ(ArrayMember(array, 3), "");
  EXPECT_EQ(BitOr(1, 4, 0x100), 0x105);
  EXPECT_EQ(BitOr(INT32_MIN, 1), INT32_MIN | 1);
}

// The searches skip the character walk and decide from the bytes around a
// byte match whether the walk would visit it. Compare them with a literal walk
// over many random texts built from bytes that make the decision hard: lead
// bytes, second bytes equal to letters and to 0xA1, spaces and delimiters.
TEST(TextSearch, AgreesWithCharacterWalk) {
  const char alphabet[] = {'a', 'A', ' ', ';', '\xA1', '\xB0', '\xC4', 'a'};
  std::mt19937 rng(20240607);
  auto randomText = [&](std::size_t maxLen) {
    std::string s(std::uniform_int_distribution<std::size_t>(0, maxLen)(rng), 'a');
    for (char& ch : s) ch = alphabet[rng() % sizeof alphabet];
    return s;
  };
  for (int round = 0; round < 20000; ++round) {
    const std::string text = randomText(48);
    const std::string pattern = randomText(3);
    const int start = std::uniform_int_distribution<int>(-1, static_cast<int>(text.size()) + 2)(rng);
    const bool fold = rng() % 2;
    const std::optional<int> rstart = rng() % 3 ? std::optional<int>(start) : std::nullopt;
    const int count = std::uniform_int_distribution<int>(-1, 3)(rng);
    const std::optional<int> scount = rng() % 2 ? std::optional<int>(count) : std::nullopt;
    SCOPED_TRACE(testing::Message() << "text=" << testing::PrintToString(text)
                                    << " pattern=" << testing::PrintToString(pattern)
                                    << " start=" << start << " fold=" << fold);
    ASSERT_EQ(FindText(text, pattern, start, fold), naive::FindText(text, pattern, start, fold));
    ASSERT_EQ(FindTextReverse(text, pattern, rstart, fold),
              naive::FindTextReverse(text, pattern, rstart, fold));
    ASSERT_EQ(ReplaceSubtext(text, pattern, "#", start, count, !fold),
              naive::ReplaceSubtext(text, pattern, "#", start, count, !fold));
    ASSERT_EQ(SplitText(text, pattern, scount), naive::SplitText(text, pattern, scount));
    ASSERT_EQ(TrimBothEnds(text), naive::TrimBothEnds(text));
  }
}

}  // namespace
}  // namespace zivorna
