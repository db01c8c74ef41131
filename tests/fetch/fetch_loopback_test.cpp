// The request routines, the picture fetch and the probe over the real HTTP
// layers, against servers on 127.0.0.1 started by each test: what the server
// receives, what comes back, and how failures of the peer end.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/http_settings.h"
#include "tests/support/http_test_server.h"
#include "tests/support/raw_test_server.h"
#include "tests/support/test_certificates.h"
#include "tests/support/tinyproxy.h"
#include "web/com_fetch.h"
#include "web/http_get.h"
#include "web/inet_fetch.h"
#include "web/probe.h"

namespace zivorna {
namespace {

using testing::AddRedirectPair;
using testing::ClosedPort;
using testing::HttpTestServer;
using testing::RawTestServer;

ByteSet Bytes(std::string_view s) { return ByteSet(s.begin(), s.end()); }
std::string Str(const ByteSet& b) { return std::string(b.begin(), b.end()); }

const std::string kMarkerUtf8 = "\xE7\x99\xBE\xE5\xBA\xA6\xE4\xB8\x80\xE4\xB8\x8B";

// A large body with a pattern that shows dropped, repeated or reordered bytes.
const std::string& LargeBody() {
  static const std::string body = [] {
    std::string s(64u << 20, '\0');
    for (std::size_t i = 0; i < s.size(); ++i) s[i] = static_cast<char>((i * 2654435761u) >> 13);
    return s;
  }();
  return body;
}

void ServeLarge(const httplib::Request&, httplib::Response& res) {
  const std::string& body = LargeBody();
  res.set_content_provider(body.size(), "application/octet-stream",
                           [&body](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                             return sink.write(body.data() + offset, std::min<std::size_t>(length, 1u << 18));
                           });
}

class FetchLoopbackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.ok());
    server_.Any("/echo", [](const httplib::Request& req, httplib::Response& res) {
      res.set_content(req.method + " " + req.body, "text/plain");
    });
    AddRedirectPair(server_);
    server_.Get("/missing", [](const httplib::Request&, httplib::Response& res) {
      res.status = 404;
      res.set_content("missing page", "text/html");
    });
    server_.Get("/large", ServeLarge);
  }
  void TearDown() override { platform::ResetInternetTimeoutsForTesting(); }

  HttpTestServer server_;
};

// --- InetFetch ---

TEST_F(FetchLoopbackTest, InetFetchBodiesAsReceived) {
  struct Case {
    const char* name;
    int method;
    Text postText;
    ByteSet postBytes;
    std::string verb, body;
  };
  const Case cases[] = {
      {"GET", 0, "ignored", {}, "GET", ""},
      {"POST of text", 1, "a=1&b=\xD6\xD0", {}, "POST", "a=1&b=\xD6\xD0"},
      {"POST of bytes with zeros", 1, "text", Bytes(std::string("x\0y\xFF", 4)), "POST",
       std::string("x\0y\xFF", 4)},
      {"empty POST", 1, "", {}, "POST", ""},
  };
  for (const Case& c : cases) {
    ByteSet postBytes = c.postBytes;
    const ByteSet body = InetFetch(server_.Url("/echo"), {.method = c.method, .postText = c.postText,
                                                          .postBytes = &postBytes});
    EXPECT_EQ(Str(body), c.verb + " " + c.body) << "case: " << c.name;
    const auto request = server_.LastRequest();
    EXPECT_EQ(request.method, c.verb) << "case: " << c.name;
    EXPECT_EQ(request.body, c.body) << "case: " << c.name;
    EXPECT_EQ(request.Header("User-Agent"), DefaultUserAgent) << "case: " << c.name;
    EXPECT_EQ(request.Header("Referer"), server_.Url("/echo")) << "case: " << c.name;
    EXPECT_EQ(request.Header("Accept-Language"), "zh-cn") << "case: " << c.name;
    EXPECT_EQ(request.Header("Content-Type"), "application/x-www-form-urlencoded") << "case: " << c.name;
  }
}

// Method 2 is a GET that carries a body; a raw server shows the bytes on the
// wire.
TEST(FetchRawTest, InetFetchMethodTwoSendsAGetWithBody) {
  RawTestServer raw(RawTestServer::Reply("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"));
  ASSERT_TRUE(raw.ok());
  EXPECT_EQ(Str(InetFetch(raw.Url("/q"), {.method = 2, .postText = "k=v"})), "ok");
  const std::vector<std::string> requests = raw.Requests();
  ASSERT_EQ(requests.size(), 1u);
  const std::string& request = requests[0];
  EXPECT_TRUE(request.starts_with("GET /q HTTP/1.1\r\n")) << request;
  EXPECT_TRUE(request.ends_with("\r\n\r\nk=v")) << request;
}

TEST_F(FetchLoopbackTest, InetFetchRedirectsFollowedOrReported) {
  Text redirect, responseHeaders;
  EXPECT_EQ(Str(InetFetch(server_.Url("/from"),
                          {.redirectTo = &redirect, .responseHeaders = &responseHeaders})),
            "arrived");
  EXPECT_TRUE(responseHeaders.starts_with("HTTP/1.1 200")) << responseHeaders;
  EXPECT_EQ(redirect, responseHeaders) << "no Location in the final response";

  redirect.clear();
  EXPECT_EQ(Str(InetFetch(server_.Url("/from"), {.redirectTo = &redirect, .noRedirect = true})),
            "moved");
  EXPECT_EQ(redirect, "/to");
}

TEST_F(FetchLoopbackTest, InetFetchCookiesSentAndMergedAcrossCalls) {
  int round = 0;
  server_.Get("/jar", [&round](const httplib::Request&, httplib::Response& res) {
    if (round++ == 0) {
      res.set_header("Set-Cookie", "a=1; Path=/");
      res.set_header("Set-Cookie", "b=2; Path=/; HttpOnly");
    } else {
      res.set_header("Set-Cookie", "a=3; Path=/");
    }
    res.set_content("jar", "text/plain");
  });
  Text jar, received;
  (void)InetFetch(server_.Url("/jar"), {.cookies = &jar, .receivedCookies = &received});
  EXPECT_EQ(jar, "a=1; b=2");
  EXPECT_FALSE(server_.LastRequest().HasHeader("Cookie"));
  (void)InetFetch(server_.Url("/jar"), {.cookies = &jar, .receivedCookies = &received});
  EXPECT_EQ(server_.LastRequest().Header("Cookie"), "a=1; b=2");
  EXPECT_EQ(jar, "a=3; b=2");
  EXPECT_EQ(received, "a=3");
}

// With `cookies` left out the connection layer's own store keeps them, for
// every later call that leaves them out too; a caller's jar bypasses it.
TEST_F(FetchLoopbackTest, InetFetchProcessCookieStoreWhenCookiesLeftOut) {
  server_.Get("/set", [](const httplib::Request&, httplib::Response& res) {
    res.set_header("Set-Cookie", "zvstore=kept; Path=/");
    res.set_content("set", "text/plain");
  });
  Text received;
  (void)InetFetch(server_.Url("/set"), {.receivedCookies = &received});
  EXPECT_EQ(received, "zvstore=kept");
  (void)InetFetch(server_.Url("/echo"));
  EXPECT_EQ(server_.LastRequest().Header("Cookie"), "zvstore=kept");
  Text jar;
  (void)InetFetch(server_.Url("/echo"), {.cookies = &jar});
  EXPECT_FALSE(server_.LastRequest().HasHeader("Cookie"));
}

TEST_F(FetchLoopbackTest, ErrorPagesAreReturnedLikeAnyOtherBody) {
  Text responseHeaders;
  EXPECT_EQ(Str(InetFetch(server_.Url("/missing"), {.responseHeaders = &responseHeaders})),
            "missing page");
  EXPECT_TRUE(responseHeaders.starts_with("HTTP/1.1 404")) << responseHeaders;
  EXPECT_EQ(Str(ComFetch(server_.Url("/missing"))), "missing page");
  EXPECT_EQ(Str(HttpGetBytes(server_.Url("/missing"))), "missing page");
}

// Equal sizes and bytes; on a difference, the first offset that differs.
::testing::AssertionResult SameBytes(const ByteSet& got, const std::string& want) {
  if (got.size() != want.size()) {
    return ::testing::AssertionFailure() << got.size() << " bytes instead of " << want.size();
  }
  const auto diff = std::mismatch(got.begin(), got.end(), want.begin(), [](std::uint8_t a, char b) {
    return a == static_cast<std::uint8_t>(b);
  });
  if (diff.first != got.end()) {
    const auto at = diff.first - got.begin();
    return ::testing::AssertionFailure() << "first difference at byte " << at << ": "
                                         << int(*diff.first) << " instead of "
                                         << int(static_cast<std::uint8_t>(*diff.second));
  }
  return ::testing::AssertionSuccess();
}

TEST_F(FetchLoopbackTest, LargeBodyArrivesIntact) {
  EXPECT_TRUE(SameBytes(InetFetch(server_.Url("/large")), LargeBody())) << "InetFetch";
  EXPECT_TRUE(SameBytes(ComFetch(server_.Url("/large")), LargeBody())) << "ComFetch";
  EXPECT_TRUE(SameBytes(HttpGetBytes(server_.Url("/large")), LargeBody())) << "HttpGetBytes";
}

// The response header block is read into a 5,000-byte buffer: a larger
// block is not delivered, so neither its cookies nor its location are seen,
// while the body still arrives. ComFetch has no such limit.
TEST_F(FetchLoopbackTest, ResponseHeaderBlockLargerThanTheBuffer) {
  server_.Get("/padded/[0-9]+", [](const httplib::Request& req, httplib::Response& res) {
    res.set_header("Set-Cookie", "p=1; Path=/");
    res.set_header("X-Pad", std::string(std::stoul(req.path.substr(req.path.rfind('/') + 1)), 'x'));
    res.set_content("padded body", "text/plain");
  });
  Text headers, received;
  EXPECT_EQ(Str(InetFetch(server_.Url("/padded/3000"),
                          {.receivedCookies = &received, .responseHeaders = &headers})),
            "padded body");
  EXPECT_EQ(received, "p=1");
  EXPECT_GT(headers.size(), 3000u);

  EXPECT_EQ(Str(InetFetch(server_.Url("/padded/6000"),
                          {.receivedCookies = &received, .responseHeaders = &headers})),
            "padded body");
  EXPECT_EQ(received, "");
  EXPECT_EQ(headers, "");

  EXPECT_EQ(Str(ComFetch(server_.Url("/padded/6000"),
                         {.receivedCookies = &received, .responseHeaders = &headers})),
            "padded body");
  EXPECT_EQ(received, "p=1");
  EXPECT_GT(headers.size(), 6000u);
}

TEST(FetchFailureTest, ClosedPortGivesEmptyResults) {
  const std::string url = "http://127.0.0.1:" + std::to_string(ClosedPort()) + "/x";
  Text headers, responseHeaders = "old", redirect;
  EXPECT_TRUE(InetFetch(url, {.extraHeaders = &headers, .redirectTo = &redirect,
                              .responseHeaders = &responseHeaders})
                  .empty());
  EXPECT_EQ(headers, "Referer: " + url +
                         "\r\nAccept: */*\r\nAccept-Language: zh-cn\r\n"
                         "Content-Type: application/x-www-form-urlencoded");
  EXPECT_EQ(responseHeaders, "");
  EXPECT_EQ(redirect, "");

  responseHeaders = "old";
  EXPECT_TRUE(ComFetch(url, {.responseHeaders = &responseHeaders}).empty());
  EXPECT_EQ(responseHeaders, "");
  EXPECT_TRUE(HttpGetBytes(url).empty());
}

// A server that accepts and never answers: each routine gives up after its
// time-outs (shortened here) with empty results. The test's own time limit
// catches a routine that waits for good.
TEST(FetchFailureTest, SilentServerEndsAtTheTimeouts) {
  RawTestServer silent(RawTestServer::NeverAnswer());
  ASSERT_TRUE(silent.ok());
  platform::SetInternetTimeoutsForTesting({.connectMs = 2000, .sendMs = 1000, .receiveMs = 1000});
  Text responseHeaders = "old";
  EXPECT_TRUE(InetFetch(silent.Url("/"), {.responseHeaders = &responseHeaders}).empty());
  EXPECT_EQ(responseHeaders, "");
  EXPECT_TRUE(HttpGetBytes(silent.Url("/")).empty());
  responseHeaders = "old";
  EXPECT_TRUE(ComFetch(silent.Url("/"), {.responseHeaders = &responseHeaders, .timeoutSeconds = 1}).empty());
  EXPECT_EQ(responseHeaders, "");
  platform::ResetInternetTimeoutsForTesting();
}

// The connection is reset in the middle of the body. The connection-layer
// reads hand over the bytes that came before the reset; the request object
// reads the body whole, so a cut-off body is no response there.
TEST(FetchFailureTest, ResetInTheMiddleOfTheBody) {
  const std::string partial(3000, 'q');
  RawTestServer server(RawTestServer::ResetAfter(
      "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\nSet-Cookie: r=1; Path=/\r\n\r\n", partial));
  ASSERT_TRUE(server.ok());
  Text received;
  EXPECT_EQ(Str(InetFetch(server.Url("/"), {.receivedCookies = &received})), partial);
  EXPECT_EQ(received, "r=1");
  EXPECT_EQ(Str(HttpGetBytes(server.Url("/"))), partial);
  Text responseHeaders = "old";
  EXPECT_TRUE(ComFetch(server.Url("/"), {.responseHeaders = &responseHeaders}).empty());
  EXPECT_EQ(responseHeaders, "");
}

TEST_F(FetchLoopbackTest, ProxyParameterGoesThroughTinyproxy) {
  ZV_SKIP_WITHOUT_TINYPROXY();
  testing::Tinyproxy proxy;
  ASSERT_TRUE(proxy.ok()) << proxy.Log();

  EXPECT_EQ(Str(InetFetch(server_.Url("/echo"), {.proxy = proxy.Address()})), "GET ");
  EXPECT_TRUE(server_.LastRequest().HasHeader("Via")) << "went through the proxy";
  EXPECT_EQ(Str(InetFetch(server_.Url("/echo"))), "GET ");
  EXPECT_FALSE(server_.LastRequest().HasHeader("Via")) << "direct without a proxy";

  EXPECT_EQ(Str(ComFetch(server_.Url("/echo"), {.method = 1, .postText = "via", .proxy = proxy.Address()})),
            "POST via");
  EXPECT_TRUE(server_.LastRequest().HasHeader("Via"));
  // A proxy that is not there: the request fails, it does not go direct.
  const std::string dead = "127.0.0.1:" + std::to_string(ClosedPort());
  const std::size_t before = server_.RequestCount();
  EXPECT_TRUE(InetFetch(server_.Url("/echo"), {.proxy = dead}).empty());
  EXPECT_TRUE(ComFetch(server_.Url("/echo"), {.proxy = dead}).empty());
  EXPECT_EQ(server_.RequestCount(), before);
}

// A GBK character in the path: the connection layer sends its two bytes
// percent-encoded as they are; the request object takes the URL as Unicode
// text and sends UTF-8.
TEST_F(FetchLoopbackTest, NonAsciiPathsReachTheServer) {
  server_.Get("/wubi.*", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("found", "text/plain");
  });
  EXPECT_EQ(Str(InetFetch(server_.Url("/wubi/\xCE\xE5.htm"))), "found");
  EXPECT_EQ(server_.LastRequest().target, "/wubi/%CE%E5.htm");
  EXPECT_EQ(Str(HttpGetBytes(server_.Url("/wubis/\xCE\xE5.jpg"))), "found");
  EXPECT_EQ(server_.LastRequest().target, "/wubis/%CE%E5.jpg");
  EXPECT_EQ(Str(ComFetch(server_.Url("/wubi/\xCE\xE5.htm"))), "found");
  EXPECT_EQ(server_.LastRequest().target, "/wubi/%E4%BA%94.htm");
}

// --- ComFetch ---

TEST_F(FetchLoopbackTest, ComFetchDefaultHeadersAndBodies) {
  Text headers;
  EXPECT_EQ(Str(ComFetch(server_.Url("/echo"), {.extraHeaders = &headers})), "GET ");
  const auto get = server_.LastRequest();
  EXPECT_EQ(get.Header("User-Agent"), DefaultUserAgent);
  EXPECT_EQ(get.Header("Referer"), server_.Url("/echo"));
  EXPECT_EQ(get.Header("Accept"), "*/*");
  EXPECT_EQ(get.Header("Accept-Language"), "zh-cn");
  EXPECT_TRUE(headers.starts_with("Referer: " + server_.Url("/echo") + "\r\n"));

  EXPECT_EQ(Str(ComFetch(server_.Url("/echo"), {.method = 1, .postText = "t=\xD6\xD0"})),
            "POST t=\xE4\xB8\xAD");  // a text body goes out as UTF-8
  EXPECT_EQ(Str(ComFetch(server_.Url("/echo"),
                         {.method = 1, .postText = "t", .postBytes = Bytes(std::string("\xD6\xD0\0", 3))})),
            std::string("POST \xD6\xD0\0", 8));
}

TEST_F(FetchLoopbackTest, ComFetchRedirectsAndCookies) {
  Text redirect;
  EXPECT_EQ(Str(ComFetch(server_.Url("/from"), {.redirectTo = &redirect})), "arrived");
  EXPECT_FALSE(redirect.empty());
  EXPECT_EQ(redirect.find("Location:"), std::string::npos);
  redirect.clear();
  EXPECT_EQ(Str(ComFetch(server_.Url("/from"), {.redirectTo = &redirect, .noRedirect = true})), "moved");
  EXPECT_EQ(redirect, "/to");

  int round = 0;
  server_.Get("/jar", [&round](const httplib::Request&, httplib::Response& res) {
    res.set_header("Set-Cookie", round++ == 0 ? "s=1; Path=/" : "s=deleted; Path=/");
    res.set_content("jar", "text/plain");
  });
  Text jar = "t=9";
  (void)ComFetch(server_.Url("/jar"), {.cookies = &jar});
  EXPECT_EQ(server_.LastRequest().Header("Cookie"), "t=9");
  EXPECT_EQ(jar, "s=1; t=9");
  (void)ComFetch(server_.Url("/jar"), {.cookies = &jar});
  EXPECT_EQ(server_.LastRequest().Header("Cookie"), "s=1; t=9");
  EXPECT_EQ(jar, "t=9");
}

// Certificate checks stay on for every request object request: a server
// whose certificate chains to a trusted authority answers; a self-signed
// certificate or one for another name gives the empty result of a failed
// request.
TEST(FetchTlsTest, CertificatesAreChecked) {
  const testing::TestCertificates* certs = testing::TestCertificates::Get();
  if (certs == nullptr) GTEST_SKIP() << "no test certificates (openssl missing)";
  ASSERT_TRUE(platform::SetExtraTrustedCaFile(certs->ca));
  struct Case {
    const char* name;
    const testing::TlsFiles* files;
    bool answers;
  };
  const Case cases[] = {
      {"signed by the trusted authority", &certs->signedByCa, true},
      {"self-signed", &certs->selfSigned, false},
      {"another name", &certs->wrongName, false},
  };
  for (const Case& c : cases) {
    HttpTestServer server(*c.files);
    ASSERT_TRUE(server.ok()) << "case: " << c.name;
    server.Get("/page", [](const httplib::Request&, httplib::Response& res) {
      res.set_content("secret", "text/plain");
    });
    const std::string url = server.Url("/page");
    ASSERT_TRUE(url.starts_with("https://"));
    Text responseHeaders = "old";
    EXPECT_EQ(Str(ComFetch(url, {.responseHeaders = &responseHeaders})), c.answers ? "secret" : "")
        << "case: " << c.name;
    EXPECT_EQ(responseHeaders.empty(), !c.answers) << "case: " << c.name;
    EXPECT_EQ(Str(InetFetch(url)), c.answers ? "secret" : "") << "case: " << c.name;
    EXPECT_EQ(Str(HttpGetBytes(url)), c.answers ? "secret" : "") << "case: " << c.name;
    EXPECT_EQ(server.RequestCount(), c.answers ? 3u : 0u) << "case: " << c.name;
  }
  platform::SetExtraTrustedCaFile("");
}

// --- HttpGetBytes ---

TEST_F(FetchLoopbackTest, HttpGetBytesRequestOnTheWire) {
  EXPECT_EQ(Str(HttpGetBytes(server_.Url("/echo"))), "GET ");
  const auto request = server_.LastRequest();
  EXPECT_EQ(request.version, "HTTP/1.0");
  EXPECT_EQ(request.Header("Accept"), "*/*");
  EXPECT_EQ(request.Header("User-Agent"), "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)");
  EXPECT_EQ(Str(HttpGetBytes(server_.Url("/from"))), "arrived") << "redirects are followed";
}

// --- ProbeNetwork ---

TEST_F(FetchLoopbackTest, ProbeLooksForTheUtf8Marker) {
  struct Case {
    const char* name;
    std::string page;
    bool reachable;
  };
  const Case cases[] = {
      {"UTF-8 marker", "<html><input value=\"" + kMarkerUtf8 + "\"></html>", true},
      {"marker only in GBK", "<html>\xB0\xD9\xB6\xC8\xD2\xBB\xCF\xC2</html>", false},
      {"empty page", "", false},
  };
  std::string page;
  server_.Get("/", [&page](const httplib::Request&, httplib::Response& res) {
    res.set_content(page, "text/html");
  });
  SetProbeUrl(server_.Url("/"));
  for (const Case& c : cases) {
    page = c.page;
    EXPECT_EQ(ProbeNetwork(), c.reachable) << "case: " << c.name;
  }
  // Every probe asks the server again.
  page = kMarkerUtf8;
  const std::size_t before = server_.RequestCount();
  EXPECT_TRUE(ProbeNetwork());
  page = "";
  EXPECT_FALSE(ProbeNetwork());
  EXPECT_EQ(server_.RequestCount(), before + 2);
  EXPECT_EQ(server_.LastRequest().method, "GET");
}

}  // namespace
}  // namespace zivorna
