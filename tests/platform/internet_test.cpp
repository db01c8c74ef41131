// The connection layer against real servers on 127.0.0.1.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <random>
#include <set>

#include "platform/http_settings.h"
#include "platform/internet.h"
#include "tests/platform/inet_exchange.h"
#include "tests/support/http_test_server.h"
#include "tests/support/raw_test_server.h"
#include "tests/support/test_certificates.h"
#include "tests/support/tinyproxy.h"

namespace zivorna::testing {
namespace {

using namespace platform;

class InternetTest : public ::testing::Test {
 protected:
  void TearDown() override {
    ResetInternetTimeoutsForTesting();
    SetExtraTrustedCaFile("");
  }

  InetCall CallTo(const HttpTestServer& s, const std::string& path = "/") {
    InetCall call;
    call.port = s.port();
    call.path = path;
    return call;
  }
};

// A cookie name no other test (or earlier run in this process) uses: the
// store is process-wide.
std::string UniqueName(const std::string& stem) {
  static std::atomic<int> counter{0};
  return stem + std::to_string(getpid()) + "x" + std::to_string(counter++);
}

// A raw server shows the request exactly as it went out.
constexpr const char* kOkReply = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok";

std::set<std::string> LowerCaseNames(const RecordedRequest& request) {
  std::set<std::string> names;
  for (std::string name : request.HeaderNames()) {
    std::transform(name.begin(), name.end(), name.begin(), ::tolower);
    names.insert(name);
  }
  return names;
}

TEST_F(InternetTest, RequestGoesOutAsGiven) {
  RawTestServer server(RawTestServer::Reply(kOkReply));
  ASSERT_TRUE(server.ok());
  struct Case {
    const char* name;
    std::string verb;
    std::string version;
    std::string block;
    std::string body;
    std::set<std::string> wantNames;  // lower case; libcurl alone would add Accept,
                                      // and for a body Content-Type and Expect
    std::string wantAgent;
  };
  const Case cases[] = {
      {"bare GET", "GET", "HTTP/1.1", "", "", {"host", "user-agent"}, "zivorna-test"},
      {"POST with body", "POST", "HTTP/1.1", "", "a=1&b=%CE%E5", {"host", "user-agent", "content-length"},
       "zivorna-test"},
      {"POST without body", "POST", "HTTP/1.1", "", "", {"host", "user-agent", "content-length"}, "zivorna-test"},
      {"GET with a body stays GET", "GET", "HTTP/1.1", "", "xyz", {"host", "user-agent", "content-length"},
       "zivorna-test"},
      {"HTTP/1.0", "GET", "HTTP/1.0", "Accept: */*\r\n\r\n", "", {"host", "user-agent", "accept"},
       "zivorna-test"},
      {"block lines replace defaults", "GET", "HTTP/1.1",
       "Accept: text/html\r\nUser-Agent: Block Agent/1.0\r\nX-Empty:\r\n\r\n", "",
       {"host", "user-agent", "accept", "x-empty"}, "Block Agent/1.0"},
      {"a bare line feed splits lines", "GET", "HTTP/1.1", "X-One: 1\nX-Two: 2", "",
       {"host", "user-agent", "x-one", "x-two"}, "zivorna-test"},
  };
  for (const Case& c : cases) {
    InetCall call;
    call.port = server.port();
    call.verb = c.verb;
    call.version = c.version;
    call.headers = c.block;
    call.body.assign(c.body.begin(), c.body.end());
    const InetOutcome out = InetExchange(call);
    ASSERT_TRUE(out.sent) << c.name;
    EXPECT_EQ(AsString(out.body), "ok") << c.name;
    const RecordedRequest got = server.LastRequest();
    EXPECT_EQ(got.method, c.verb) << c.name;
    EXPECT_EQ(got.version, c.version) << c.name;
    EXPECT_EQ(got.body, c.body) << c.name;
    EXPECT_EQ(LowerCaseNames(got), c.wantNames) << c.name;
    EXPECT_EQ(got.Header("User-Agent"), c.wantAgent) << c.name;
    if (got.HasHeader("Content-Length")) {
      EXPECT_EQ(got.Header("Content-Length"), std::to_string(c.body.size())) << c.name;
    }
    for (const auto& [name, value] : got.headers) {
      const std::string want = name == "Accept" && c.block.find("text/html") != std::string::npos ? "text/html"
                               : name == "X-Empty"                                             ? ""
                               : name == "X-One"                                               ? "1"
                                                                                               : value;
      EXPECT_EQ(value, want) << c.name << ": " << name;
    }
  }

  // An agent with a line break cannot add a header line of its own.
  InetCall call;
  call.port = server.port();
  call.agent = "Agent/1\r\nX-Injected: 1";
  ASSERT_TRUE(InetExchange(call).sent);
  EXPECT_EQ(server.LastRequest().Header("User-Agent"), "Agent/1");
  EXPECT_FALSE(server.LastRequest().HasHeader("X-Injected"));
}

TEST_F(InternetTest, PathBytesArePercentEncodedAsTheyAre) {
  HttpTestServer server;
  ASSERT_TRUE(server.ok());
  struct Case {
    std::string path;
    std::string wantTarget;
  };
  const Case cases[] = {
      {"/wubi/\xCE\xE5.htm", "/wubi/%CE%E5.htm"},  // GBK bytes of one character
      {"/a b?q=1 \x7F", "/a%20b?q=1%20%7F"},
      {"/already%20encoded?x=%CE", "/already%20encoded?x=%CE"},
      {"/x#y", "/x%23y"},
      {"", "/"},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(InetExchange(CallTo(server, c.path)).sent) << c.path;
    EXPECT_EQ(server.LastRequest().target, c.wantTarget) << c.path;
  }
}

TEST_F(InternetTest, RedirectsFollowedOrNotAsFlagsSay) {
  HttpTestServer server;
  ASSERT_TRUE(server.ok());
  AddRedirectPair(server);
  server.Get("/loop", [](const httplib::Request&, httplib::Response& res) {
    res.status = 302;
    res.set_header("Location", "/loop");
  });

  InetCall follow = CallTo(server, "/from");
  InetOutcome out = InetExchange(follow);
  ASSERT_TRUE(out.sent);
  EXPECT_EQ(AsString(out.body), "arrived");
  ASSERT_TRUE(out.rawHeaders);
  EXPECT_EQ(out.rawHeaders->rfind("HTTP/1.1 200", 0), 0u) << *out.rawHeaders;

  InetCall stay = CallTo(server, "/from");
  stay.flags |= kFlagNoAutoRedirect;
  out = InetExchange(stay);
  ASSERT_TRUE(out.sent);
  EXPECT_EQ(AsString(out.body), "moved");
  ASSERT_TRUE(out.rawHeaders);
  EXPECT_EQ(out.rawHeaders->rfind("HTTP/1.1 302", 0), 0u) << *out.rawHeaders;
  EXPECT_NE(out.rawHeaders->find("Location: /to\r\n"), std::string::npos);

  // A redirect loop ends after a bounded number of hops with the last answer.
  const size_t before = server.RequestCount();
  out = InetExchange(CallTo(server, "/loop"));
  ASSERT_TRUE(out.sent);
  ASSERT_TRUE(out.rawHeaders);
  EXPECT_EQ(out.rawHeaders->rfind("HTTP/1.1 302", 0), 0u);
  EXPECT_LE(server.RequestCount() - before, 12u);
}

TEST_F(InternetTest, RedirectChangesPostToGetExceptFor307) {
  HttpTestServer server;
  ASSERT_TRUE(server.ok());
  server.Post("/302", [](const httplib::Request&, httplib::Response& res) {
    res.status = 302;
    res.set_header("Location", "/target");
  });
  server.Post("/307", [](const httplib::Request&, httplib::Response& res) {
    res.status = 307;
    res.set_header("Location", "/target");
  });
  server.Any("/target", [](const httplib::Request& req, httplib::Response& res) {
    res.set_content(req.method + ":" + req.body, "text/plain");
  });
  for (const auto& [path, want] : {std::pair{"/302", "GET:"}, std::pair{"/307", "POST:payload"}}) {
    InetCall call = CallTo(server, path);
    call.verb = "POST";
    call.body = {'p', 'a', 'y', 'l', 'o', 'a', 'd'};
    const InetOutcome out = InetExchange(call);
    ASSERT_TRUE(out.sent) << path;
    EXPECT_EQ(AsString(out.body), want) << path;
  }
}

TEST_F(InternetTest, CredentialsStayWithTheirOriginAcrossRedirects) {
  HttpTestServer other;
  ASSERT_TRUE(other.ok());
  HttpTestServer first;
  ASSERT_TRUE(first.ok());
  first.Get("/same", [](const httplib::Request&, httplib::Response& res) {
    res.status = 302;
    res.set_header("Location", "/landing");
  });
  first.Get("/away", [&](const httplib::Request&, httplib::Response& res) {
    res.status = 302;
    res.set_header("Location", other.Url("/landing"));
  });
  for (const char* path : {"/same", "/away"}) {
    InetCall call = CallTo(first, path);
    call.headers = "Authorization: Bearer secret\r\nCookie: sid=1\r\nX-Other: kept";
    ASSERT_TRUE(InetExchange(call).sent) << path;
    const bool away = std::string(path) == "/away";
    const RecordedRequest landing = away ? other.LastRequest() : first.LastRequest();
    EXPECT_EQ(landing.path, "/landing") << path;
    EXPECT_EQ(landing.HasHeader("Authorization"), !away) << path;
    EXPECT_EQ(landing.HasHeader("Cookie"), !away) << path;
    EXPECT_EQ(landing.Header("X-Other"), "kept") << path;
  }
}

TEST_F(InternetTest, RedirectToHttpsOnlyWithItsFlag) {
  const TestCertificates* certs = TestCertificates::Get();
  ASSERT_NE(certs, nullptr);
  ASSERT_TRUE(SetExtraTrustedCaFile(certs->ca));
  HttpTestServer secure(certs->signedByCa);
  ASSERT_TRUE(secure.ok());
  secure.Get("/safe", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("over tls", "text/plain");
  });
  HttpTestServer plain;
  ASSERT_TRUE(plain.ok());
  plain.Get("/up", [&](const httplib::Request&, httplib::Response& res) {
    res.status = 301;
    res.set_header("Location", secure.Url("/safe"));
    res.set_content("see tls", "text/plain");
  });

  InetCall without = CallTo(plain, "/up");
  InetOutcome out = InetExchange(without);
  ASSERT_TRUE(out.sent);
  EXPECT_EQ(AsString(out.body), "see tls");
  EXPECT_EQ(secure.RequestCount(), 0u);

  InetCall with = CallTo(plain, "/up");
  with.flags |= kFlagIgnoreRedirectToHttps;
  out = InetExchange(with);
  ASSERT_TRUE(out.sent);
  EXPECT_EQ(AsString(out.body), "over tls");
  EXPECT_EQ(secure.RequestCount(), 1u);
}

TEST_F(InternetTest, ProcessWideCookieStoreUnlessNoCookies) {
  HttpTestServer server;
  ASSERT_TRUE(server.ok());
  const std::string name = UniqueName("jar");
  server.Get("/set", [&](const httplib::Request& req, httplib::Response& res) {
    res.set_header("Set-Cookie", name + "=" + req.get_param_value("v") + "; Path=/");
  });
  auto call = [&](const std::string& path, bool cookies) {
    InetCall c = CallTo(server, path);
    c.flags = kFlagReload | (cookies ? 0u : kFlagNoCookies);
    EXPECT_TRUE(InetExchange(c).sent);
    return server.LastRequest().Header("Cookie");
  };
  // The store is process-wide, so earlier tests of this process may have
  // left cookies of their own in it: look for this test's cookie only.
  auto sentOurs = [&](const std::string& cookieHeader) {
    return cookieHeader.find(name + "=") != std::string::npos;
  };
  // Set with cookies off: nothing is stored.
  call("/set?v=ignored", false);
  EXPECT_FALSE(sentOurs(call("/check", true)));
  // Set with cookies on: later requests with cookies on send it, on any
  // handle; requests with cookies off send no cookie at all.
  call("/set?v=kept", true);
  EXPECT_NE(call("/check", true).find(name + "=kept"), std::string::npos);
  EXPECT_EQ(call("/check", false), "");
}

TEST_F(InternetTest, LargeBodyArrivesIntactInSmallReads) {
  HttpTestServer server;
  ASSERT_TRUE(server.ok());
  std::string big(64u << 20, '\0');
  std::mt19937 random(7);
  for (char& c : big) c = static_cast<char>(random());
  server.Get("/big", [&](const httplib::Request&, httplib::Response& res) {
    res.set_content(big, "application/octet-stream");
  });
  const InetOutcome out = InetExchange(CallTo(server, "/big"));
  ASSERT_TRUE(out.sent);
  EXPECT_TRUE(out.lastReadOk);
  ASSERT_EQ(out.body.size(), big.size());
  EXPECT_EQ(std::memcmp(out.body.data(), big.data(), big.size()), 0);
}

TEST_F(InternetTest, RawHeaderBlockAndItsBufferContract) {
  RawTestServer server(RawTestServer::LargeHeaders(6000, "ok"));
  ASSERT_TRUE(server.ok());
  Internet& net = CurlInternet();
  const InetHandle internet = net.OpenInternet("t", kInternetOpenTypeDirect, std::nullopt, std::nullopt, 0);
  const InetHandle connection =
      net.Connect(internet, "127.0.0.1", server.port(), std::nullopt, std::nullopt, kInternetServiceHttp, 0, 0);
  const InetHandle request = net.OpenRequest(connection, "GET", "/many", "HTTP/1.1", std::nullopt, kFlagReload, 0);
  ASSERT_TRUE(net.SendRequest(request, "", {}));

  std::string small(5000, '#');
  std::uint32_t length = 5000;
  EXPECT_FALSE(net.QueryInfo(request, kQueryRawHeadersCrlf, small.data(), &length, nullptr));
  EXPECT_EQ(small, std::string(5000, '#')) << "nothing may be written on failure";
  EXPECT_GT(length, 5000u) << "the size needed is reported";

  std::string large(length, '#');
  std::uint32_t largeLength = length;
  ASSERT_TRUE(net.QueryInfo(request, kQueryRawHeadersCrlf, large.data(), &largeLength, nullptr));
  EXPECT_EQ(largeLength + 1, length);
  EXPECT_EQ(large[largeLength], '\0');
  const std::string block = large.substr(0, largeLength);
  EXPECT_EQ(block.rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
  EXPECT_EQ(block.substr(block.size() - 4), "\r\n\r\n");
  EXPECT_NE(block.find("X-Filler-50: " + std::string(100, 'f') + "\r\n"), std::string::npos);
  EXPECT_GE(block.size(), 6000u);
  EXPECT_FALSE(net.QueryInfo(request, 19, large.data(), &largeLength, nullptr)) << "unknown info level";
  net.CloseHandle(request);
  net.CloseHandle(connection);
  net.CloseHandle(internet);
}

TEST_F(InternetTest, BareLineFeedsBecomeCrlfInTheRawBlock) {
  RawTestServer server(RawTestServer::Reply("HTTP/1.1 200 OK\nX-A: 1\nContent-Length: 2\n\nok"));
  ASSERT_TRUE(server.ok());
  InetCall call;
  call.port = server.port();
  const InetOutcome out = InetExchange(call);
  ASSERT_TRUE(out.sent);
  EXPECT_EQ(AsString(out.body), "ok");
  ASSERT_TRUE(out.rawHeaders);
  EXPECT_EQ(*out.rawHeaders, "HTTP/1.1 200 OK\r\nX-A: 1\r\nContent-Length: 2\r\n\r\n");
}

TEST_F(InternetTest, FailuresEndInBoundedTime) {
  SetInternetTimeoutsForTesting({1000, 500, 500});
  RawTestServer silent(RawTestServer::NeverAnswer());
  RawTestServer endlessHeaders(RawTestServer::LargeHeaders(2u << 20, "x"));
  RawTestServer headersThenSilence([](RawConnection& c) {
    c.Send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nabc");
    c.HoldUntilClosed();
  });
  ASSERT_TRUE(silent.ok() && headersThenSilence.ok() && endlessHeaders.ok());
  struct Case {
    const char* name;
    int port;
    bool wantSent;
    std::string wantBody;
  };
  const Case cases[] = {
      {"closed port", ClosedPort(), false, ""},
      {"accepts and never answers", silent.port(), false, ""},
      {"stalls in the body", headersThenSilence.port(), true, "abc"},
      {"header block beyond any reason (2 MiB)", endlessHeaders.port(), false, ""},
  };
  for (const Case& c : cases) {
    InetCall call;
    call.port = c.port;
    const InetOutcome out = InetExchange(call);
    EXPECT_EQ(out.sent, c.wantSent) << c.name;
    EXPECT_EQ(AsString(out.body), c.wantBody) << c.name;
    EXPECT_FALSE(out.lastReadOk) << c.name;
    EXPECT_EQ(out.rawHeaders.has_value(), c.wantSent) << c.name;
  }
}

TEST_F(InternetTest, ResetMidBodyDeliversTheBytesSoFar) {
  const std::string first(1000, 'b');
  RawTestServer server(RawTestServer::ResetAfter("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n", first));
  ASSERT_TRUE(server.ok());
  InetCall call;
  call.port = server.port();
  call.chunk = 300;
  const InetOutcome out = InetExchange(call);
  ASSERT_TRUE(out.sent);
  EXPECT_EQ(AsString(out.body), first);
  EXPECT_FALSE(out.lastReadOk);
}

TEST_F(InternetTest, HttpProxyListAppliesToPlainHttpOnly) {
  ZV_SKIP_WITHOUT_TINYPROXY();
  Tinyproxy proxy;
  ASSERT_TRUE(proxy.ok()) << proxy.Log();
  const TestCertificates* certs = TestCertificates::Get();
  ASSERT_NE(certs, nullptr);
  ASSERT_TRUE(SetExtraTrustedCaFile(certs->ca));
  HttpTestServer plain;
  HttpTestServer secure(certs->signedByCa);
  ASSERT_TRUE(plain.ok() && secure.ok());

  struct Case {
    const char* name;
    std::string list;
    bool tls;
    bool wantSent;
    bool wantViaProxy;
  };
  const Case cases[] = {
      {"http entry, http URL", "http=" + proxy.Address(), false, true, true},
      {"server for every scheme", proxy.Address(), false, true, true},
      {"empty http entry fails", "http=", false, false, false},
      {"http entry, https URL goes direct", "http=" + proxy.Address(), true, true, false},
      {"https entry, https URL tunnels", "https=" + proxy.Address(), true, true, false},
  };
  for (const Case& c : cases) {
    HttpTestServer& target = c.tls ? secure : plain;
    const size_t before = target.RequestCount();
    InetCall call = CallTo(target, "/via");
    call.accessType = kInternetOpenTypeProxy;
    call.proxyList = c.list;
    call.proxyBypass = "";
    if (c.tls) call.flags |= kFlagSecure;
    const InetOutcome out = InetExchange(call);
    EXPECT_EQ(out.sent, c.wantSent) << c.name;
    ASSERT_EQ(target.RequestCount(), before + (c.wantSent ? 1 : 0)) << c.name;
    if (c.wantSent) {
      EXPECT_EQ(target.LastRequest().HasHeader("Via"), c.wantViaProxy) << c.name << "\n" << proxy.Log();
    }
  }
  // Only the last case used the proxy for https, through a tunnel.
  EXPECT_NE(proxy.Log().find("CONNECT"), std::string::npos) << proxy.Log();
}

TEST_F(InternetTest, CertificateValidation) {
  const TestCertificates* certs = TestCertificates::Get();
  ASSERT_NE(certs, nullptr);
  struct Case {
    const char* name;
    const TlsFiles* files;
    bool trustTestCa;
    bool wantSent;
  };
  const Case cases[] = {
      {"signed by a trusted authority", &certs->signedByCa, true, true},
      {"authority not trusted", &certs->signedByCa, false, false},
      {"self-signed", &certs->selfSigned, true, false},
      {"name does not match", &certs->wrongName, true, false},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(SetExtraTrustedCaFile(c.trustTestCa ? certs->ca : ""));
    HttpTestServer server(*c.files);
    ASSERT_TRUE(server.ok()) << c.name;
    InetCall call = CallTo(server, "/tls");
    call.flags |= kFlagSecure;
    EXPECT_EQ(InetExchange(call).sent, c.wantSent) << c.name;
    EXPECT_EQ(server.RequestCount(), c.wantSent ? 1u : 0u) << c.name;
  }
}

TEST_F(InternetTest, HandlesAreCheckedNotTrusted) {
  Internet& net = CurlInternet();
  const InetHandle internet = net.OpenInternet("t", kInternetOpenTypeDirect, std::nullopt, std::nullopt, 0);
  ASSERT_NE(internet, 0u);
  EXPECT_EQ(net.OpenInternet("t", kInternetOpenTypeProxy, std::nullopt, std::nullopt, 0), 0u)
      << "a proxy access type needs a proxy list";
  for (const char* host : {"", "a/b", "user@host", "bad host", "\xCE\xE5"}) {
    EXPECT_EQ(net.Connect(internet, host, 80, std::nullopt, std::nullopt, kInternetServiceHttp, 0, 0), 0u)
        << "host: " << host;
  }
  EXPECT_EQ(net.Connect(internet, "127.0.0.1", 70000, std::nullopt, std::nullopt, kInternetServiceHttp, 0, 0), 0u);
  const InetHandle connection =
      net.Connect(internet, "127.0.0.1", ClosedPort(), std::nullopt, std::nullopt, kInternetServiceHttp, 0, 0);
  ASSERT_NE(connection, 0u);
  EXPECT_EQ(net.OpenRequest(internet, "GET", "/", "HTTP/1.1", std::nullopt, 0, 0), 0u)
      << "an internet handle is not a connection";
  EXPECT_EQ(net.OpenRequest(connection, "GE T", "/", "HTTP/1.1", std::nullopt, 0, 0), 0u);
  const InetHandle request = net.OpenRequest(connection, "GET", "/", "HTTP/1.1", std::nullopt, 0, 0);
  ASSERT_NE(request, 0u);

  std::uint8_t buffer[16];
  std::uint32_t read = 99;
  EXPECT_FALSE(net.ReadFile(request, buffer, sizeof buffer, &read)) << "nothing sent yet";
  EXPECT_EQ(read, 0u);
  std::uint32_t length = sizeof buffer;
  EXPECT_FALSE(net.QueryInfo(request, kQueryRawHeadersCrlf, reinterpret_cast<char*>(buffer), &length, nullptr));

  EXPECT_TRUE(net.CloseHandle(request));
  EXPECT_FALSE(net.CloseHandle(request)) << "closed twice";
  EXPECT_FALSE(net.SendRequest(request, "", {}));
  EXPECT_FALSE(net.ReadFile(request, buffer, sizeof buffer, &read));
  EXPECT_FALSE(net.CloseHandle(0));
  EXPECT_FALSE(net.CloseHandle(0xDEADBEEF));
  EXPECT_TRUE(net.CloseHandle(connection));
  EXPECT_TRUE(net.CloseHandle(internet));
}

}  // namespace
}  // namespace zivorna::testing
