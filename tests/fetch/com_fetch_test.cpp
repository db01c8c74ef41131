// ComFetch against a recording request-object layer: the member calls in
// order with their arguments, the optional parameters, the shared object,
// the response scan and the paths that end early.
#include "web/com_fetch.h"

#include <climits>

#include <gtest/gtest.h>

#include "tests/fetch/fake_layers.h"
#include "web/inet_fetch.h"

namespace zivorna {
namespace {

using testing::FakeRequestObject;
using testing::FakeRequestObjects;

const std::string kCreate = "Create(WinHttp.WinHttpRequest.5.1)";

std::vector<std::string> DefaultHeaderCalls(const Text& url) {
  return {"SetRequestHeader(Referer," + url + ")", "SetRequestHeader(Accept,*/*)",
          "SetRequestHeader(Accept-Language,zh-cn)",
          "SetRequestHeader(User-Agent," + Text(DefaultUserAgent) + ")",
          "SetRequestHeader(Content-Type,application/x-www-form-urlencoded)"};
}

// The calls between the two given ones (both excluded).
std::vector<std::string> Between(const std::vector<std::string>& log, const std::string& from,
                                 const std::string& to) {
  auto first = std::find_if(log.begin(), log.end(), [&](auto& s) { return s.starts_with(from); });
  auto last = std::find_if(first, log.end(), [&](auto& s) { return s.starts_with(to); });
  if (first == log.end()) return {"<" + from + " missing>"};
  return {first + 1, last};
}

TEST(ComFetchTest, DefaultRequestMakesTheFullCallSequence) {
  FakeRequestObjects objects;
  objects.prepare = [](FakeRequestObject& o) {
    o.responseBody = ByteSet{'o', 'k'};
    o.responseHeaders = u"HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n";
  };
  const Text url = "http://one.two/wubi/x.htm";
  Text headers, redirect;

  const ByteSet body = ComFetch(objects, url, {.extraHeaders = &headers, .redirectTo = &redirect});

  EXPECT_EQ(body, (ByteSet{'o', 'k'}));
  std::vector<std::string> expected = {"Begin", kCreate, "SetTimeouts(15000,15000,15000,15000)",
                                       "Open(GET," + url + ",false)"};
  for (const std::string& call : DefaultHeaderCalls(url)) expected.push_back(call);
  for (const char* call : {"Send(text:)", "ResponseBody", "GetAllResponseHeaders", "Release", "End"}) {
    expected.push_back(call);
  }
  // Certificate checks are never switched off: no option 4 (or any other).
  EXPECT_EQ(objects.log, expected);
  EXPECT_EQ(headers,
            "Referer: " + url + "\r\nAccept: */*\r\nAccept-Language: zh-cn\r\nUser-Agent: " +
                Text(DefaultUserAgent) + "\r\nContent-Type: application/x-www-form-urlencoded");
  EXPECT_EQ(redirect, "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n");
}

TEST(ComFetchTest, Timeouts) {
  struct Case {
    const char* name;
    int seconds;
    std::optional<std::string> call;
  };
  const Case cases[] = {
      {"-1 keeps the object's own", -1, std::nullopt},
      {"0", 0, "SetTimeouts(15000,15000,15000,15000)"},
      {"-7", -7, "SetTimeouts(15000,15000,15000,15000)"},
      {"30", 30, "SetTimeouts(30000,30000,30000,30000)"},
      // Too many seconds for 32-bit milliseconds: the longest time-out, not a
      // wrapped-around negative one.
      {"huge", INT_MAX, "SetTimeouts(2147483647,2147483647,2147483647,2147483647)"},
      {"just fits", 2147483, "SetTimeouts(2147483000,2147483000,2147483000,2147483000)"},
  };
  for (const Case& c : cases) {
    FakeRequestObjects objects;
    (void)ComFetch(objects, "http://one.two/", {.timeoutSeconds = c.seconds});
    const std::vector<std::string> got = Between(objects.log, "Create", "Open");
    const std::vector<std::string> want = c.call ? std::vector{*c.call} : std::vector<std::string>{};
    EXPECT_EQ(got, want) << "case: " << c.name;
  }
}

TEST(ComFetchTest, ProxyAndCredentials) {
  struct Case {
    const char* name;
    Text proxy, user;
    std::optional<int> flag;
    std::vector<std::string> beforeOpen, afterOpen;
  };
  const Case cases[] = {
      {"user without proxy", "", "u", std::nullopt, {}, {}},
      {"proxy without user", "127.0.0.1:3128", "", std::nullopt, {"SetProxy(2,127.0.0.1:3128)"}, {}},
      {"proxy and user, flag left out", "p:1", "u", std::nullopt, {"SetProxy(2,p:1)"},
       {"SetCredentials(u,pw,1)"}},
      {"proxy and user, flag 0 supplied", "p:1", "u", 0, {"SetProxy(2,p:1)"}, {"SetCredentials(u,pw,0)"}},
  };
  for (const Case& c : cases) {
    FakeRequestObjects objects;
    (void)ComFetch(objects, "http://one.two/",
                   {.proxy = c.proxy, .timeoutSeconds = -1, .proxyUser = c.user,
                    .proxyPassword = "pw", .proxyCredentialFlag = c.flag});
    EXPECT_EQ(Between(objects.log, "Create", "Open"), c.beforeOpen) << "case: " << c.name;
    EXPECT_EQ(Between(objects.log, "Open", "SetRequestHeader"), c.afterOpen) << "case: " << c.name;
  }
}

TEST(ComFetchTest, VerbRedirectOptionAndBody) {
  struct Case {
    const char* name;
    ComFetchArgs args;
    std::string open;
    std::vector<std::string> afterOpen;
    std::string send;
  };
  const Case cases[] = {
      {"POST of text", {.method = 1, .postText = "a=1", .timeoutSeconds = -1}, "Open(POST,u:/,false)", {},
       "Send(text:a=1)"},
      {"method 2 is GET", {.method = 2, .timeoutSeconds = -1}, "Open(GET,u:/,false)", {}, "Send(text:)"},
      {"bytes win over text",
       {.method = 1, .postText = "t", .postBytes = ByteSet{'b', 0, 'y'}, .timeoutSeconds = -1},
       "Open(POST,u:/,false)", {}, std::string("Send(bytes:b\0y)", 15)},
      {"no redirect", {.noRedirect = true, .timeoutSeconds = -1}, "Open(GET,u:/,false)",
       {"SetOption(6,0)"}, "Send(text:)"},
  };
  for (const Case& c : cases) {
    FakeRequestObjects objects;
    (void)ComFetch(objects, "u:/", c.args);
    ASSERT_GE(objects.log.size(), 3u) << "case: " << c.name;
    EXPECT_EQ(objects.log[2], c.open) << "case: " << c.name;
    EXPECT_EQ(Between(objects.log, "Open", "SetRequestHeader"), c.afterOpen) << "case: " << c.name;
    EXPECT_EQ(Between(objects.log, "SetRequestHeader(Content-Type", "ResponseBody"),
              std::vector{c.send})
        << "case: " << c.name;
  }
}

TEST(ComFetchTest, RequestHeaderCalls) {
  struct Case {
    const char* name;
    Text block, cookies;
    std::vector<std::string> calls;
  };
  const Case cases[] = {
      {"one line without CRLF", "X-Only: 1 : 2", "", {"SetRequestHeader(X-Only,1 : 2)"}},
      {"cookie first, empty lines skipped", "\r\nA: 1\r\n\r\nB:2\r\n", "s=1; t=2",
       {"SetRequestHeader(Cookie,s=1; t=2)", "SetRequestHeader(A,1)", "SetRequestHeader(B,2)"}},
      {"a line without colon gives empty name and value", "A: 1\r\nnonsense", "",
       {"SetRequestHeader(A,1)", "SetRequestHeader(,)"}},
      {"no User-Agent of its own in a caller's block", "Accept: x/y", "", {"SetRequestHeader(Accept,x/y)"}},
  };
  for (const Case& c : cases) {
    FakeRequestObjects objects;
    Text block = c.block, cookies = c.cookies;
    (void)ComFetch(objects, "http://one.two/",
                   {.cookies = &cookies, .extraHeaders = &block, .timeoutSeconds = -1});
    EXPECT_EQ(Between(objects.log, "Open", "Send"), c.calls) << "case: " << c.name;
    EXPECT_EQ(block, c.block) << "a caller's block is not changed; case: " << c.name;
  }
}

TEST(ComFetchTest, TextCrossesAsUtf16AndComesBackAsGbk) {
  FakeRequestObjects objects;
  std::u16string opened;
  objects.prepare = [&opened](FakeRequestObject& o) {
    o.onOpen = [&opened](const std::u16string& url) { opened = url; };
    o.responseHeaders = u"HTTP/1.1 302 Found\r\nLocation: /\u4E94.htm\r\nSet-Cookie: n=\u4E2D; p\r\n\r\n";
  };
  Text received, redirect, responseHeaders;
  (void)ComFetch(objects, "http://one.two/wubi/\xCE\xE5.htm",  // 五 in GBK
                 {.receivedCookies = &received, .redirectTo = &redirect,
                  .responseHeaders = &responseHeaders});
  EXPECT_EQ(opened, u"http://one.two/wubi/\u4E94.htm");
  EXPECT_EQ(objects.last.lock(), nullptr) << "an object made by the call is released by it";
  EXPECT_EQ(redirect, "/\xCE\xE5.htm");
  EXPECT_EQ(received, "n=\xD6\xD0");
  EXPECT_EQ(responseHeaders,
            "HTTP/1.1 302 Found\r\nLocation: /\xCE\xE5.htm\r\nSet-Cookie: n=\xD6\xD0; p\r\n\r\n");
}

TEST(ComFetchTest, ResponseScanAndAlwaysMerges) {
  FakeRequestObjects objects;
  objects.prepare = [](FakeRequestObject& o) {
    o.responseHeaders =
        u"Content-Type: text/html\r\nSet-Cookie: a=1; path=/\r\nSet-Cookie: b=2; HttpOnly\r\n\r\n";
  };
  Text received, redirect;
  (void)ComFetch(objects, "http://one.two/", {.receivedCookies = &received, .redirectTo = &redirect});
  EXPECT_EQ(received, "a=1;b=2");  // merged even with `cookies` left out
  EXPECT_EQ(redirect,
            "Content-Type: text/html\r\nSet-Cookie: a=1; path=/\r\nSet-Cookie: b=2; HttpOnly\r\n\r\n");

  FakeRequestObjects second;
  second.prepare = [](FakeRequestObject& o) {
    o.responseHeaders = u"HTTP/1.1 200 OK\r\nSet-Cookie: b=3; path=/\r\nSet-Cookie: a=deleted; x\r\n\r\n";
  };
  Text cookies = "a=1; b=2; c=3";
  redirect = "keep";
  (void)ComFetch(second, "http://one.two/", {.cookies = &cookies, .redirectTo = &redirect});
  EXPECT_EQ(cookies, "b=3; c=3");
  EXPECT_EQ(redirect, "keep");
}

// When no object can be made the call returns at once: nothing is written,
// and the successful Begin is still balanced.
TEST(ComFetchTest, CreationFailureWritesNothing) {
  for (bool begins : {true, false}) {
    FakeRequestObjects objects;
    objects.failCreate = true;
    objects.beginResult = begins;
    Text cookies = "c=1", received = "r", headers, redirect, responseHeaders = "old";
    const ByteSet body = ComFetch(objects, "http://one.two/",
                                  {.cookies = &cookies, .receivedCookies = &received,
                                   .extraHeaders = &headers, .redirectTo = &redirect,
                                   .responseHeaders = &responseHeaders});
    EXPECT_TRUE(body.empty());
    EXPECT_EQ(cookies, "c=1");
    EXPECT_EQ(received, "r");
    EXPECT_EQ(headers, "");
    EXPECT_EQ(redirect, "");
    EXPECT_EQ(responseHeaders, "old");
    const std::vector<std::string> want =
        begins ? std::vector<std::string>{"Begin", kCreate, "End"} : std::vector<std::string>{"Begin", kCreate};
    EXPECT_EQ(objects.log, want) << "begin succeeds: " << begins;
  }
}

TEST(ComFetchTest, SuppliedObjectIsSharedNotCreatedNorKept) {
  FakeRequestObjects objects;
  auto mine = std::make_shared<FakeRequestObject>(objects.log);
  mine->responseBody = ByteSet{'x'};
  std::shared_ptr<platform::RequestObject> handle = mine;
  for (int round = 0; round < 2; ++round) {
    const ByteSet body = ComFetch(objects, "http://one.two/", {.requestObject = handle});
    EXPECT_EQ(body, ByteSet{'x'});
  }
  EXPECT_EQ(mine.use_count(), 2) << "the call's own reference is dropped";
  for (const std::string& call : objects.log) {
    EXPECT_FALSE(call.starts_with("Create")) << call;
    EXPECT_NE(call, "Release") << "the caller's object outlives the call";
  }
  EXPECT_EQ(objects.log.back(), "End");
}

// A supplied request object that holds nothing: every member call fails, so
// the call ends like a failed send, but the text work still happens.
TEST(ComFetchTest, SuppliedEmptyObjectEndsLikeAFailedSend) {
  FakeRequestObjects objects;
  Text cookies = "a=1;b=2", received = "r", headers, redirect, responseHeaders = "old";
  const ByteSet body = ComFetch(objects, "",
                                {.cookies = &cookies, .receivedCookies = &received,
                                 .extraHeaders = &headers, .redirectTo = &redirect,
                                 .responseHeaders = &responseHeaders,
                                 .requestObject = std::shared_ptr<platform::RequestObject>()});
  EXPECT_TRUE(body.empty());
  EXPECT_EQ(objects.log, (std::vector<std::string>{"Begin", "End"}));
  EXPECT_EQ(headers, "Referer: \r\nAccept: */*\r\nAccept-Language: zh-cn\r\nUser-Agent: " +
                         Text(DefaultUserAgent) + "\r\nContent-Type: application/x-www-form-urlencoded");
  EXPECT_EQ(responseHeaders, "");
  EXPECT_EQ(received, "");
  EXPECT_EQ(redirect, "");
  EXPECT_EQ(cookies, "a=1; b=2");
}

TEST(ComFetchTest, FailedSendGivesEmptyResults) {
  FakeRequestObjects objects;
  objects.prepare = [](FakeRequestObject& o) {
    o.responseBody = std::nullopt;
    o.responseHeaders = std::nullopt;
  };
  Text received = "r", redirect = "keep", responseHeaders = "old";
  const ByteSet body = ComFetch(objects, "http://127.0.0.1:1/",
                                {.receivedCookies = &received, .redirectTo = &redirect,
                                 .responseHeaders = &responseHeaders});
  EXPECT_TRUE(body.empty());
  EXPECT_EQ(responseHeaders, "");
  EXPECT_EQ(received, "");
  EXPECT_EQ(redirect, "keep");
}

}  // namespace
}  // namespace zivorna
