// Reading Rime tables and sorting a character's codes into full and simple
// codes, on small tables written here.
#include "server/wubi_tables.h"

#include <sstream>

#include <gtest/gtest.h>

#include "server/wubi_data.h"

namespace zivorna::server {
namespace {

using Codes = std::vector<std::pair<std::string, double>>;
using Leveled = std::vector<LeveledCode>;

TEST(ClassifyCodes, FullCodeIsTheLongestAndShorterCodesAreSimpleCodesOfTheirLength) {
  struct Case {
    const char* name;
    Codes codes;
    Leveled expected;
  };
  const std::vector<Case> cases = {
      {"level-2 and level-3 codes beside the full code (五)",
       {{"gg", 72554824}, {"ggh", 796000000}, {"gghg", 796000000}},
       {{"gghg", 4}, {"gg", 2}, {"ggh", 3}}},
      {"three-letter full code with a final-stroke key (了)",
       {{"b", 1477224452}, {"bnh", 1690000000}},
       {{"bnh", 4}, {"b", 1}}},
      {"every level at once (经)",
       {{"x", 2}, {"xc", 2}, {"xca", 1}, {"xcag", 1}},
       {{"xcag", 4}, {"x", 1}, {"xc", 2}, {"xca", 3}}},
      {"z codes are lookup keys, not codes (丨)",
       {{"hhl", 2100000}, {"hhll", 2100000}, {"zzpp", 642}},
       {{"hhll", 4}, {"hhl", 3}}},
      {"two full codes, heaviest first", {{"abcd", 1}, {"abce", 5}}, {{"abce", 4}, {"abcd", 4}}},
      {"a code listed twice counts once", {{"kb", 1}, {"kb", 2}, {"kbsk", 1}},
       {{"kbsk", 4}, {"kb", 2}}},
      {"only short codes: no full code is made up", {{"tc", 1}, {"t", 2}}, {{"t", 1}, {"tc", 2}}},
      {"codes with other characters or over four letters are dropped",
       {{"ab1", 1}, {"ABCD", 1}, {"abcde", 9}, {"", 3}, {"abc", 1}},
       {{"abc", 4}}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ClassifyCodes(c.codes), c.expected) << "case: " << c.name;
  }
}

TEST(LoadCharCodes, ReadsTheBodyOfARimeFileAndKeepsSingleCharacters) {
  std::istringstream in(
      "# Rime dictionary\n"
      "---\n"
      "name: wubi98\n"
      "columns:\n"
      "  - text\n"
      "五\tzz\t1\n"  // inside the header: not an entry
      "...\n"
      "\n"
      "# a comment\n"
      "#王\tg\t99\n"
      "五\tgg\t10\r\n"
      "五\tgghg\t5\tstem\n"
      "五月\tggee\t3\n"
      "啊\tkbsk\n");
  CharCodeTable table;
  std::string error;
  ASSERT_TRUE(LoadCharCodes(in, &table, &error)) << error;
  EXPECT_EQ(table.size(), 2u);
  EXPECT_EQ(table[U'五'], (Leveled{{"gghg", 4}, {"gg", 2}}));
  EXPECT_EQ(table[U'啊'], (Leveled{{"kbsk", 4}}));
  EXPECT_EQ(table.count(U'王'), 0u) << "a commented entry is not part of the table";
}

TEST(LoadCharCodes, ReadsABareListWithoutHeader) {
  std::istringstream in("五\tgghg\t1\n啊\tkbsk\t1\n");
  CharCodeTable table;
  ASSERT_TRUE(LoadCharCodes(in, &table, nullptr));
  EXPECT_EQ(table.size(), 2u);
}

TEST(LoadCharCodes, RefusesATableWithoutCharacters) {
  for (const char* text : {"", "---\nname: x\n...\n", "not a table\n", "五月\tggee\t1\n"}) {
    std::istringstream in(text);
    CharCodeTable table;
    std::string error;
    EXPECT_FALSE(LoadCharCodes(in, &table, &error)) << "table: " << text;
    EXPECT_FALSE(error.empty());
  }
}

TEST(Utf8, DecodesWellFormedTextAndRefusesMalformedBytes) {
  std::u32string cps;
  EXPECT_TRUE(DecodeUtf8("a五\xF0\xA0\x80\x80", &cps));
  EXPECT_EQ(cps, (std::u32string{U'a', U'五', U'\U00020000'}));
  for (const char* bad : {"\x80", "\xC0\xAF", "\xE4\xBA", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xFF"}) {
    EXPECT_FALSE(DecodeUtf8(bad, &cps)) << "bytes: " << ::testing::PrintToString(std::string(bad));
  }
  EXPECT_EQ(SingleCodePoint("五"), U'五');
  EXPECT_EQ(SingleCodePoint("五月"), 0u);
  EXPECT_EQ(SingleCodePoint(""), 0u);
}

TEST(WubiData, DataLinesSurviveFormattingAndParsing) {
  CharInfo info;
  info.cp = U'行';
  info.readings = {"xíng", "háng"};
  info.otherReadings = {"hèng"};
  info.definition = "go; walk";
  info.totalStrokes = 6;
  info.strokeOrder = "ppshhs";
  info.codes86 = {{"tfhh", 4}, {"tf", 2}};
  info.words = {{"进行", "fjtf"}, {"行为", "tfyl"}};
  const auto parsed = ParseCharLine(FormatCharLine(info));
  ASSERT_TRUE(parsed.has_value());
  EXPECT_EQ(parsed->cp, info.cp);
  EXPECT_EQ(parsed->readings, info.readings);
  EXPECT_EQ(parsed->otherReadings, info.otherReadings);
  EXPECT_EQ(parsed->definition, info.definition);
  EXPECT_EQ(parsed->totalStrokes, 6);
  EXPECT_EQ(parsed->strokeOrder, info.strokeOrder);
  EXPECT_EQ(parsed->codes86, info.codes86);
  EXPECT_EQ(parsed->words, info.words);
}

TEST(WubiData, RefusesFilesThatAreNotCharacterData) {
  std::string error;
  EXPECT_EQ(WubiData::FromText("五\t\t\t\t0\t\tgghg:4\t\n", &error), nullptr) << "no header line";
  EXPECT_EQ(WubiData::FromText(std::string(kWubiDataHeader) + "\n", &error), nullptr) << "no lines";
  EXPECT_EQ(WubiData::Load("/nonexistent/wubi_data.tsv", &error), nullptr);
  EXPECT_NE(error.find("/nonexistent/wubi_data.tsv"), std::string::npos);

  auto data = WubiData::FromText(std::string(kWubiDataHeader) +
                                     "\n五\twǔ\t\tfive\t4\thszh\tgghg:4\t\nbad line\n",
                                 &error);
  ASSERT_NE(data, nullptr) << error;
  EXPECT_EQ(data->size(), 1u);
  EXPECT_TRUE(data->Find(U'五').has_value());
  EXPECT_FALSE(data->Find(U'啊').has_value());
}

}  // namespace
}  // namespace zivorna::server
