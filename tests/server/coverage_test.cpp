// Every GB2312 character has a page with six fields, and its Wubi 86 full
// code on the page is the one the dictionary itself gives.
#include <fstream>
#include <unordered_map>

#include <gtest/gtest.h>

#include "server/pages.h"
#include "server/wubi_tables.h"
#include "tests/server/server_test_util.h"

namespace zivorna::server {
namespace {

using testing::BuiltData;
using testing::CharCount;
using testing::FieldsAsUtf8;

// The dictionary read independently of the server's code: for each single
// character, its longest code (z codes excluded).
std::unordered_map<std::string, std::string> LongestCodes(const std::string& path) {
  std::unordered_map<std::string, std::string> longest;
  std::ifstream in(path);
  std::string line;
  bool body = false;
  while (std::getline(in, line)) {
    if (!body) {
      body = line == "...";
      continue;
    }
    if (line.empty() || line[0] == '#') continue;
    const size_t t1 = line.find('\t');
    if (t1 == std::string::npos) continue;
    const size_t t2 = line.find('\t', t1 + 1);
    const std::string text = line.substr(0, t1);
    const std::string code = line.substr(t1 + 1, t2 == std::string::npos ? std::string::npos : t2 - t1 - 1);
    if (CharCount(text) != 1 || code.empty() || code[0] == 'z') continue;
    std::string& best = longest[text];
    if (code.size() > best.size()) best = code;
  }
  return longest;
}

TEST(Coverage, EveryGb2312CharacterHasAPageWithItsDictionaryFullCode) {
  const auto dictionary = LongestCodes(ZV_RIME_WUBI86);
  ASSERT_FALSE(dictionary.empty());
  int characters = 0;
  for (int lead = 0xB0; lead <= 0xF7; ++lead) {
    for (int trail = 0xA1; trail <= 0xFE; ++trail) {
      if (lead == 0xD7 && trail >= 0xFA) continue;  // unassigned in GB2312
      ++characters;
      const std::string gbk{static_cast<char>(lead), static_cast<char>(trail)};
      const std::u16string u16 = platform::GbkToUtf16(gbk);
      ASSERT_EQ(u16.size(), 1u);
      const std::string utf8 = platform::GbkToUtf8(gbk);
      const std::optional<CharInfo> info = BuiltData().Find(u16[0]);
      ASSERT_TRUE(info.has_value()) << "no data for " << utf8;
      const std::string page = BuildCharacterPage(info->cp, BuildFields(*info, nullptr));
      ASSERT_TRUE(platform::IsValidGbk(page)) << utf8;
      const std::vector<std::string> f = FieldsAsUtf8(page);
      ASSERT_EQ(f.size(), 6u) << utf8;
      const auto expected = dictionary.find(utf8);
      ASSERT_NE(expected, dictionary.end()) << utf8;
      EXPECT_EQ(f[3].substr(0, f[3].find(' ')), expected->second) << utf8;
      for (size_t i = 0; i < 5; ++i) {
        EXPECT_FALSE(f[i].empty()) << utf8 << " field " << i + 1;
        EXPECT_LE(LabelWidth(f[i]), kLabelFieldMaxWidth)
            << utf8 << " field " << i + 1 << ": " << f[i];
      }
    }
  }
  EXPECT_EQ(characters, 6763);
}

}  // namespace
}  // namespace zivorna::server
