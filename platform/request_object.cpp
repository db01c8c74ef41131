// The request objects over libcurl. Each object keeps its own cookie store
// for its whole life, so its cookies carry over from one request to the next
// (and connections do through the transfers' shared connection caches). Text
// comes in as UTF-16 and goes out as UTF-8.
#include <algorithm>
#include <mutex>

#include "platform/curl_transfer.h"
#include "platform/http_text.h"
#include "platform/request_object.h"

namespace zivorna::platform {
namespace {

using internal::ProxyChoice;
using internal::Transfer;
using internal::TransferRequest;

// The class name callers ask Create() for (letter case ignored).
constexpr std::u16string_view kRequestClassName = u"WinHttp.WinHttpRequest.5.1";

// Bits of the certificate-error option.
constexpr int kIgnoreUnknownAuthority = 0x0100;
constexpr int kIgnoreWrongUsage = 0x0200;
constexpr int kIgnoreInvalidCommonName = 0x1000;
constexpr int kIgnoreInvalidDate = 0x2000;
constexpr int kIgnoreAll =
    kIgnoreUnknownAuthority | kIgnoreWrongUsage | kIgnoreInvalidCommonName | kIgnoreInvalidDate;

// Time-outs of 0 (or -1) mean "no limit" to callers; every wait still ends
// after this long so that nothing can hang for good.
constexpr long kLongestWaitMs = 10L * 60 * 1000;

bool EqualsIgnoreCase16(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  auto lower = [](char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; };
  for (size_t i = 0; i < a.size(); ++i) {
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

long Bounded(int ms) { return (ms <= 0) ? kLongestWaitMs : std::min<long>(ms, kLongestWaitMs); }

class CurlRequestObject final : public RequestObject {
 public:
  CurlRequestObject() : cookies_(internal::NewCookieStore()) {}
  ~CurlRequestObject() override {
    // No transfer uses the store any more: each ends within its Send.
    if (cookies_ != nullptr) curl_share_cleanup(cookies_);
  }
  CurlRequestObject(const CurlRequestObject&) = delete;
  CurlRequestObject& operator=(const CurlRequestObject&) = delete;

  bool SetTimeouts(int resolveMs, int connectMs, int sendMs, int receiveMs) override {
    if (std::min({resolveMs, connectMs, sendMs, receiveMs}) < -1) return false;
    std::lock_guard lock(mutex_);
    resolveMs_ = resolveMs;
    connectMs_ = connectMs;
    sendMs_ = sendMs;
    receiveMs_ = receiveMs;
    return true;
  }

  bool SetProxy(int setting, const std::u16string& server) override {
    constexpr int kProxySettingDefault = 0;
    constexpr int kProxySettingDirect = 1;
    std::lock_guard lock(mutex_);
    if (setting == kProxySettingDefault || setting == kProxySettingDirect) {
      proxy_.reset();
      return true;
    }
    if (setting != kProxySettingProxy) return false;
    const internal::ProxyRules rules = internal::ParseProxyList(internal::Utf16ToUtf8(server));
    if (!rules.http.set && !rules.https.set) return false;
    proxy_ = rules;
    return true;
  }

  bool SetCredentials(const std::u16string& user, const std::u16string& password,
                      int flags) override {
    std::lock_guard lock(mutex_);
    auto credentials = std::make_pair(internal::Utf16ToUtf8(user), internal::Utf16ToUtf8(password));
    if (flags == kCredentialsForProxy) {
      proxyCredentials_ = std::move(credentials);
    } else if (flags == kCredentialsForServer) {
      serverCredentials_ = std::move(credentials);
    } else {
      return false;
    }
    return true;
  }

  bool Open(const std::u16string& verb, const std::u16string& url, bool async) override {
    std::lock_guard lock(mutex_);
    opened_ = false;
    body_.reset();
    headersText_.reset();
    headers_.clear();
    if (async) return false;  // only blocking requests are made here
    const std::string method = internal::Utf16ToUtf8(verb);
    if (!internal::IsHeaderName(method)) return false;
    // Non-ASCII characters go out as percent-encoded UTF-8.
    std::string encoded = internal::PercentEncodeUnsafe(internal::Utf16ToUtf8(url));
    CURLU* parsed = curl_url();
    bool ok = parsed != nullptr && curl_url_set(parsed, CURLUPART_URL, encoded.c_str(), 0) == CURLUE_OK;
    char* scheme = nullptr;
    char* host = nullptr;
    ok = ok && curl_url_get(parsed, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
         curl_url_get(parsed, CURLUPART_HOST, &host, 0) == CURLUE_OK;
    ok = ok && (internal::EqualsIgnoreCase(scheme, "http") || internal::EqualsIgnoreCase(scheme, "https")) &&
         host[0] != '\0';
    curl_free(scheme);
    curl_free(host);
    curl_url_cleanup(parsed);
    if (!ok) return false;
    verb_ = method;
    url_ = std::move(encoded);
    opened_ = true;
    return true;
  }

  bool SetOption(int option, int value) override {
    std::lock_guard lock(mutex_);
    if (option == kOptionEnableRedirects) {
      followRedirects_ = value != 0;
      return true;
    }
    if (option == kOptionSslErrorIgnoreFlags) {
      if ((value & ~kIgnoreAll) != 0) return false;
      ignoredCertErrors_ = value;
      return true;
    }
    return false;
  }

  bool SetRequestHeader(const std::u16string& name, const std::u16string& value) override {
    std::lock_guard lock(mutex_);
    if (!opened_) return false;
    const std::string n = internal::Utf16ToUtf8(name);
    const std::string v = internal::Utf16ToUtf8(value);
    // A line break or zero byte in a value would start another header.
    if (!internal::IsHeaderName(n) || v.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) {
      return false;
    }
    auto same = std::find_if(headers_.begin(), headers_.end(), [&](const internal::HeaderLine& h) {
      return internal::EqualsIgnoreCase(h.name, n);
    });
    std::string trimmed = v;
    while (!trimmed.empty() && (trimmed.back() == ' ' || trimmed.back() == '\t')) trimmed.pop_back();
    const size_t first = trimmed.find_first_not_of(" \t");
    trimmed.erase(0, first == std::string::npos ? trimmed.size() : first);
    if (same != headers_.end()) {
      same->value = std::move(trimmed);  // a second call replaces the value
    } else {
      headers_.push_back({n, std::move(trimmed)});
    }
    return true;
  }

  bool Send(const std::u16string& body) override {
    const std::string utf8 = internal::Utf16ToUtf8(body);
    return Send(ByteSet(utf8.begin(), utf8.end()));
  }

  bool Send(const ByteSet& body) override {
    std::lock_guard lock(mutex_);
    if (!opened_ || cookies_ == nullptr) return false;
    opened_ = false;  // every request starts with Open

    TransferRequest request;
    request.url = url_;
    request.verb = verb_;
    request.sendBody = !body.empty() || verb_ == "POST";
    request.body = body;
    request.headers = headers_;
    request.followRedirects = followRedirects_;
    request.allowHttpToHttps = true;
    request.allowHttpsToHttp = false;
    if (proxy_) {
      request.proxyFor = [rules = *proxy_](std::string_view scheme, std::string_view) {
        const internal::ProxyRoute& route = scheme == "https" ? rules.https : rules.http;
        ProxyChoice choice;
        if (route.set) {
          choice.kind = route.server.empty() ? ProxyChoice::Kind::kUnusable : ProxyChoice::Kind::kProxy;
          choice.server = route.server;
        }
        return choice;
      };
      request.proxyCredentials = proxyCredentials_;
    }
    request.serverCredentials = serverCredentials_;
    // libcurl checks the chain (authority, dates, usage) as one: it is only
    // skipped when all three are to be ignored. The name check is separate.
    constexpr int kChainErrors = kIgnoreUnknownAuthority | kIgnoreWrongUsage | kIgnoreInvalidDate;
    request.verifyPeer = (ignoredCertErrors_ & kChainErrors) != kChainErrors;
    request.verifyHost = (ignoredCertErrors_ & kIgnoreInvalidCommonName) == 0;
    request.cookieStore = cookies_;
    request.timeouts.connectMs = std::min(Bounded(resolveMs_) + Bounded(connectMs_), kLongestWaitMs);
    request.timeouts.sendMs = Bounded(sendMs_);
    request.timeouts.receiveMs = Bounded(receiveMs_);

    Transfer transfer;
    if (!transfer.Start(std::move(request))) return false;
    ByteSet received;
    if (!transfer.ReadAll(received)) return false;  // a cut-off body is no response
    // Header lines without the status line, each ending "\r\n", then one
    // empty line.
    const std::string& raw = transfer.RawHeaders();
    const size_t firstLineEnd = raw.find("\r\n");
    const std::string lines = firstLineEnd == std::string::npos ? "\r\n" : raw.substr(firstLineEnd + 2);
    headersText_ = internal::Utf8OrLatin1ToUtf16(lines);
    body_ = std::move(received);
    return true;
  }

  std::optional<ByteSet> ResponseBody() override {
    std::lock_guard lock(mutex_);
    return body_;
  }

  std::optional<std::u16string> GetAllResponseHeaders() override {
    std::lock_guard lock(mutex_);
    return headersText_;
  }

 private:
  std::mutex mutex_;
  CURLSH* cookies_;  // this object's cookies, kept from request to request
  int resolveMs_ = 0;  // unbounded (to callers)
  int connectMs_ = 60000;
  int sendMs_ = 30000;
  int receiveMs_ = 30000;
  std::optional<internal::ProxyRules> proxy_;
  std::optional<std::pair<std::string, std::string>> proxyCredentials_;
  std::optional<std::pair<std::string, std::string>> serverCredentials_;
  bool followRedirects_ = true;
  int ignoredCertErrors_ = 0;

  bool opened_ = false;
  std::string verb_;
  std::string url_;
  std::vector<internal::HeaderLine> headers_;

  std::optional<ByteSet> body_;
  std::optional<std::u16string> headersText_;
};

// How many Begin() calls of this thread are not yet balanced by End().
thread_local int t_beginDepth = 0;

class CurlRequestObjectFactory final : public RequestObjects {
 public:
  bool Begin() override {
    internal::EnsureCurlReady();
    ++t_beginDepth;
    return true;
  }
  void End() override {
    if (t_beginDepth > 0) --t_beginDepth;
  }
  std::shared_ptr<RequestObject> Create(const std::u16string& progId) override {
    if (!EqualsIgnoreCase16(progId, kRequestClassName)) return nullptr;
    internal::EnsureCurlReady();
    return std::make_shared<CurlRequestObject>();
  }
};

}  // namespace

RequestObjects& CurlRequestObjects() {
  static auto* objects = new CurlRequestObjectFactory;
  return *objects;
}

}  // namespace zivorna::platform
