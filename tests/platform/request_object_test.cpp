// The request objects against real servers on 127.0.0.1.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "platform/http_settings.h"
#include "platform/request_object.h"
#include "tests/support/http_test_server.h"
#include "tests/support/raw_test_server.h"
#include "tests/support/test_certificates.h"
#include "tests/support/tinyproxy.h"

namespace zivorna::testing {
namespace {

using namespace platform;

std::u16string U16(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

std::string AsString(const std::optional<ByteSet>& bytes) {
  return bytes ? std::string(bytes->begin(), bytes->end()) : std::string("<none>");
}

class RequestObjectTest : public ::testing::Test {
 protected:
  void TearDown() override { SetExtraTrustedCaFile(""); }

  static std::shared_ptr<RequestObject> NewObject() {
    return CurlRequestObjects().Create(u"WinHttp.WinHttpRequest.5.1");
  }
};

TEST_F(RequestObjectTest, CreateKnowsOneClassNameInAnyCase) {
  RequestObjects& objects = CurlRequestObjects();
  EXPECT_TRUE(objects.Begin());
  EXPECT_TRUE(objects.Begin());
  EXPECT_NE(objects.Create(u"WinHttp.WinHttpRequest.5.1"), nullptr);
  EXPECT_NE(objects.Create(u"WINHTTP.winhttprequest.5.1"), nullptr);
  EXPECT_EQ(objects.Create(u"WinHttp.WinHttpRequest.5"), nullptr);
  EXPECT_EQ(objects.Create(u""), nullptr);
  objects.End();
  objects.End();
  objects.End();  // unbalanced End is harmless
}

TEST_F(RequestObjectTest, RequestGoesOutAsGiven) {
  // A raw server shows the request exactly as it went out.
  RawTestServer server(
      RawTestServer::Reply("HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok"));
  ASSERT_TRUE(server.ok());
  const std::string zeroes("a\0b\0", 4);
  struct Case {
    const char* name;
    std::u16string verb;
    std::optional<std::u16string> text;  // else the bytes
    ByteSet bytes;
    std::string wantBody;
    std::set<std::string> wantNames;  // lower case
  };
  const Case cases[] = {
      {"GET without body", u"GET", u"", {}, "", {"host", "x-test", "x-empty"}},
      {"POST text goes out as UTF-8", u"POST", u"caf\u00e9 \u4e94", {}, "caf\xC3\xA9 \xE4\xBA\x94",
       {"host", "x-test", "x-empty", "content-length"}},
      {"POST bytes with zero bytes", u"POST", std::nullopt, ByteSet(zeroes.begin(), zeroes.end()), zeroes,
       {"host", "x-test", "x-empty", "content-length"}},
      {"POST empty", u"POST", u"", {}, "", {"host", "x-test", "x-empty", "content-length"}},
      {"GET with a body stays GET", u"GET", u"q", {}, "q", {"host", "x-test", "x-empty", "content-length"}},
  };
  for (const Case& c : cases) {
    auto object = NewObject();
    ASSERT_TRUE(object->Open(c.verb, U16(server.Url("/echo")), false)) << c.name;
    ASSERT_TRUE(object->SetRequestHeader(u"X-Test", u"first")) << c.name;
    ASSERT_TRUE(object->SetRequestHeader(u"x-test", u"second")) << c.name;  // replaces
    ASSERT_TRUE(object->SetRequestHeader(u"X-Empty", u"")) << c.name;
    const bool sent = c.text ? object->Send(*c.text) : object->Send(c.bytes);
    ASSERT_TRUE(sent) << c.name;
    EXPECT_EQ(AsString(object->ResponseBody()), "ok") << c.name;
    const RecordedRequest got = server.LastRequest();
    EXPECT_EQ(std::u16string(got.method.begin(), got.method.end()), c.verb) << c.name;
    EXPECT_EQ(got.body, c.wantBody) << c.name;
    EXPECT_EQ(got.Header("X-Test"), "second") << c.name;
    EXPECT_EQ(got.Header("Content-Length"), got.HasHeader("Content-Length") ? std::to_string(c.wantBody.size()) : "")
        << c.name;
    std::set<std::string> names;
    for (std::string name : got.HeaderNames()) {
      std::transform(name.begin(), name.end(), name.begin(), ::tolower);
      names.insert(name);
    }
    EXPECT_EQ(names, c.wantNames) << c.name;
  }
}

TEST_F(RequestObjectTest, NonAsciiUrlGoesOutAsPercentEncodedUtf8) {
  HttpTestServer server;
  ASSERT_TRUE(server.ok());
  const std::u16string url = U16(server.Url("/wubi/")) + u"\u4e94.htm?q=\u4e94 x&e=%41";
  auto object = NewObject();
  ASSERT_TRUE(object->Open(u"GET", url, false));
  ASSERT_TRUE(object->Send(std::u16string()));
  EXPECT_EQ(server.LastRequest().target, "/wubi/%E4%BA%94.htm?q=%E4%BA%94%20x&e=%41");
}

TEST_F(RequestObjectTest, ResponseHeadersWithoutStatusLine) {
  struct Case {
    const char* name;
    std::string reply;
    std::u16string want;
  };
  const Case cases[] = {
      {"UTF-8 header bytes", "HTTP/1.1 200 OK\r\nX-Name: \xE4\xBA\x94\r\nContent-Length: 1\r\n\r\nz",
       u"X-Name: \u4e94\r\nContent-Length: 1\r\n\r\n"},
      {"other bytes read as Latin-1", "HTTP/1.1 404 Nope\nX-Name: caf\xE9\nContent-Length: 1\n\nz",
       u"X-Name: caf\u00e9\r\nContent-Length: 1\r\n\r\n"},
  };
  for (const Case& c : cases) {
    RawTestServer server(RawTestServer::Reply(c.reply));
    ASSERT_TRUE(server.ok());
    auto object = NewObject();
    EXPECT_EQ(object->ResponseBody(), std::nullopt) << c.name;
    EXPECT_EQ(object->GetAllResponseHeaders(), std::nullopt) << c.name;
    ASSERT_TRUE(object->Open(u"GET", U16(server.Url("/h")), false));
    ASSERT_TRUE(object->Send(std::u16string())) << c.name;
    EXPECT_EQ(object->GetAllResponseHeaders(), c.want) << c.name;
    EXPECT_EQ(AsString(object->ResponseBody()), "z") << c.name;
  }
}

TEST_F(RequestObjectTest, RedirectRules) {
  const TestCertificates* certs = TestCertificates::Get();
  ASSERT_NE(certs, nullptr);
  ASSERT_TRUE(SetExtraTrustedCaFile(certs->ca));
  HttpTestServer plain;
  HttpTestServer secure(certs->signedByCa);
  ASSERT_TRUE(plain.ok() && secure.ok());
  for (HttpTestServer* s : {&plain, &secure}) {
    s->Get("/end", [](const httplib::Request&, httplib::Response& res) { res.set_content("end", "text/plain"); });
  }
  plain.Get("/local", [](const httplib::Request&, httplib::Response& res) {
    res.status = 302;
    res.set_header("Location", "/end");
    res.set_content("redirect body", "text/plain");
  });
  plain.Get("/up", [&](const httplib::Request&, httplib::Response& res) {
    res.status = 302;
    res.set_header("Location", secure.Url("/end"));
    res.set_content("redirect body", "text/plain");
  });
  secure.Get("/down", [&](const httplib::Request&, httplib::Response& res) {
    res.status = 302;
    res.set_header("Location", plain.Url("/end"));
    res.set_content("redirect body", "text/plain");
  });
  struct Case {
    const char* name;
    std::string url;
    bool redirectsOff;
    std::string wantBody;
  };
  const Case cases[] = {
      {"followed by default", plain.Url("/local"), false, "end"},
      {"option 6 = 0 switches them off", plain.Url("/local"), true, "redirect body"},
      {"http to https followed", plain.Url("/up"), false, "end"},
      {"https to http refused", secure.Url("/down"), false, "redirect body"},
  };
  for (const Case& c : cases) {
    auto object = NewObject();
    ASSERT_TRUE(object->Open(u"GET", U16(c.url), false)) << c.name;
    if (c.redirectsOff) {
      ASSERT_TRUE(object->SetOption(kOptionEnableRedirects, 0));
    }
    ASSERT_TRUE(object->Send(std::u16string())) << c.name;
    EXPECT_EQ(AsString(object->ResponseBody()), c.wantBody) << c.name;
    const bool sawLocation = object->GetAllResponseHeaders()->find(u"Location: ") != std::u16string::npos;
    EXPECT_EQ(sawLocation, c.wantBody == "redirect body") << c.name;
  }
}

TEST_F(RequestObjectTest, ObjectKeepsItsOwnCookies) {
  HttpTestServer server;
  ASSERT_TRUE(server.ok());
  server.Get("/set", [](const httplib::Request&, httplib::Response& res) {
    res.set_header("Set-Cookie", "session=abc; Path=/");
  });
  auto sendTo = [&](RequestObject& object, const std::string& path) {
    EXPECT_TRUE(object.Open(u"GET", U16(server.Url(path)), false));
    EXPECT_TRUE(object.Send(std::u16string()));
    return server.LastRequest().Header("Cookie");
  };
  auto first = NewObject();
  sendTo(*first, "/set");
  EXPECT_EQ(sendTo(*first, "/check"), "session=abc");
  auto second = NewObject();
  EXPECT_EQ(sendTo(*second, "/check"), "") << "cookies stay with their object";
}

TEST_F(RequestObjectTest, CredentialsAndProxySettings) {
  // The recording server stands in for a proxy: it receives the absolute
  // request target and the proxy credentials, and nothing leaves loopback.
  HttpTestServer proxyStandIn;
  ASSERT_TRUE(proxyStandIn.ok());
  auto object = NewObject();
  ASSERT_TRUE(object->SetProxy(kProxySettingProxy, U16(proxyStandIn.Url("").substr(7))));
  ASSERT_TRUE(object->SetCredentials(u"pu", u"pp", kCredentialsForProxy));
  ASSERT_TRUE(object->SetCredentials(u"su", u"sp", kCredentialsForServer));
  ASSERT_TRUE(object->Open(u"GET", u"http://lookup.invalid/wubi/x.htm", false));
  ASSERT_TRUE(object->Send(std::u16string()));
  const RecordedRequest got = proxyStandIn.LastRequest();
  EXPECT_EQ(got.target, "http://lookup.invalid/wubi/x.htm");
  EXPECT_EQ(got.Header("Proxy-Authorization"), "Basic cHU6cHA=");  // pu:pp
  EXPECT_EQ(got.Header("Authorization"), "Basic c3U6c3A=");        // su:sp
}

TEST_F(RequestObjectTest, ThroughARealProxy) {
  ZV_SKIP_WITHOUT_TINYPROXY();
  Tinyproxy proxy;
  ASSERT_TRUE(proxy.ok()) << proxy.Log();
  const TestCertificates* certs = TestCertificates::Get();
  ASSERT_NE(certs, nullptr);
  ASSERT_TRUE(SetExtraTrustedCaFile(certs->ca));
  HttpTestServer plain;
  HttpTestServer secure(certs->signedByCa);
  ASSERT_TRUE(plain.ok() && secure.ok());
  for (HttpTestServer* s : {&plain, &secure}) {
    s->Get("/page", [](const httplib::Request&, httplib::Response& res) { res.set_content("page", "text/html"); });
  }
  // Plain http is forwarded (the proxy adds Via); https goes through a tunnel
  // whose own "200 Connection established" answer must not pass for the
  // response.
  for (HttpTestServer* target : {&plain, &secure}) {
    const bool tls = target == &secure;
    auto object = NewObject();
    ASSERT_TRUE(object->SetProxy(kProxySettingProxy, U16(proxy.Address())));
    ASSERT_TRUE(object->Open(u"GET", U16(target->Url("/page")), false));
    ASSERT_TRUE(object->Send(std::u16string())) << tls << proxy.Log();
    EXPECT_EQ(AsString(object->ResponseBody()), "page") << tls;
    EXPECT_NE(object->GetAllResponseHeaders()->find(u"Content-Type: text/html"), std::u16string::npos) << tls;
    EXPECT_EQ(target->LastRequest().HasHeader("Via"), !tls) << proxy.Log();
  }
  EXPECT_NE(proxy.Log().find("CONNECT"), std::string::npos) << proxy.Log();
}

TEST_F(RequestObjectTest, CertificateErrorsIgnoredOnlyAsTheOptionSays) {
  const TestCertificates* certs = TestCertificates::Get();
  ASSERT_NE(certs, nullptr);
  ASSERT_TRUE(SetExtraTrustedCaFile(certs->ca));
  struct Case {
    const char* name;
    const TlsFiles* files;
    std::optional<int> ignoreFlags;
    bool wantSent;
  };
  const Case cases[] = {
      {"trusted authority", &certs->signedByCa, std::nullopt, true},
      {"self-signed", &certs->selfSigned, std::nullopt, false},
      {"self-signed, all ignored", &certs->selfSigned, 0x3300, true},
      {"self-signed, name only ignored", &certs->selfSigned, 0x1000, false},
      {"wrong name", &certs->wrongName, std::nullopt, false},
      {"wrong name, name ignored", &certs->wrongName, 0x1000, true},
  };
  for (const Case& c : cases) {
    HttpTestServer server(*c.files);
    ASSERT_TRUE(server.ok()) << c.name;
    server.Get("/tls", [](const httplib::Request&, httplib::Response& res) { res.set_content("tls", "text/plain"); });
    auto object = NewObject();
    ASSERT_TRUE(object->Open(u"GET", U16(server.Url("/tls")), false));
    if (c.ignoreFlags) {
      ASSERT_TRUE(object->SetOption(kOptionSslErrorIgnoreFlags, *c.ignoreFlags)) << c.name;
    }
    EXPECT_EQ(object->Send(std::u16string()), c.wantSent) << c.name;
    EXPECT_EQ(AsString(object->ResponseBody()), c.wantSent ? "tls" : "<none>") << c.name;
  }
}

TEST_F(RequestObjectTest, FailedSendLeavesNoResponse) {
  RawTestServer silent(RawTestServer::NeverAnswer());
  RawTestServer cutOff(RawTestServer::ResetAfter("HTTP/1.1 200 OK\r\nContent-Length: 5000\r\n\r\n", "part"));
  ASSERT_TRUE(silent.ok() && cutOff.ok());
  for (const RawTestServer* server : {&silent, &cutOff}) {
    auto object = NewObject();
    ASSERT_TRUE(object->SetTimeouts(500, 500, 500, 500));
    ASSERT_TRUE(object->Open(u"GET", U16(server->Url("/x")), false));
    EXPECT_FALSE(object->Send(std::u16string()));
    EXPECT_EQ(object->ResponseBody(), std::nullopt);
    EXPECT_EQ(object->GetAllResponseHeaders(), std::nullopt);
  }
}

TEST_F(RequestObjectTest, RefusedCalls) {
  auto object = NewObject();
  EXPECT_FALSE(object->SetRequestHeader(u"X-A", u"1")) << "before Open";
  EXPECT_FALSE(object->Send(std::u16string())) << "before Open";
  EXPECT_FALSE(object->Open(u"GET", u"http://127.0.0.1/", true)) << "asynchronous";
  for (const char16_t* url : {u"", u"ftp://127.0.0.1/", u"not a url", u"http://"}) {
    EXPECT_FALSE(object->Open(u"GET", url, false)) << std::string(url, url + std::char_traits<char16_t>::length(url));
  }
  EXPECT_FALSE(object->Open(u"", u"http://127.0.0.1/", false));
  ASSERT_TRUE(object->Open(u"GET", u"http://127.0.0.1/", false));
  EXPECT_FALSE(object->SetRequestHeader(u"", u"v"));
  EXPECT_FALSE(object->SetRequestHeader(u"X-A", u"1\r\nX-Injected: 2"));
  EXPECT_FALSE(object->SetRequestHeader(u"Bad Name", u"v"));
  EXPECT_FALSE(object->SetOption(99, 0));
  EXPECT_FALSE(object->SetOption(kOptionSslErrorIgnoreFlags, 0x4000));
  EXPECT_FALSE(object->SetTimeouts(-5, 0, 0, 0));
  EXPECT_FALSE(object->SetProxy(7, u"127.0.0.1:1"));
  EXPECT_FALSE(object->SetProxy(kProxySettingProxy, u""));
  EXPECT_FALSE(object->SetCredentials(u"u", u"p", 5));
}

}  // namespace
}  // namespace zivorna::testing
