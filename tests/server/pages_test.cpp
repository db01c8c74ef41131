// Character pages built from the generated data: the program's own field
// extraction finds exactly six fields holding the expected data, and the page
// is GBK throughout.
#include "server/pages.h"

#include <gtest/gtest.h>

#include "tests/server/server_test_util.h"

namespace zivorna::server {
namespace {

using testing::BuiltData;
using testing::CharCount;
using testing::FieldsAsUtf8;

std::string PageOf(char32_t cp, const CharCodeTable* table98 = nullptr) {
  const std::optional<CharInfo> info = BuiltData().Find(cp);
  if (!info) return {};
  return BuildCharacterPage(cp, BuildFields(*info, table98));
}

TEST(CharacterPage, CarriesSixFieldsWithTheCharactersData) {
  struct Case {
    const char* name;
    char32_t cp;
    std::string pinyin;        // field 1 starts with
    std::string strokeOrder;   // field 3 starts with
    std::string code86;        // field 4 starts with
    std::string explanation;   // field 6 contains
  };
  const std::vector<Case> cases = {
      {"五, level-2 simple code", U'五', "wǔ", "横竖折横", "gghg 简gg/ggh", "five"},
      {"啊, several tones", U'啊', "a ā á ǎ à", "竖折横折", "kbsk 简kb/kbs", "《汉语大字典》另收：è"},
      {"丂, in GBK but not in GB2312", U'丂', "kǎo", "横折", "gnv", "gnv（全码）"},
      {"行, more readings than the label holds", U'行', "xíng háng", "撇撇竖横横竖", "tfhh 简tf",
       "读音：xíng、háng、hàng、xìng、héng"},
  };
  for (const Case& c : cases) {
    const std::string page = PageOf(c.cp);
    ASSERT_FALSE(page.empty()) << "case: " << c.name;
    EXPECT_TRUE(platform::IsValidGbk(page)) << "case: " << c.name;
    const std::vector<std::string> f = FieldsAsUtf8(page);
    ASSERT_EQ(f.size(), 6u) << "case: " << c.name;
    EXPECT_EQ(f[0].rfind(c.pinyin, 0), 0u) << "case: " << c.name << " field 1: " << f[0];
    EXPECT_EQ(f[1].rfind("键位", 0), 0u) << "case: " << c.name << " field 2: " << f[1];
    EXPECT_EQ(f[2].rfind(c.strokeOrder, 0), 0u) << "case: " << c.name << " field 3: " << f[2];
    EXPECT_EQ(f[3].rfind(c.code86, 0), 0u) << "case: " << c.name << " field 4: " << f[3];
    EXPECT_EQ(f[4], "未安装98版码表") << "case: " << c.name;
    EXPECT_NE(f[5].find(c.explanation), std::string::npos) << "case: " << c.name << " field 6: " << f[5];
  }
}

TEST(CharacterPage, LabelFieldsStayShortAndTheExplanationKeepsEverything) {
  // 行 has five readings; 龘 has 48 strokes.
  for (char32_t cp : {U'行', U'龘', U'欸'}) {
    const std::vector<std::string> f = FieldsAsUtf8(PageOf(cp));
    ASSERT_EQ(f.size(), 6u);
    for (size_t i = 0; i < 5; ++i) {
      EXPECT_LE(LabelWidth(f[i]), kLabelFieldMaxWidth)
          << "field " << i + 1 << ": " << f[i];
    }
  }
  const std::vector<std::string> f = FieldsAsUtf8(PageOf(U'龘'));
  EXPECT_EQ(f[2].substr(f[2].size() - 3), "…") << "a cut stroke order is marked as cut";
  EXPECT_NE(f[5].find("48画"), std::string::npos);
  EXPECT_NE(f[5].find(StrokeNames(BuiltData().Find(U'龘')->strokeOrder)), std::string::npos)
      << "the whole stroke order is in the explanation";
}

TEST(CharacterPage, KeysFieldNamesEveryKeyOfTheFullCode) {
  const std::vector<std::string> f = FieldsAsUtf8(PageOf(U'五'));
  ASSERT_EQ(f.size(), 6u);
  EXPECT_EQ(f[1], "键位g王g王h目g王");
}

TEST(CharacterPage, TextThatLooksLikeMarkersCannotAddOrEndFields) {
  CharInfo info;
  info.cp = U'五';
  info.readings = {"<bR>"};
  info.definition = "a：</span>b<bR>c & \"d\"";
  info.codes86 = {{"gghg", 4}};
  info.words = {{"五<bR>", "gg<b"}};
  const std::string page = BuildCharacterPage(info.cp, BuildFields(info, nullptr));
  const std::vector<std::string> f = FieldsAsUtf8(page);
  ASSERT_EQ(f.size(), 6u);
  EXPECT_EQ(f[0], "&lt;bR&gt;");
  EXPECT_NE(f[5].find("a：&lt;/span&gt;b&lt;bR&gt;c &amp; &quot;d&quot;"), std::string::npos) << f[5];
}

TEST(CharacterPage, CharactersWithoutAGbkFormBecomeCharacterReferences) {
  // 呣 is read ḿ and m̀, neither of which GBK can write: the label's field
  // gives them with tone numbers, the explanation as character references.
  const std::string page = PageOf(U'呣');
  EXPECT_TRUE(platform::IsValidGbk(page));
  const std::vector<std::string> f = FieldsAsUtf8(page);
  ASSERT_EQ(f.size(), 6u);
  EXPECT_EQ(f[0], "m2 m4");
  EXPECT_NE(f[5].find("读音：&#x1E3F;、m&#x300;"), std::string::npos) << f[5];
  const std::vector<std::string> ng = FieldsAsUtf8(PageOf(U'嗯'));
  ASSERT_EQ(ng.size(), 6u);
  EXPECT_EQ(ng[0], "ń ň n4 ńg ňg…");

  EXPECT_EQ(EncodeGbkWithReferences("a五"), "a\xCE\xE5");
  EXPECT_EQ(EncodeGbkWithReferences("五\xF0\xA0\x80\x80"), "\xCE\xE5&#x20000;");
  EXPECT_EQ(EncodeGbkWithReferences("x\xFFy"), "x&#xFFFD;y") << "a stray byte";
  const std::string euro = EncodeGbkWithReferences("€");
  EXPECT_TRUE(platform::IsValidGbk(euro)) << "the euro sign must not become the lone byte 0x80";
}

TEST(CharacterPage, Wubi98FieldComesFromTheInstalledTable) {
  CharCodeTable table98;
  table98[U'五'] = {{"gghg", 4}, {"gg", 2}};
  table98[U'啊'] = {{"kbsk", 4}};
  {
    const std::vector<std::string> f = FieldsAsUtf8(PageOf(U'五', &table98));
    ASSERT_EQ(f.size(), 6u);
    EXPECT_EQ(f[4], "gghg 简gg");
    EXPECT_NE(f[5].find("98版编码：gghg（全码）、gg（二级简码）"), std::string::npos) << f[5];
  }
  {
    const std::vector<std::string> f = FieldsAsUtf8(PageOf(U'行', &table98));
    ASSERT_EQ(f.size(), 6u);
    EXPECT_EQ(f[4], "98版码表未收此字");
  }
}

TEST(FixedPages, ProbeCarriesTheMarkerAndErrorPagesAreGbk) {
  EXPECT_NE(BuildProbePage().find("\xE7\x99\xBE\xE5\xBA\xA6\xE4\xB8\x80\xE4\xB8\x8B"),
            std::string::npos);
  for (const std::string& page : {BuildNotFoundPage(), BuildMethodNotAllowedPage()}) {
    EXPECT_TRUE(platform::IsValidGbk(page));
    EXPECT_TRUE(ExtractFields(page).empty()) << "an error page must not look like a character page";
  }
}

}  // namespace
}  // namespace zivorna::server
