// InetFetch against a recording connection layer: call sequences, arguments,
// flags, header completion, bodies, the response header scan and the early
// failure paths.
#include "web/inet_fetch.h"

#include <gtest/gtest.h>

#include "tests/fetch/fake_layers.h"

namespace zivorna {
namespace {

using platform::kFlagIgnoreRedirectToHttps;
using platform::kFlagNeedFile;
using platform::kFlagNoAutoRedirect;
using platform::kFlagNoCookies;
using platform::kFlagReload;
using platform::kFlagSecure;
using testing::FakeInternet;

const Text kDefaultBlockFor =
    "\r\nAccept: */*\r\nAccept-Language: zh-cn\r\nContent-Type: application/x-www-form-urlencoded";

ByteSet Bytes(std::string_view s) { return ByteSet(s.begin(), s.end()); }

TEST(InetFetchTest, PlainGetMakesTheFullCallSequence) {
  FakeInternet net;
  net.body = Bytes("hello");
  net.responseHeaders = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n";
  Text headers, responseHeaders;

  const ByteSet body = InetFetch(net, "http://One.Two:8080/a/B?c=1",
                                 {.extraHeaders = &headers, .responseHeaders = &responseHeaders});

  EXPECT_EQ(body, Bytes("hello"));
  const std::vector<std::string> expected = {
      "OpenInternet(type=1 proxy=null bypass=null flags=0)",
      "Connect(1 one.two:8080 user=null password=null service=3 flags=0 context=0)",
      "OpenRequest(2 GET /a/B?c=1 HTTP/1.1 referrer=null context=0)",
      "SendRequest(3)",
      "ReadFile(3)",
      "QueryInfo(3 level=22 index=null)",
      "Close(3)",
      "Close(2)",
      "Close(1)",
  };
  EXPECT_EQ(net.calls, expected);
  EXPECT_EQ(net.agent, DefaultUserAgent);
  EXPECT_EQ(net.requestFlags, kFlagReload | kFlagNeedFile | kFlagIgnoreRedirectToHttps);
  EXPECT_TRUE(net.sentBody.empty());
  EXPECT_EQ(net.sentHeaders, "Referer: http://One.Two:8080/a/B?c=1" + kDefaultBlockFor);
  EXPECT_EQ(headers, net.sentHeaders);  // the caller's block is completed in place
  EXPECT_EQ(responseHeaders, net.responseHeaders);
  EXPECT_EQ(net.queryBufferSize, 5000u);
  for (std::uint32_t n : net.readSizes) EXPECT_EQ(n, 1024u);
}

TEST(InetFetchTest, RequestFlagsAndPorts) {
  struct Case {
    const char* name;
    Text url;
    bool supplyCookies;
    bool noRedirect;
    std::uint32_t flags;
    int port;
  };
  const std::uint32_t base = kFlagReload | kFlagNeedFile;
  const Case cases[] = {
      {"plain http", "http://one.two/", false, false, base | kFlagIgnoreRedirectToHttps, 80},
      {"https", "https://one.two/", false, false, base | kFlagSecure, 443},
      {"https any case, own port", "HtTpS://one.two:8443/", false, false, base | kFlagSecure, 8443},
      {"cookies supplied", "http://one.two/", true, false,
       base | kFlagNoCookies | kFlagIgnoreRedirectToHttps, 80},
      {"no redirect", "http://one.two/", false, true,
       base | kFlagNoAutoRedirect | kFlagIgnoreRedirectToHttps, 80},
      {"all", "https://one.two/", true, true, base | kFlagNoCookies | kFlagNoAutoRedirect | kFlagSecure,
       443},
  };
  for (const Case& c : cases) {
    FakeInternet net;
    Text cookies;
    InetFetchArgs args{.cookies = c.supplyCookies ? &cookies : nullptr, .noRedirect = c.noRedirect};
    (void)InetFetch(net, c.url, args);
    EXPECT_EQ(net.requestFlags, c.flags) << "case: " << c.name;
    EXPECT_EQ(net.port, c.port) << "case: " << c.name;
  }
}

TEST(InetFetchTest, ProxyListOnlyWhenSupplied) {
  struct Case {
    const char* name;
    std::optional<Text> proxy;
    int accessType;
    std::optional<Text> list, bypass;
  };
  const Case cases[] = {
      {"left out", std::nullopt, 1, std::nullopt, std::nullopt},
      {"host and port", Text("10.0.0.9:3128"), 3, Text("http=10.0.0.9:3128"), Text()},
      {"supplied empty", Text(), 3, Text("http="), Text()},
  };
  for (const Case& c : cases) {
    FakeInternet net;
    (void)InetFetch(net, "http://one.two/", {.proxy = c.proxy});
    EXPECT_EQ(net.accessType, c.accessType) << "case: " << c.name;
    EXPECT_EQ(net.proxyList, c.list) << "case: " << c.name;
    EXPECT_EQ(net.proxyBypass, c.bypass) << "case: " << c.name;
  }
}

// A failure while opening a handle ends the call before any of the caller's
// variables is touched, and closes what was opened, newest first.
TEST(InetFetchTest, EarlyFailuresWriteNothingAndCloseWhatWasOpened) {
  struct Case {
    const char* name;
    bool failOpen, failConnect, failRequest;
    std::vector<std::string> closes;
  };
  const Case cases[] = {
      {"open", true, false, false, {}},
      {"connect", false, true, false, {"Close(1)"}},
      {"request", false, false, true, {"Close(2)", "Close(1)"}},
  };
  for (const Case& c : cases) {
    FakeInternet net;
    net.failOpen = c.failOpen;
    net.failConnect = c.failConnect;
    net.failRequest = c.failRequest;
    net.body = Bytes("never read");
    Text cookies = "c=1", received = "r", headers, redirect, responseHeaders = "old";
    ByteSet postBytes;
    const ByteSet body = InetFetch(
        net, "http://one.two/",
        {.method = 1, .postText = "p", .cookies = &cookies, .receivedCookies = &received,
         .extraHeaders = &headers, .redirectTo = &redirect, .postBytes = &postBytes,
         .responseHeaders = &responseHeaders});
    EXPECT_TRUE(body.empty()) << "case: " << c.name;
    EXPECT_EQ(cookies, "c=1") << "case: " << c.name;
    EXPECT_EQ(received, "r") << "case: " << c.name;
    EXPECT_EQ(headers, "") << "case: " << c.name;
    EXPECT_EQ(redirect, "") << "case: " << c.name;
    EXPECT_TRUE(postBytes.empty()) << "case: " << c.name;
    EXPECT_EQ(responseHeaders, "old") << "case: " << c.name;
    std::vector<std::string> closes;
    for (const std::string& call : net.calls) {
      if (call.starts_with("Close")) closes.push_back(call);
    }
    EXPECT_EQ(closes, c.closes) << "case: " << c.name;
    for (const std::string& call : net.calls) EXPECT_NE(call, "SendRequest(3)") << "case: " << c.name;
  }
}

TEST(InetFetchTest, HeaderBlockCompletion) {
  struct Case {
    const char* name;
    Text block;
    Text cookies;
    Text expected;
  };
  const Text url = "http://one.two/x";
  const Case cases[] = {
      {"empty", "", "",
       "Referer: http://one.two/x\r\nAccept: */*\r\nAccept-Language: zh-cn\r\n"
       "Content-Type: application/x-www-form-urlencoded"},
      {"caller line kept first", "X-A: 1", "",
       "X-A: 1\r\nReferer: http://one.two/x" + kDefaultBlockFor},
      {"names inside another value count", "X-A: Referer: Accept: Content-Type:", "",
       "X-A: Referer: Accept: Content-Type:\r\nAccept-Language: zh-cn"},
      {"Accept-Language does not stand for Accept", "Accept-Language: en", "",
       "Accept-Language: en\r\nReferer: http://one.two/x\r\nAccept: */*\r\n"
       "Content-Type: application/x-www-form-urlencoded"},
      {"other letter case gets the default beside it", "referer: r", "",
       "referer: r\r\nReferer: http://one.two/x" + kDefaultBlockFor},
      {"cookie line appended even beside the caller's", "Cookie: z=9", "a=1; b=2",
       "Cookie: z=9\r\nReferer: http://one.two/x" + kDefaultBlockFor + "\r\nCookie: a=1; b=2"},
  };
  for (const Case& c : cases) {
    FakeInternet net;
    Text block = c.block, cookies = c.cookies;
    (void)InetFetch(net, url, {.cookies = &cookies, .extraHeaders = &block});
    EXPECT_EQ(block, c.expected) << "case: " << c.name;
    EXPECT_EQ(net.sentHeaders, c.expected) << "case: " << c.name;
  }
}

TEST(InetFetchTest, AgentChoice) {
  struct Case {
    const char* name;
    Text block;
    Text agent;
  };
  const Case cases[] = {
      {"no User-Agent line", "Accept: a/b", Text(DefaultUserAgent)},
      {"line followed by CRLF", "X: 1\r\nUser-Agent:  Probe/1.0 \r\nAccept: a", "Probe/1.0"},
      {"the one line, any case", "user-agent: Solo/2", "Solo/2"},
      {"last of several lines", "Accept: a\r\nUser-Agent: Tail/3", "Tail/3"},
      {"other case among several lines", "Accept: a\r\nUSER-AGENT: Loud/4\r\n", "Loud/4"},
      {"empty value among several lines", "Accept: a\r\nUser-Agent:\r\nX: y", Text(DefaultUserAgent)},
  };
  for (const Case& c : cases) {
    FakeInternet net;
    Text block = c.block;
    (void)InetFetch(net, "http://one.two/", {.extraHeaders = &block});
    EXPECT_EQ(net.agent, c.agent) << "case: " << c.name;
    EXPECT_NE(net.sentHeaders.find(c.block), std::string::npos)
        << "the caller's lines stay in the block; case: " << c.name;
  }
}

TEST(InetFetchTest, VerbsAndBodies) {
  struct Case {
    const char* name;
    int method;
    Text postText;
    ByteSet postBytes;
    Text verb;
    ByteSet sent;
    ByteSet postBytesAfter;
  };
  const Case cases[] = {
      {"GET sends no body", 0, "ignored", {}, "GET", {}, {}},
      {"POST of the text fills postBytes", 1, "a=1&b=\xD6\xD0", {}, "POST", Bytes("a=1&b=\xD6\xD0"),
       Bytes("a=1&b=\xD6\xD0")},
      {"bytes win over text", 1, "text", Bytes(std::string("b\0y", 3)), "POST",
       Bytes(std::string("b\0y", 3)), Bytes(std::string("b\0y", 3))},
      {"method 2 is a GET with a body", 2, "q", {}, "GET", Bytes("q"), Bytes("q")},
      {"POST with nothing sends 0 bytes", 1, "", {}, "POST", {}, {}},
  };
  for (const Case& c : cases) {
    FakeInternet net;
    net.sentBody = Bytes("unset");
    ByteSet postBytes = c.postBytes;
    (void)InetFetch(net, "http://one.two/", {.method = c.method, .postText = c.postText,
                                             .postBytes = &postBytes});
    EXPECT_EQ(net.verb, c.verb) << "case: " << c.name;
    EXPECT_EQ(net.sentBody, c.sent) << "case: " << c.name;
    EXPECT_EQ(postBytes, c.postBytesAfter) << "case: " << c.name;
  }
}

TEST(InetFetchTest, BodyIsReadWholeAcrossShortAndFullReads) {
  ByteSet big(70'000);
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
  for (std::uint32_t perRead : {1024u, 1000u, 1u << 20}) {
    FakeInternet net;
    net.body = big;
    net.maxPerRead = perRead;
    EXPECT_EQ(InetFetch(net, "http://one.two/"), big) << "per read: " << perRead;
  }
}

TEST(InetFetchTest, ResponseHeaderScan) {
  struct Case {
    const char* name;
    Text block;
    Text redirectIn;
    Text redirectOut;     // "=block": the whole response header block
    Text received;        // as reported with `cookies` left out (spaces kept)
  };
  const Case cases[] = {
      {"cookies and no location", "HTTP/1.1 200 OK\r\nSet-Cookie: a=1; path=/\r\nSet-Cookie: b=2; HttpOnly\r\n\r\n",
       "", "=block", "a=1; b=2"},
      {"location", "HTTP/1.1 302 Found\r\nLocation:  /next?a=1:2 \r\n\r\n", "", "/next?a=1:2", ""},
      {"later location wins, Content-Location counts",
       "HTTP/1.1 302 Found\r\nLocation: /first\r\nContent-Location: /second\r\n\r\n", "keep", "/second", ""},
      {"caller's target kept without a location", "HTTP/1.1 200 OK\r\n\r\n", "keep", "keep", ""},
      {"markers in other letter case are not seen",
       "HTTP/1.1 200 OK\r\nlocation: /x\r\nset-cookie: a=1;\r\n\r\n", "", "=block", ""},
      {"cookie without ';' alone", "HTTP/1.1 200 OK\r\nSet-Cookie: a=1\r\n\r\n", "", "=block", ""},
      {"cookie without ';' between two others",
       "HTTP/1.1 200 OK\r\nSet-Cookie: x=1; p\r\nSet-Cookie: a=1\r\nSet-Cookie: y=2;\r\n\r\n", "",
       "=block", "x=1; ; y=2"},
  };
  for (const Case& c : cases) {
    FakeInternet net;
    net.responseHeaders = c.block;
    Text redirect = c.redirectIn, received = "stale";
    (void)InetFetch(net, "http://one.two/", {.receivedCookies = &received, .redirectTo = &redirect});
    EXPECT_EQ(redirect, c.redirectOut == "=block" ? c.block : c.redirectOut) << "case: " << c.name;
    EXPECT_EQ(received, c.received) << "case: " << c.name;
  }
}

// The header buffer holds 5,000 bytes with the terminating zero: a block of
// 4,999 bytes arrives whole, one byte more and nothing arrives.
TEST(InetFetchTest, HeaderBlockLimit) {
  const Text head = "HTTP/1.1 200 OK\r\nSet-Cookie: a=1; p\r\nX-Pad: ";
  for (std::size_t total : {4999u, 5000u}) {
    FakeInternet net;
    net.responseHeaders = head + Text(total - head.size() - 4, 'p') + "\r\n\r\n";
    ASSERT_EQ(net.responseHeaders.size(), total);
    Text responseHeaders = "old", received, redirect;
    (void)InetFetch(net, "http://one.two/", {.receivedCookies = &received, .redirectTo = &redirect,
                                             .responseHeaders = &responseHeaders});
    const bool fits = total < 5000;
    EXPECT_EQ(responseHeaders, fits ? net.responseHeaders : "") << total;
    EXPECT_EQ(received, fits ? "a=1" : "") << total;
    EXPECT_EQ(redirect, responseHeaders) << total;
  }
}

TEST(InetFetchTest, CookieMergeOnlyWhenSupplied) {
  FakeInternet net;
  net.responseHeaders = "HTTP/1.1 200 OK\r\nSet-Cookie: b=3; path=/\r\nSet-Cookie: c=4;\r\n\r\n";
  Text cookies = "a=1; b=2", received;
  (void)InetFetch(net, "http://one.two/", {.cookies = &cookies, .receivedCookies = &received});
  EXPECT_EQ(net.sentHeaders.substr(net.sentHeaders.rfind("\r\n") + 2), "Cookie: a=1; b=2");
  EXPECT_EQ(cookies, "b=3; c=4; a=1");
  EXPECT_EQ(received, "b=3;c=4");  // the merge removes the spaces of the caller's variable

  // Supplied empty: no Cookie line, the received ones become the jar.
  FakeInternet second;
  second.responseHeaders = "HTTP/1.1 200 OK\r\nSet-Cookie: id=7; HttpOnly\r\n\r\n";
  Text jar;
  (void)InetFetch(second, "http://one.two/", {.cookies = &jar});
  EXPECT_EQ(second.sentHeaders.find("Cookie:"), std::string::npos);
  EXPECT_EQ(jar, "id=7");
}

// A request that fails after the handles are open (nothing sent, nothing
// read, no header block) still completes the block and passes the cookie
// string through the merge.
TEST(InetFetchTest, FailedSendGivesEmptyResults) {
  FakeInternet net;
  net.sendResult = false;
  net.failQuery = true;
  Text cookies = "a=1;b=2", received = "stale", headers, redirect = "keep", responseHeaders = "old";
  const ByteSet body = InetFetch(net, "http://one.two/",
                                 {.cookies = &cookies, .receivedCookies = &received,
                                  .extraHeaders = &headers, .redirectTo = &redirect,
                                  .responseHeaders = &responseHeaders});
  EXPECT_TRUE(body.empty());
  EXPECT_EQ(headers, "Referer: http://one.two/" + kDefaultBlockFor + "\r\nCookie: a=1;b=2");
  EXPECT_EQ(responseHeaders, "");
  EXPECT_EQ(received, "");
  EXPECT_EQ(redirect, "keep");
  EXPECT_EQ(cookies, "a=1; b=2");
  EXPECT_EQ(net.calls.back(), "Close(1)");
}

}  // namespace
}  // namespace zivorna
