// Cutting fields out of information pages, compared with the field pattern's
// own regex matches.
#include "lookup/fields.h"

#include <gtest/gtest.h>

#include <boost/regex.hpp>
#include <random>
#include <string>
#include <vector>

namespace zivorna {
namespace {

// "：</span>" with the full-width colon in GBK.
const std::string kMark = "\xA3\xBA</span>";

struct ExtractCase {
  const char* name;
  std::string page;
  TextArray fields;
};

TEST(ExtractFields, CutsEachStretchFromMarkerToNextTerminator) {
  const std::vector<ExtractCase> cases = {
      {"empty page", "", {}},
      {"six fields amid markup",
       "<p>a" + kMark + "wu3<bR>x" + kMark + "GGHG<bR>" + kMark + "s<bR>" + kMark + "g<bR>" +
           kMark + "h<bR>" + kMark + "five<bR></p>",
       {"wu3", "GGHG", "s", "g", "h", "five"}},
      {"field spanning lines keeps its line breaks",
       kMark + "one\r\ntwo\nthree<bR>",
       {"one\r\ntwo\nthree"}},
      {"marker twice in one stretch loses both", kMark + "a" + kMark + "b<bR>", {"ab"}},
      {"lower-case <br> does not end a field", kMark + "a<br>b<bR>", {"a<br>b"}},
      {"page with only other cases of the tag", kMark + "a<br>" + kMark + "b<BR>", {}},
      {"UTF-8 colon is not the GBK one", "\xEF\xBC\x9A</span>a<bR>", {}},
      {"terminator right after the marker", kMark + "<bR>", {""}},
      {"lazy: ends at the first terminator", kMark + "a<bR>b<bR>", {"a"}},
      {"terminator before any marker is ignored", "<bR>" + kMark + "a<bR>", {"a"}},
      {"marker without terminator after the last field", kMark + "a<bR>" + kMark + "tail", {"a"}},
      {"marker split by a GBK character is still bytes", "\xB0\xA3\xBA</span>x<bR>", {"x"}},
  };
  for (const ExtractCase& c : cases) {
    EXPECT_EQ(ExtractFields(c.page), c.fields) << "case: " << c.name;
  }
}

TEST(ExtractFields, HugeFieldAndPagesWithoutTerminatorStayLinearAndNeverThrow) {
  const std::size_t big = 16u << 20;
  // One field of 16 MiB.
  const std::string huge = kMark + std::string(big, 'x') + "<bR>";
  const TextArray one = ExtractFields(huge);
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one[0].size(), big);

  // 16 MiB of markers and no terminator: the regex engine gives up on this
  // with an exception (complexity limit); the scan finds nothing.
  std::string markers;
  markers.reserve(big);
  while (markers.size() + kMark.size() <= big) markers += kMark;
  EXPECT_TRUE(ExtractFields(markers).empty());
  EXPECT_TRUE(ExtractFields(kMark + std::string(big, '\n')).empty());
}

// Random pages from pieces that make the pattern's corner cases likely.
std::string RandomPage(std::mt19937& random) {
  static const std::vector<std::string> pieces = {
      kMark, kMark, "<bR>", "<bR>", "<br>", "<BR>",     "</span>",  "\xA3\xBA", "\xA3", "\xBA",
      "<b",  "R>",  "a",    "\r\n", "\xB0", "\xB0\xA1", "\xCE\xE5", ">",        "<"};
  std::uniform_int_distribution<std::size_t> length(0, 40);
  std::uniform_int_distribution<std::size_t> pick(0, pieces.size() - 1);
  std::string page;
  for (std::size_t n = length(random); n > 0; --n) page += pieces[pick(random)];
  return page;
}

TEST(ExtractFields, GivesExactlyTheMatchesOfTheFieldRegex) {
  std::mt19937 random(20240611);
  for (int round = 0; round < 5000; ++round) {
    const std::string page = RandomPage(random);
    std::vector<SearchResult> expected;
    TextArray expectedFields;
    for (boost::sregex_iterator it(page.begin(), page.end(), FieldRegex()), end; it != end; ++it) {
      expected.push_back(
          {static_cast<std::size_t>(it->position()), static_cast<std::size_t>(it->length())});
      expectedFields.push_back(FieldFromMatch(it->str()));
    }
    ASSERT_EQ(FindFieldMatches(page), expected) << "page: " << ::testing::PrintToString(page);
    ASSERT_EQ(ExtractFields(page), expectedFields) << "page: " << ::testing::PrintToString(page);
  }
}

TEST(FieldFromMatch, RemovesMarkersThenTerminators) {
  // Removing the markers first can join "<b" and "R>" into a terminator that
  // is then removed too; removing in the other order would keep it.
  EXPECT_EQ(FieldFromMatch(kMark + "x<b" + kMark + "R>y<bR>"), "xy");
}

}  // namespace
}  // namespace zivorna
