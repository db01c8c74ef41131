// `InetFetch`: one HTTP or HTTPS request over the connection layer, with the
// module's default headers, cookie handling and redirect reporting.
#pragma once

#include <optional>

#include "platform/internet.h"
#include "text/text.h"

namespace zivorna {

// The one User-Agent text of the HTTP module.
inline constexpr std::string_view DefaultUserAgent =
    "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1; KVRTA; .NET CLR 2.0.50727; "
    ".NET CLR 3.0.04506.648; .NET CLR 3.5.21022)";

// Optional parameters of InetFetch. A null pointer is a left-out in-out or
// out parameter (the routine works on a private variable); a non-null one is
// the caller's variable, written in place. `cookies` and `proxy` are
// "supplied" when non-null / engaged, even when empty.
struct InetFetchArgs {
  int method = 0;              // 1: POST; other: GET. Non-zero sends a body.
  Text postText{};               // body as text, used when postBytes is empty
  Text* cookies = nullptr;     // in-out cookie string
  Text* receivedCookies = nullptr;  // out
  Text* extraHeaders = nullptr;     // in-out request header block
  Text* redirectTo = nullptr;       // in-out
  bool noRedirect = false;
  ByteSet* postBytes = nullptr;     // in-out body bytes
  std::optional<Text> proxy{};        // HOST:PORT of an HTTP proxy
  Text* responseHeaders = nullptr;  // out raw response header block
};

// Returns the response body (empty on failure). Example:
//   Text jar;  ByteSet body = InetFetch("http://127.0.0.1:8080/", {.cookies = &jar});
ByteSet InetFetch(platform::Internet& internet, const Text& url, const InetFetchArgs& args = {});
ByteSet InetFetch(const Text& url, const InetFetchArgs& args = {});

namespace internal {
// The scan of a response header block shared by both request routines: the
// last line holding "Location:" (letter case significant, anywhere in the
// line) gives `redirectTo` its value; each line holding "Set-Cookie" adds the
// trimmed text between "Set-Cookie:" and the next ";" to `receivedCookies`,
// which starts empty and is joined with "; ". `redirectTo` is left alone
// when no line names a location.
void ScanResponseHeaders(const Text& responseHeaders, Text& redirectTo, Text& receivedCookies);
// Reads a request's body in 1,024-byte reads until a read delivers nothing:
// the end of the body, or a failure that leaves the bytes read so far.
ByteSet ReadWholeBody(platform::Internet& internet, platform::InetHandle request);
}  // namespace internal

}  // namespace zivorna
