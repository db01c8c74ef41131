// The connection layer over libcurl. Handles are numbers into a registry of
// sessions, connections and requests; a number is never reused, so a closed
// or unknown handle is simply not found. Each request owns one transfer,
// started by SendRequest and read by ReadFile.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <variant>

#include "platform/curl_transfer.h"
#include "platform/http_settings.h"
#include "platform/http_text.h"
#include "platform/internet.h"

namespace zivorna::platform {
namespace {

using internal::ProxyChoice;
using internal::Transfer;
using internal::TransferRequest;

// Access types that take no proxy. This layer reads no system proxy
// configuration, so the "pre-configured" types (0 and 4) also go direct.
constexpr int kInternetOpenTypePreconfig = 0;
constexpr int kInternetOpenTypePreconfigNoAutoproxy = 4;

struct Session {
  std::string agent;
  bool viaProxy = false;
  internal::ProxyRules proxyRules;
  std::string bypass;
};

struct Connection {
  std::shared_ptr<const Session> session;
  std::string host;  // as it goes into a URL (IPv6 literals in brackets)
  int port = 0;      // 0: the scheme's default
  std::optional<std::pair<std::string, std::string>> credentials;
};

struct Request {
  std::shared_ptr<const Connection> connection;
  std::string verb;
  std::string path;  // percent-encoded where needed
  bool http10 = false;
  std::uint32_t flags = 0;
  std::string referrer;
  std::mutex mutex;  // one call at a time on a request
  std::unique_ptr<Transfer> transfer;
};

using Entry =
    std::variant<std::shared_ptr<Session>, std::shared_ptr<Connection>, std::shared_ptr<Request>>;

bool IsHostByte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_';
}

bool IsIpv6Byte(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == ':' ||
         c == '.';
}

// The host as it goes into a URL, or nullopt when it is not a plain name or
// address (so nothing in it can change the meaning of the URL).
std::optional<std::string> UrlHost(std::string_view host) {
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  if (host.empty()) return std::nullopt;
  if (host.find(':') != std::string_view::npos) {
    for (char c : host) {
      if (!IsIpv6Byte(c)) return std::nullopt;
    }
    return "[" + std::string(host) + "]";
  }
  for (char c : host) {
    if (!IsHostByte(c)) return std::nullopt;
  }
  return std::string(host);
}

// The request path as it goes into the URL: bytes a URL cannot carry raw are
// percent-encoded as they are (GBK bytes stay GBK), and "#" too, which would
// otherwise cut the path off as a fragment.
std::string EncodePath(std::string_view path) {
  std::string encoded = internal::PercentEncodeUnsafe(path);
  std::string out;
  out.reserve(encoded.size() + 1);
  if (encoded.empty() || encoded.front() != '/') out += '/';
  for (char c : encoded) {
    if (c == '#') {
      out += "%23";
    } else {
      out += c;
    }
  }
  return out;
}

// A value that goes into a header line ends at its first line break (or zero
// byte), so that it cannot add header lines of its own.
std::string OneLine(std::string_view value) {
  return std::string(value.substr(0, value.find_first_of(std::string_view("\r\n\0", 3))));
}

class CurlInternetLayer final : public Internet {
 public:
  InetHandle OpenInternet(const Text& agent, int accessType, const std::optional<Text>& proxyList,
                          const std::optional<Text>& proxyBypass, std::uint32_t) override {
    auto session = std::make_shared<Session>();
    session->agent = OneLine(agent);
    switch (accessType) {
      case kInternetOpenTypeDirect:
      case kInternetOpenTypePreconfig:
      case kInternetOpenTypePreconfigNoAutoproxy:
        break;
      case kInternetOpenTypeProxy:
        if (!proxyList) return 0;
        session->viaProxy = true;
        session->proxyRules = internal::ParseProxyList(*proxyList);
        session->bypass = proxyBypass.value_or(Text());
        break;
      default:
        return 0;
    }
    return Add(std::move(session));
  }

  InetHandle Connect(InetHandle internet, const Text& host, int port,
                     const std::optional<Text>& userName, const std::optional<Text>& password,
                     int service, std::uint32_t, std::uintptr_t) override {
    auto session = Find<Session>(internet);
    const std::optional<std::string> urlHost = UrlHost(host);
    if (!session || !urlHost || service != kInternetServiceHttp || port < 0 || port > 65535) {
      return 0;
    }
    auto connection = std::make_shared<Connection>();
    connection->session = std::move(session);
    connection->host = *urlHost;
    connection->port = port;
    if (userName && !userName->empty()) {
      connection->credentials.emplace(*userName, password.value_or(Text()));
    }
    return Add(std::move(connection));
  }

  InetHandle OpenRequest(InetHandle connection, const Text& verb, const Text& path,
                         const Text& version, const std::optional<Text>& referrer,
                         std::uint32_t flags, std::uintptr_t) override {
    auto conn = Find<Connection>(connection);
    if (!conn) return 0;
    const std::string method = verb.empty() ? std::string("GET") : verb;
    if (!internal::IsHeaderName(method)) return 0;  // a verb is a token too
    auto request = std::make_shared<Request>();
    request->connection = std::move(conn);
    request->verb = method;
    request->path = EncodePath(path);
    request->http10 = internal::EqualsIgnoreCase(version, "HTTP/1.0");
    request->flags = flags;
    request->referrer = OneLine(referrer.value_or(Text()));
    return Add(std::move(request));
  }

  bool SendRequest(InetHandle request, const Text& headers, const ByteSet& body) override {
    auto req = Find<Request>(request);
    if (!req) return false;
    std::lock_guard lock(req->mutex);
    const Connection& conn = *req->connection;
    const bool secure = (req->flags & kFlagSecure) != 0;
    const int port = conn.port != 0 ? conn.port : (secure ? 443 : 80);

    TransferRequest transfer;
    transfer.url = std::string(secure ? "https://" : "http://") + conn.host + ":" +
                   std::to_string(port) + req->path;
    transfer.verb = req->verb;
    transfer.sendBody = !body.empty() || req->verb == "POST";
    transfer.body = body;
    transfer.http10 = req->http10;
    transfer.headers = internal::SplitHeaderBlock(headers);
    if (!req->referrer.empty()) {
      const bool hasReferer =
          std::any_of(transfer.headers.begin(), transfer.headers.end(), [](const auto& h) {
            return internal::EqualsIgnoreCase(h.name, "Referer");
          });
      if (!hasReferer) transfer.headers.push_back({"Referer", req->referrer});
    }
    transfer.userAgent = conn.session->agent;
    transfer.followRedirects = (req->flags & kFlagNoAutoRedirect) == 0;
    transfer.allowHttpToHttps = (req->flags & kFlagIgnoreRedirectToHttps) != 0;
    transfer.allowHttpsToHttp = false;
    transfer.proxyFor = [session = conn.session](std::string_view scheme, std::string_view host) {
      ProxyChoice choice;
      if (!session->viaProxy || internal::HostBypassesProxy(host, session->bypass)) return choice;
      const internal::ProxyRoute& route =
          scheme == "https" ? session->proxyRules.https : session->proxyRules.http;
      if (!route.set) return choice;
      if (route.server.empty()) {
        choice.kind = ProxyChoice::Kind::kUnusable;
      } else {
        choice.kind = ProxyChoice::Kind::kProxy;
        choice.server = route.server;
      }
      return choice;
    };
    transfer.serverCredentials = conn.credentials;
    if ((req->flags & kFlagNoCookies) == 0) transfer.cookieStore = internal::SharedCookieStore();
    const InternetTimeouts timeouts = CurrentInternetTimeouts();
    transfer.timeouts = {timeouts.connectMs, timeouts.sendMs, timeouts.receiveMs};

    req->transfer = std::make_unique<Transfer>();
    return req->transfer->Start(std::move(transfer));
  }

  bool ReadFile(InetHandle request, std::uint8_t* buffer, std::uint32_t toRead,
                std::uint32_t* read) override {
    if (read != nullptr) *read = 0;
    auto req = Find<Request>(request);
    if (!req || read == nullptr || (buffer == nullptr && toRead > 0)) return false;
    std::lock_guard lock(req->mutex);
    if (!req->transfer) return false;
    *read = static_cast<std::uint32_t>(req->transfer->Read(buffer, toRead));
    // The end of the body is a success; a break shows as a failed last read.
    return *read > 0 || !req->transfer->Failed();
  }

  bool QueryInfo(InetHandle request, std::uint32_t infoLevel, char* buffer, std::uint32_t* length,
                 std::uint32_t*) override {
    auto req = Find<Request>(request);
    if (!req || length == nullptr || infoLevel != kQueryRawHeadersCrlf) return false;
    std::lock_guard lock(req->mutex);
    if (!req->transfer || req->transfer->RawHeaders().empty()) return false;
    const std::string& headers = req->transfer->RawHeaders();
    const std::uint64_t needed = static_cast<std::uint64_t>(headers.size()) + 1;  // zero byte
    if (buffer == nullptr || *length < needed) {
      *length = static_cast<std::uint32_t>(std::min<std::uint64_t>(needed, UINT32_MAX));
      return false;
    }
    std::memcpy(buffer, headers.data(), headers.size());
    buffer[headers.size()] = '\0';
    *length = static_cast<std::uint32_t>(headers.size());
    return true;
  }

  bool CloseHandle(InetHandle handle) override {
    Entry entry;
    {
      std::lock_guard lock(mutex_);
      auto it = handles_.find(handle);
      if (it == handles_.end()) return false;
      entry = std::move(it->second);
      handles_.erase(it);
    }
    // A request's transfer ends here, outside the registry lock (or later, when
    // another thread still inside a call on it lets go).
    return true;
  }

 private:
  InetHandle Add(Entry entry) {
    internal::EnsureCurlReady();
    std::lock_guard lock(mutex_);
    const InetHandle handle = next_++;
    handles_.emplace(handle, std::move(entry));
    return handle;
  }

  template <typename T>
  std::shared_ptr<T> Find(InetHandle handle) {
    std::lock_guard lock(mutex_);
    auto it = handles_.find(handle);
    if (it == handles_.end()) return nullptr;
    if (auto* p = std::get_if<std::shared_ptr<T>>(&it->second)) return *p;
    return nullptr;
  }

  std::mutex mutex_;
  std::unordered_map<InetHandle, Entry> handles_;
  InetHandle next_ = 1;
};

}  // namespace

Internet& CurlInternet() {
  // Never destroyed: worker threads may still hold handles while the process
  // exits.
  static auto* layer = new CurlInternetLayer;
  return *layer;
}

}  // namespace zivorna::platform
