// The byte and text helpers under both HTTP layers.
#include "platform/http_text.h"

#include <gtest/gtest.h>

namespace zivorna::platform::internal {
namespace {

TEST(PercentEncodeUnsafe, EncodesHighBytesSpacesAndControlsOnly) {
  const std::pair<std::string, std::string> cases[] = {
      {"/wubi/\xCE\xE5.htm", "/wubi/%CE%E5.htm"},
      {"/a b\t\x7F", "/a%20b%09%7F"},
      {"/ok%20?x=1&y=~", "/ok%20?x=1&y=~"},  // "%" and reserved characters pass
      {"", ""},
  };
  for (const auto& [in, want] : cases) EXPECT_EQ(PercentEncodeUnsafe(in), want) << in;
}

TEST(Utf16ToUtf8, EncodesEveryPlaneAndReplacesLoneSurrogates) {
  EXPECT_EQ(Utf16ToUtf8(u"a\u00e9\u4e94"), "a\xC3\xA9\xE4\xBA\x94");
  EXPECT_EQ(Utf16ToUtf8(u"\U0001F600"), "\xF0\x9F\x98\x80");
  EXPECT_EQ(Utf16ToUtf8(std::u16string{u'x', char16_t(0xD800), u'y'}), "x\xEF\xBF\xBDy");
  EXPECT_EQ(Utf16ToUtf8(std::u16string{char16_t(0xDC00)}), "\xEF\xBF\xBD");
}

TEST(Utf8OrLatin1ToUtf16, DecodesValidUtf8ElseEveryByteAsLatin1) {
  const std::pair<std::string, std::u16string> cases[] = {
      {"\xE4\xBA\x94 \xF0\x9F\x98\x80", u"\u4e94 \U0001F600"},
      {"caf\xE9", u"caf\u00e9"},              // not UTF-8
      {"\xC0\xAF", u"\u00c0\u00af"},          // overlong form
      {"\xED\xA0\x80", u"\u00ed\u00a0\u0080"},  // encoded surrogate
      {"\xE4\xBA", u"\u00e4\u00ba"},          // cut short
      {"", u""},
  };
  for (const auto& [in, want] : cases) EXPECT_EQ(Utf8OrLatin1ToUtf16(in), want) << in;
}

TEST(SplitHeaderBlock, KeepsWellFormedLinesOnly) {
  const auto lines = SplitHeaderBlock(
      "Accept: */*\r\n\r\nX-Trim :  v w  \r\n: no name\r\nno colon\r\nBad Name: x\nX-Empty:\rX-Last:1");
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0].name, "Accept");
  EXPECT_EQ(lines[0].value, "*/*");
  EXPECT_EQ(lines[1].name, "X-Trim");
  EXPECT_EQ(lines[1].value, "v w");
  EXPECT_EQ(lines[2].name, "X-Empty");
  EXPECT_EQ(lines[2].value, "");
  EXPECT_EQ(lines[3].name, "X-Last");
  EXPECT_EQ(lines[3].value, "1");
}

TEST(ParseProxyList, SchemeEntriesAndPlainServers) {
  struct Case {
    std::string list;
    ProxyRoute http;
    ProxyRoute https;
  };
  const Case cases[] = {
      {"http=10.0.0.9:3128", {true, "10.0.0.9:3128"}, {false, ""}},
      {"http=", {true, ""}, {false, ""}},
      {"proxy:8080", {true, "proxy:8080"}, {true, "proxy:8080"}},
      {"https=s:1;http=http://h:2/", {true, "h:2"}, {true, "s:1"}},
      {"ftp=f:21", {false, ""}, {false, ""}},
      {"", {false, ""}, {false, ""}},
  };
  for (const Case& c : cases) {
    const ProxyRules rules = ParseProxyList(c.list);
    EXPECT_EQ(rules.http.set, c.http.set) << c.list;
    EXPECT_EQ(rules.http.server, c.http.server) << c.list;
    EXPECT_EQ(rules.https.set, c.https.set) << c.list;
    EXPECT_EQ(rules.https.server, c.https.server) << c.list;
  }
}

TEST(HostBypassesProxy, ExactSuffixAndLocalEntries) {
  EXPECT_FALSE(HostBypassesProxy("127.0.0.1", ""));
  EXPECT_TRUE(HostBypassesProxy("Intranet", "<local>"));
  EXPECT_FALSE(HostBypassesProxy("a.example", "<local>"));
  EXPECT_TRUE(HostBypassesProxy("www.Example.org", "x; *.example.org"));
  EXPECT_TRUE(HostBypassesProxy("127.0.0.1", "localhost,127.0.0.1"));
}

}  // namespace
}  // namespace zivorna::platform::internal
