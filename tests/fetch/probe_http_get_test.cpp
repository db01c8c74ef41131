// HttpGetBytes and ProbeNetwork against a recording connection layer.
#include <gtest/gtest.h>

#include "tests/fetch/fake_layers.h"
#include "web/http_get.h"
#include "web/inet_fetch.h"
#include "web/probe.h"

namespace zivorna {
namespace {

using testing::FakeInternet;

ByteSet Bytes(std::string_view s) { return ByteSet(s.begin(), s.end()); }

TEST(HttpGetBytesTest, CallSequenceAndArguments) {
  struct Case {
    const char* name;
    Text url;
    Text hostPort;
    Text path;
    std::uint32_t flags;
  };
  const std::uint32_t base = platform::kFlagReload | platform::kFlagNoCacheWrite;
  const Case cases[] = {
      {"http", "http://Pics.Example:8080/wubis/\xCE\xE5.jpg", "pics.example:8080", "/wubis/\xCE\xE5.jpg", base},
      {"https default port", "HTTPS://pics.example/a?b=1", "pics.example:443", "/a?b=1",
       base | platform::kFlagSecure},
      {"root", "http://127.0.0.1", "127.0.0.1:80", "/", base},
  };
  for (const Case& c : cases) {
    FakeInternet net;
    net.body = Bytes("JPEG");
    EXPECT_EQ(HttpGetBytes(net, c.url), Bytes("JPEG")) << "case: " << c.name;
    const std::vector<std::string> expected = {
        "OpenInternet(type=1 proxy=null bypass=null flags=0)",
        "Connect(1 " + c.hostPort + " user=null password=null service=3 flags=0 context=0)",
        "OpenRequest(2 GET " + c.path + " HTTP/1.0 referrer=null context=0)",
        "SendRequest(3)",
        "ReadFile(3)",
        "Close(3)",
        "Close(2)",
        "Close(1)",
    };
    EXPECT_EQ(net.calls, expected) << "case: " << c.name;
    EXPECT_EQ(net.agent, "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)") << "case: " << c.name;
    EXPECT_EQ(net.requestFlags, c.flags) << "case: " << c.name;
    EXPECT_EQ(net.sentHeaders, "Accept: */*\r\n\r\n") << "case: " << c.name;
    EXPECT_TRUE(net.sentBody.empty()) << "case: " << c.name;
  }
}

TEST(HttpGetBytesTest, UrlsThatCannotBeRequestedMakeNoCall) {
  struct Case {
    const char* url;
    const char* reason;
  };
  const Case cases[] = {
      {"", "empty"},
      {"pics.example/a.jpg", "no scheme"},
      {"ftp://pics.example/a.jpg", "another scheme"},
      {"http:///a.jpg", "empty host"},
      {"http://pics.example:/a.jpg", "empty port"},
      {"http://pics.example:0/a.jpg", "port 0"},
      {"http://pics.example:65536/a.jpg", "port too large"},
      {"http://pics.example:8o/a.jpg", "port not a number"},
      {"http://pics.example?q=1", "query straight after the host"},
      {"http://user@pics.example/", "user information"},
  };
  for (const Case& c : cases) {
    FakeInternet net;
    EXPECT_TRUE(HttpGetBytes(net, c.url).empty()) << "case: " << c.reason;
    EXPECT_TRUE(net.calls.empty()) << "case: " << c.reason;
  }
}

TEST(HttpGetBytesTest, FailuresCloseWhatWasOpened) {
  struct Case {
    const char* name;
    bool failOpen, failConnect, failRequest, failSend;
    std::vector<std::string> closes;
  };
  const Case cases[] = {
      {"open", true, false, false, false, {}},
      {"connect", false, true, false, false, {"Close(1)"}},
      {"request", false, false, true, false, {"Close(2)", "Close(1)"}},
      {"send", false, false, false, true, {"Close(3)", "Close(2)", "Close(1)"}},
  };
  for (const Case& c : cases) {
    FakeInternet net;
    net.failOpen = c.failOpen;
    net.failConnect = c.failConnect;
    net.failRequest = c.failRequest;
    net.sendResult = !c.failSend;
    net.body = Bytes("must not be read");
    EXPECT_TRUE(HttpGetBytes(net, "http://pics.example/a.jpg").empty()) << "case: " << c.name;
    std::vector<std::string> closes;
    for (const std::string& call : net.calls) {
      if (call.starts_with("Close")) closes.push_back(call);
    }
    EXPECT_EQ(closes, c.closes) << "case: " << c.name;
  }
}

TEST(HttpGetBytesTest, ReadFailureKeepsTheBytesReadSoFar) {
  FakeInternet net;
  net.body = ByteSet(5000, 0xAB);
  net.failReadAfter = 3000;
  EXPECT_EQ(HttpGetBytes(net, "http://pics.example/a.jpg"), ByteSet(3000, 0xAB));
}

TEST(ProbeTest, DefaultsAndSetting) {
  EXPECT_EQ(ProbeUrl(), "http://www.baidu.com/");
  EXPECT_EQ(ProbeMarker(), Bytes("\xE7\x99\xBE\xE5\xBA\xA6\xE4\xB8\x80\xE4\xB8\x8B"));
  SetProbeUrl("http://127.0.0.1:9/");
  EXPECT_EQ(ProbeUrl(), "http://127.0.0.1:9/");
}

TEST(ProbeTest, MarkerInTheBody) {
  const std::string marker = "\xE7\x99\xBE\xE5\xBA\xA6\xE4\xB8\x80\xE4\xB8\x8B";
  struct Case {
    const char* name;
    std::string body;
    bool reachable;
  };
  const Case cases[] = {
      {"UTF-8 in visible text", "<html><input value=\"" + marker + "\"></html>", true},
      {"inside a script", "<script>var s='" + marker + "';</script>", true},
      {"across a read boundary", std::string(1020, 'x') + marker, true},
      {"only in GBK", "<html>\xB0\xD9\xB6\xC8\xD2\xBB\xCF\xC2</html>", false},
      {"cut short", marker.substr(0, 11), false},
      {"empty", "", false},
  };
  SetProbeUrl("http://127.0.0.1:9/");
  for (const Case& c : cases) {
    FakeInternet net;
    net.body = Bytes(c.body);
    EXPECT_EQ(ProbeNetwork(net), c.reachable) << "case: " << c.name;
  }
}

TEST(ProbeTest, PlainGetOfTheProbeUrlEveryTime) {
  SetProbeUrl("http://127.0.0.1:9/");
  FakeInternet net;
  net.body = Bytes("\xE7\x99\xBE\xE5\xBA\xA6\xE4\xB8\x80\xE4\xB8\x8B");
  EXPECT_TRUE(ProbeNetwork(net));
  EXPECT_EQ(net.agent, DefaultUserAgent);
  EXPECT_EQ(net.accessType, platform::kInternetOpenTypeDirect);
  EXPECT_EQ(net.requestFlags,
            platform::kFlagReload | platform::kFlagNeedFile | platform::kFlagIgnoreRedirectToHttps);
  EXPECT_EQ(net.verb, "GET");
  EXPECT_EQ(net.sentHeaders,
            "Referer: http://127.0.0.1:9/\r\nAccept: */*\r\nAccept-Language: zh-cn\r\n"
            "Content-Type: application/x-www-form-urlencoded");
  // A second probe asks again (the fake's body is used up, so it now fails).
  EXPECT_FALSE(ProbeNetwork(net));
  EXPECT_EQ(std::count(net.calls.begin(), net.calls.end(), "SendRequest(3)"), 2);
}

}  // namespace
}  // namespace zivorna
