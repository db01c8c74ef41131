// The connection layer: a blocking, handle-based HTTP client interface with
// an internet handle, a connection handle and a request handle, as the
// request routine `InetFetch` and the picture fetch `HttpGetBytes` use it.
// `CurlInternet()` is the real implementation over libcurl; tests substitute
// recording fakes.
#pragma once

#include <cstdint>
#include <optional>

#include "text/text.h"

namespace zivorna::platform {

// An opaque handle; 0 is the null handle (failure).
using InetHandle = std::uintptr_t;

// Access types of OpenInternet.
inline constexpr int kInternetOpenTypeDirect = 1;
inline constexpr int kInternetOpenTypeProxy = 3;
// Service of Connect.
inline constexpr int kInternetServiceHttp = 3;
// Request flags (their values are part of the interface).
inline constexpr std::uint32_t kFlagReload = 0x80000000u;           // bypass any cache
inline constexpr std::uint32_t kFlagNoCacheWrite = 0x04000000u;     // never store in a cache
inline constexpr std::uint32_t kFlagNeedFile = 0x00000010u;         // no effect here
inline constexpr std::uint32_t kFlagNoCookies = 0x00080000u;        // no automatic cookie handling
inline constexpr std::uint32_t kFlagNoAutoRedirect = 0x00200000u;   // do not follow redirects
inline constexpr std::uint32_t kFlagSecure = 0x00800000u;           // TLS
inline constexpr std::uint32_t kFlagIgnoreRedirectToHttps = 0x00004000u;  // http -> https allowed
// Info level of QueryInfo: the raw response header block, lines ending "\r\n".
inline constexpr std::uint32_t kQueryRawHeadersCrlf = 22;

class Internet {
 public:
  virtual ~Internet() = default;

  // Opens an internet handle. `proxyList` and `proxyBypass` are null when
  // absent; a proxy list "http=HOST:PORT" applies to plain-http URLs only.
  virtual InetHandle OpenInternet(const Text& agent, int accessType,
                                  const std::optional<Text>& proxyList,
                                  const std::optional<Text>& proxyBypass, std::uint32_t flags) = 0;
  // Prepares a connection to host:port (no network traffic yet).
  virtual InetHandle Connect(InetHandle internet, const Text& host, int port,
                             const std::optional<Text>& userName,
                             const std::optional<Text>& password, int service,
                             std::uint32_t flags, std::uintptr_t context) = 0;
  // Prepares a request. `path` is sent as given, except that bytes of 0x80
  // and above are percent-encoded. Accept types are always null.
  virtual InetHandle OpenRequest(InetHandle connection, const Text& verb, const Text& path,
                                 const Text& version, const std::optional<Text>& referrer,
                                 std::uint32_t flags, std::uintptr_t context) = 0;
  // Sends the request with the header block (lines joined by "\r\n") and the
  // body (empty: no body bytes) and waits for the response headers.
  virtual bool SendRequest(InetHandle request, const Text& headers, const ByteSet& body) = 0;
  // Reads up to `toRead` body bytes into `buffer`; `*read` is 0 at the end of
  // the body or on failure.
  virtual bool ReadFile(InetHandle request, std::uint8_t* buffer, std::uint32_t toRead,
                        std::uint32_t* read) = 0;
  // Copies the requested info into `buffer` with a terminating zero byte;
  // on entry `*length` is the buffer's size, on success the bytes written
  // without the zero. Fails (false, nothing written to the buffer) when it
  // does not fit; `*length` then holds the size needed, zero byte included.
  // The raw header block is that of the final response (after redirects
  // followed): status line first, every line ending "\r\n", an empty line
  // last. Only kQueryRawHeadersCrlf is known.
  virtual bool QueryInfo(InetHandle request, std::uint32_t infoLevel, char* buffer,
                         std::uint32_t* length, std::uint32_t* index) = 0;
  virtual bool CloseHandle(InetHandle handle) = 0;
};

// The process's libcurl-backed connection layer (thread-safe). It takes no
// time-outs from callers: every wait is bounded by the process-wide limits of
// platform/http_settings.h (60 s to connect, 30 s of silence while sending or
// receiving). Requests without kFlagNoCookies share one in-memory cookie
// store for the whole process; nothing is written to disk.
Internet& CurlInternet();

}  // namespace zivorna::platform
