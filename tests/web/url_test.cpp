#include "web/url.h"

#include <gtest/gtest.h>

#include <climits>
#include <optional>
#include <string>

namespace zivorna {
namespace {

// GBK bytes used below: 引号 ("#引号" stands for a double quote in markers),
// the full-width space, and a two-byte character whose second byte is an
// ASCII letter or sign.
constexpr const char* kQuote = "#\xD2\xFD\xBA\xC5";  // "#引号"
constexpr const char* kWideSpace = "\xA1\xA1";

struct BetweenCase {
  const char* name;
  std::string source;
  std::string front;
  std::string back;
  int start;
  bool ignoreCase;
  std::string expected;
};

TEST(TextBetweenTest, CutsBetweenMarkers) {
  const std::string q = kQuote;
  const BetweenCase cases[] = {
      {"simple", "a=1; b=2", "a=", ";", 0, false, "1"},
      {"result is not trimmed", "Set-Cookie: id=7; path=/", "Set-Cookie:", ";", 0, false, " id=7"},
      {"quote marker", "<a href=\"x.htm\">", "href=" + q, q, 0, false, "x.htm"},
      {"every quote marker replaced", "x=\"\"y\"", "=" + q + q, q, 0, false, "y"},
      {"start skips first front marker", "a=1;a=2;", "a=", ";", 4, false, "2"},
      {"start 1 searches from the first byte", "a=1;a=2;", "a=", ";", 1, false, "1"},
      {"start 0 searches from the first byte", "a=1;a=2;", "a=", ";", 0, false, "1"},
      {"negative start searches from the first byte", "a=1;a=2;", "a=", ";", -5, false, "1"},
      {"start beyond the end", "a=1;", "a=", ";", 99, false, ""},
      {"back marker searched after the front", ";a=1;", "a=", ";", 0, false, "1"},
      {"back marker right after front", "a=;", "a=", ";", 0, false, ""},
      {"front marker at the very end", "abc=", "=", ";", 0, false, ""},
      {"front marker missing", "abc;", "x", ";", 0, false, ""},
      {"back marker missing", "a=1", "a=", ";", 0, false, ""},
      {"empty front marker ignores start", "abc;d;", "", ";", 5, false, "abc"},
      {"empty front marker, start beyond the end", "abc;", "", ";", 9, false, ""},
      {"empty back marker", "a=1;", "a=", "", 0, false, ""},
      {"front marker case-sensitive", "X-A: 1;", "x-a:", ";", 0, false, ""},
      {"front marker ignoring case", "X-A: 1;", "x-a:", ";", 0, true, " 1"},
      {"back marker ignoring case", "k=vEND", "k=", "end", 0, true, "v"},
      // 0xB0 0x3D is one character: its "=" is no marker.
      {"no match on a second byte", "\xB0=x;=y;", "=", ";", 0, false, "y"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TextBetween(c.source, c.front, c.back, c.start, c.ignoreCase), c.expected)
        << "case: " << c.name;
  }
  // Left-out optional parameters: from the first byte, case-sensitive.
  EXPECT_EQ(TextBetween("A=1;a=2;", "a=", ";"), "2");
}

TEST(HeaderLineTest, SplitsAtFirstColonAndTrims) {
  const std::string w = kWideSpace;
  const struct {
    std::string line;
    std::string name;
    std::string value;
  } cases[] = {
      {"Content-Type:  text/html ", "Content-Type", "text/html"},
      {"Location: /next?a=1:2", "Location", "/next?a=1:2"},
      {"A: b: c", "A", "b: c"},
      {"HTTP/1.1 200 OK", "", ""},
      {"", "", ""},
      {":x", "", "x"},
      {"x:", "x", ""},
      {w + "Name" + w + ":" + w + "v" + w, "Name", "v"},
      {"\tName:\tv\r", "\tName", "\tv\r"},  // only spaces are trimmed
      {"\xB0:a: b", "\xB0:a", "b"},         // 0xB0 0x3A is one character
  };
  for (const auto& c : cases) {
    EXPECT_EQ(HeaderName(c.line), c.name) << "line: " << c.line;
    EXPECT_EQ(HeaderValue(c.line), c.value) << "line: " << c.line;
  }
}

struct HostCase {
  std::string url;
  bool mainDomainOnly;
  bool keepPort;
  std::optional<int> skipDots;
  std::string expected;
};

TEST(UrlHostTest, AuthorityReading) {
  const HostCase cases[] = {
      {"HTTP://One.Two.Three:8080/a/b?c=1", false, false, {}, "one.two.three"},
      {"HTTP://One.Two.Three:8080/a/b?c=1", false, true, {}, "one.two.three:8080"},
      {"HTTP://One.Two.Three:8080/a/b?c=1", true, false, {}, "two.three"},
      {"HTTP://One.Two.Three:8080/a/b?c=1", true, true, {}, "two.three:8080"},
      {"one.two/x", false, false, {}, "one.two"},
      {"https://Alpha.Beta/", false, false, {}, "alpha.beta"},
      {"https://alpha.beta", false, false, {}, "alpha.beta"},
      {"http://one.two?q=1", false, false, {}, "one.two?q=1"},
      {"http://10.0.0.1/", true, false, {}, "0.1"},
      {"http://alpha/", true, false, {}, "alpha"},
      {"one.two/?u=http://three/", false, false, {}, "three"},
      {"", false, false, {}, ""},
      {"http:///x", false, false, {}, ""},
      // ASCII letters only are lowered; 0xB0 0x41 is a two-byte character
      // whose second byte must stay 0x41 ("A").
      {"http://\xC4\xE3" "Ab.COM/", false, false, {}, "\xC4\xE3" "ab.com"},
      {"http://\xB0\x41X.cn/", false, false, {}, "\xB0\x41x.cn"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(UrlHost(c.url, c.mainDomainOnly, c.keepPort, c.skipDots), c.expected)
        << "url: " << c.url << " main: " << c.mainDomainOnly << " port: " << c.keepPort;
  }
}

TEST(UrlHostTest, LabelReading) {
  const std::string url = "http://a.b.c.d:81/x";
  const HostCase cases[] = {
      {url, false, false, 0, "c.d"},
      {url, false, false, 1, "b.c.d"},
      {url, true, false, 0, "d"},
      {url, true, false, 1, "c.d"},
      {url, false, true, 0, "c.d:81"},
      {url, false, false, 5, "a.b.c.d"},
      {url, false, false, INT_MAX, "a.b.c.d"},
      {url, false, false, -3, "c.d"},  // no skipping below 0
      {"a.b", false, false, 0, "a.b"},
      {"alpha", false, false, 0, "alpha"},
      {"alpha", true, false, 0, "alpha"},
      {"alpha", false, false, 2, "alpha"},
      {"alpha", true, true, 1, "alpha"},
      {"a.b.c.", false, false, 0, "b.c."},  // a dot in the last byte is not counted
      // Scheme texts are removed anywhere, not only at the start.
      {"https://w.x.Y/z", false, false, 0, "x.y"},
      {"a.http://b.c.d", false, false, 0, "c.d"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(UrlHost(c.url, c.mainDomainOnly, c.keepPort, c.skipDots), c.expected)
        << "url: " << c.url << " main: " << c.mainDomainOnly << " port: " << c.keepPort
        << " skipDots: " << *c.skipDots;
  }
}

TEST(UrlHostTest, LeftOutSkipDotsDiffersFromZero) {
  EXPECT_EQ(UrlHost("http://a.b.c.d/"), "a.b.c.d");
  EXPECT_EQ(UrlHost("http://a.b.c.d/", false, false, 0), "c.d");
}

TEST(UrlPortTest, ExplicitPortElseScheme) {
  const struct {
    const char* url;
    int port;
  } cases[] = {
      {"https://alpha.beta:8443/", 8443},
      {"http://alpha.beta/", 80},
      {"HTTPS://alpha.beta", 443},
      {"alpha.beta/x", 80},
      {"alpha.beta:81", 81},
      {"http://one.two:/", 0},  // empty port text reads 0
      {"", 80},
      {"https://a.b:x/", 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(UrlPort(c.url), c.port) << "url: " << c.url;
  }
}

TEST(UrlPathTest, PathAndQueryAfterHost) {
  const struct {
    const char* url;
    const char* path;
  } cases[] = {
      {"HTTP://One.Two.Three:8080/a/B?c=1", "/a/B?c=1"},
      {"http://one.two", "/"},
      {"one.two/x", "/x"},
      {"", "/"},
      {"http://one.two?q=1", "/"},
      {"http://a.b/x/a.b/y", "/x/a.b/y"},
      {"one.two/?u=http://three/", "/"},
      // Hosts that also stand inside the scheme: the path still starts at the
      // "/" behind the host, not at the scheme's "//".
      {"http://p/x", "/x"},
      {"HTTP://T/a", "/a"},
      {"https://s/x?y", "/x?y"},
      {"https://https/x", "/x"},
      {"http:///x", "/x"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(UrlPath(c.url), c.path) << "url: " << c.url;
  }
}

}  // namespace
}  // namespace zivorna
