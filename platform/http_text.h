// Byte and text work shared by the two HTTP layers: percent-encoding of the
// bytes a URL cannot carry raw, UTF-16 <-> UTF-8, the header-block and
// proxy-list formats the callers hand over. No network, no libcurl.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zivorna::platform::internal {

// Percent-encodes every byte of 0x80 and above, the space, the controls
// (below 0x20) and DEL as "%XX" (upper-case hex); every other byte, "%"
// included, passes unchanged, so an already-encoded URL stays as it is.
// PercentEncodeUnsafe("/a b\xCE\xE5") == "/a%20b%CE%E5".
[[nodiscard]] std::string PercentEncodeUnsafe(std::string_view bytes);

// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
[[nodiscard]] std::string Utf16ToUtf8(std::u16string_view text);
// Bytes to UTF-16: decoded as UTF-8 when the whole input is well-formed
// UTF-8 (no overlong forms, no surrogates), else byte by byte as Latin-1.
[[nodiscard]] std::u16string Utf8OrLatin1ToUtf16(std::string_view bytes);

// ASCII-only case-insensitive equality.
[[nodiscard]] bool EqualsIgnoreCase(std::string_view a, std::string_view b);

// One request header line taken apart: the name (trimmed) and the value
// (trimmed of spaces and tabs).
struct HeaderLine {
  std::string name;
  std::string value;
};

// Splits a header block into its lines. Lines end at any CR or LF, so a bare
// line break cannot smuggle a second header into one line. Empty lines, lines
// without ":", lines whose name is not a token (IsHeaderName) and lines whose
// value holds a zero byte are dropped.
// SplitHeaderBlock("A: 1\r\n\r\nB:2") == {{"A", "1"}, {"B", "2"}}.
[[nodiscard]] std::vector<HeaderLine> SplitHeaderBlock(std::string_view block);

// Whether `name` is a valid header field name (RFC 9110 token characters).
[[nodiscard]] bool IsHeaderName(std::string_view name);

// Where the requests of one scheme go.
struct ProxyRoute {
  bool set = false;     // the list names a proxy (or an empty one) for the scheme
  std::string server;   // "host:port"; empty when the list names an empty server
};

// A proxy list: entries separated by spaces or ";", each "scheme=server"
// (that scheme only) or "server" (every scheme). An optional "http://" in
// front of a server is dropped. "http=" names an empty server, which makes
// the scheme's requests fail rather than go out directly.
//   ParseProxyList("http=10.0.0.9:3128").http.server == "10.0.0.9:3128"
//   ParseProxyList("http=10.0.0.9:3128").https.set == false   (direct)
struct ProxyRules {
  ProxyRoute http;
  ProxyRoute https;
};
[[nodiscard]] ProxyRules ParseProxyList(std::string_view list);

// Whether `host` matches a bypass list (entries separated by spaces, "," or
// ";"): an exact host, a "*"-prefixed suffix such as "*.example.org", or
// "<local>" for host names without a dot. Case-insensitive.
[[nodiscard]] bool HostBypassesProxy(std::string_view host, std::string_view bypassList);

}  // namespace zivorna::platform::internal
