// One whole exchange over the connection layer, as its callers make it:
// open, connect, open the request, send, read in fixed chunks, query the raw
// header block, close every handle.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/internet.h"

namespace zivorna::testing {

struct InetCall {
  std::string agent = "zivorna-test";
  int accessType = platform::kInternetOpenTypeDirect;
  std::optional<Text> proxyList;
  std::optional<Text> proxyBypass;
  std::string host = "127.0.0.1";
  int port = 0;
  std::string verb = "GET";
  std::string path = "/";
  std::string version = "HTTP/1.1";
  std::uint32_t flags = platform::kFlagReload | platform::kFlagNoCookies;
  std::string headers;
  ByteSet body;
  std::uint32_t chunk = 1024;
};

struct InetOutcome {
  bool sent = false;          // SendRequest's result
  ByteSet body;               // every byte ReadFile delivered
  bool lastReadOk = true;     // the result of the read that delivered 0
  std::optional<std::string> rawHeaders;  // QueryInfo with a large buffer
};

inline InetOutcome InetExchange(const InetCall& call,
                                platform::Internet& net = platform::CurlInternet()) {
  using namespace platform;
  InetOutcome out;
  const InetHandle internet = net.OpenInternet(call.agent, call.accessType, call.proxyList,
                                               call.proxyBypass, 0);
  const InetHandle connection = net.Connect(internet, call.host, call.port, std::nullopt,
                                            std::nullopt, kInternetServiceHttp, 0, 0);
  const InetHandle request = net.OpenRequest(connection, call.verb, call.path, call.version,
                                             std::nullopt, call.flags, 0);
  if (request != 0) {
    out.sent = net.SendRequest(request, call.headers, call.body);
    std::string chunk(call.chunk, '\0');
    for (;;) {
      std::uint32_t read = 0;
      const bool ok = net.ReadFile(request, reinterpret_cast<std::uint8_t*>(chunk.data()), call.chunk, &read);
      if (read == 0) {
        out.lastReadOk = ok;
        break;
      }
      out.body.insert(out.body.end(), chunk.begin(), chunk.begin() + read);
    }
    std::string headers(1 << 20, '\0');
    std::uint32_t length = static_cast<std::uint32_t>(headers.size());
    if (net.QueryInfo(request, kQueryRawHeadersCrlf, headers.data(), &length, nullptr)) {
      headers.resize(length);
      out.rawHeaders = headers;
    }
  }
  net.CloseHandle(request);
  net.CloseHandle(connection);
  net.CloseHandle(internet);
  return out;
}

inline std::string AsString(const ByteSet& bytes) { return std::string(bytes.begin(), bytes.end()); }

}  // namespace zivorna::testing
