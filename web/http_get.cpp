#include "web/http_get.h"

#include <algorithm>
#include <cstdint>

#include "web/inet_fetch.h"
#include "web/url.h"

namespace zivorna {
namespace {

constexpr std::string_view kAgent = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";

struct UrlParts {
  Text host;
  int port = 0;
  Text path;
  bool secure = false;
};

// Splits an absolute http or https URL. Anything else (no scheme, another
// scheme, an empty host, a port that is not a number from 1 to 65535) is
// not a URL this fetch can request, and neither is a host with bytes that
// no host name has (a query straight after the host, user information).
std::optional<UrlParts> ParseUrl(const Text& url) {
  const Text lower = ToLowerCase(url);
  UrlParts parts;
  if (lower.starts_with("https://")) {
    parts.secure = true;
  } else if (!lower.starts_with("http://")) {
    return std::nullopt;
  }
  const Text authority = UrlHost(url, false, true);
  parts.host = UrlHost(url);
  const auto hostByte = [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_';
  };
  if (parts.host.empty() || !std::all_of(parts.host.begin(), parts.host.end(), hostByte)) {
    return std::nullopt;
  }
  if (authority.size() != parts.host.size()) {
    // An explicit port: everything after the first ":" must be its digits.
    const Text port = authority.substr(parts.host.size() + 1);
    if (port.empty() || port.size() > 5 ||
        !std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      return std::nullopt;
    }
    parts.port = std::stoi(port);
    if (parts.port < 1 || parts.port > 65535) return std::nullopt;
  } else {
    parts.port = parts.secure ? 443 : 80;
  }
  parts.path = UrlPath(url);
  return parts;
}

}  // namespace

ByteSet HttpGetBytes(platform::Internet& internet, const Text& url) {
  using namespace platform;
  if (url.empty()) return {};
  const std::optional<UrlParts> parts = ParseUrl(url);
  if (!parts) return {};

  const InetHandle session =
      internet.OpenInternet(Text(kAgent), kInternetOpenTypeDirect, std::nullopt, std::nullopt, 0);
  if (session == 0) return {};
  const InetHandle connection = internet.Connect(session, parts->host, parts->port, std::nullopt,
                                                 std::nullopt, kInternetServiceHttp, 0, 0);
  if (connection == 0) {
    internet.CloseHandle(session);
    return {};
  }
  std::uint32_t flags = kFlagReload | kFlagNoCacheWrite;
  if (parts->secure) flags |= kFlagSecure;
  const InetHandle request =
      internet.OpenRequest(connection, "GET", parts->path, "HTTP/1.0", std::nullopt, flags, 0);

  ByteSet body;
  if (request != 0 && internet.SendRequest(request, "Accept: */*\r\n\r\n", ByteSet())) {
    body = internal::ReadWholeBody(internet, request);
  }
  if (request != 0) internet.CloseHandle(request);
  internet.CloseHandle(connection);
  internet.CloseHandle(session);
  return body;
}

ByteSet HttpGetBytes(const Text& url) { return HttpGetBytes(platform::CurlInternet(), url); }

}  // namespace zivorna
