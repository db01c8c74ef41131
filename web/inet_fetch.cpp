#include "web/inet_fetch.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "web/cookies.h"
#include "web/url.h"

namespace zivorna {
namespace {

constexpr std::uint32_t kReadChunk = 1024;
// Size of the response header buffer, terminating zero byte included. A
// larger header block is not delivered at all.
constexpr std::uint32_t kHeaderBufferSize = 5000;

// The User-Agent for the internet handle. A caller's block that carries a
// User-Agent line names the agent; otherwise the module's own is used. The
// line itself stays in the block and is sent with the others.
Text ChooseAgent(const Text& headers) {
  if (FindText(headers, "User-Agent:", 1, true) == -1) return Text(DefaultUserAgent);
  Text agent = TrimBothEnds(TextBetween(headers, "User-Agent:", "\r\n"));
  if (!agent.empty()) return agent;
  if (FindText(headers, "\r\n") == -1) return HeaderValue(headers);
  // Several lines, and the exact "User-Agent:" ... "\r\n" reading found
  // nothing: the name is in another letter case, the line is the last one,
  // or its value is empty. Take the value of the first line named
  // User-Agent in any letter case; with none (or an empty value) fall back
  // to the module's own agent rather than sending a stray header value.
  for (const Text& line : SplitText(headers, "\r\n")) {
    if (CompareText(ToLowerCase(HeaderName(line)), "user-agent") == 0) {
      agent = HeaderValue(line);
      break;
    }
  }
  return agent.empty() ? Text(DefaultUserAgent) : agent;
}

// Adds the default lines the block lacks. Each name is searched for exactly
// (letter case significant) anywhere in the block.
void CompleteHeaders(Text& headers, const Text& url, const Text& cookies) {
  if (FindText(headers, "Referer:") == -1) {
    headers = headers.empty() ? ConcatText("Referer: ", url)
                              : ConcatText(headers, "\r\nReferer: ", url);
  }
  if (FindText(headers, "Accept:") == -1) headers = ConcatText(headers, "\r\nAccept: */*");
  if (FindText(headers, "Accept-Language:") == -1) {
    headers = ConcatText(headers, "\r\nAccept-Language: zh-cn");
  }
  if (FindText(headers, "Content-Type:") == -1) {
    headers = ConcatText(headers, "\r\nContent-Type: application/x-www-form-urlencoded");
  }
  if (!cookies.empty()) headers = ConcatText(headers, "\r\nCookie: ", cookies);
}

}  // namespace

namespace internal {

void ScanResponseHeaders(const Text& responseHeaders, Text& redirectTo, Text& receivedCookies) {
  receivedCookies.clear();
  for (const Text& line : SplitText(responseHeaders, "\r\n")) {
    // Both markers are matched anywhere in the line, letter case significant,
    // so a Content-Location line also sets the redirect target.
    if (FindText(line, "Location:") != -1) redirectTo = HeaderValue(line);
    if (FindText(line, "Set-Cookie") != -1) {
      receivedCookies =
          ConcatText(receivedCookies, TrimBothEnds(TextBetween(line, "Set-Cookie:", ";")), "; ");
    }
  }
  receivedCookies = TextLeft(receivedCookies, TextLength(receivedCookies) - 2);
}

ByteSet ReadWholeBody(platform::Internet& internet, platform::InetHandle request) {
  ByteSet body;
  for (;;) {
    std::array<std::uint8_t, kReadChunk> buffer{};
    std::uint32_t read = 0;
    internet.ReadFile(request, buffer.data(), kReadChunk, &read);
    if (read == 0) break;
    // Never trust the layer to stay inside the buffer it was given.
    read = std::min(read, kReadChunk);
    body.insert(body.end(), buffer.begin(), buffer.begin() + read);
  }
  return body;
}

}  // namespace internal

ByteSet InetFetch(platform::Internet& internet, const Text& url, const InetFetchArgs& args) {
  using namespace platform;

  // Left-out in-out and out parameters are private variables.
  Text ownCookies, ownReceived, ownHeaders, ownRedirect, ownResponseHeaders;
  ByteSet ownPostBytes;
  const bool cookiesSupplied = args.cookies != nullptr;
  Text& cookies = cookiesSupplied ? *args.cookies : ownCookies;
  Text& receivedCookies = args.receivedCookies ? *args.receivedCookies : ownReceived;
  Text& extraHeaders = args.extraHeaders ? *args.extraHeaders : ownHeaders;
  Text& redirectTo = args.redirectTo ? *args.redirectTo : ownRedirect;
  ByteSet& postBytes = args.postBytes ? *args.postBytes : ownPostBytes;
  Text& responseHeaders = args.responseHeaders ? *args.responseHeaders : ownResponseHeaders;

  const Text verb = args.method == 1 ? "POST" : "GET";
  const Text agent = ChooseAgent(extraHeaders);

  const InetHandle session =
      args.proxy ? internet.OpenInternet(agent, kInternetOpenTypeProxy,
                                         ConcatText("http=", *args.proxy), Text(), 0)
                 : internet.OpenInternet(agent, kInternetOpenTypeDirect, std::nullopt,
                                         std::nullopt, 0);
  if (session == 0) return {};

  const InetHandle connection = internet.Connect(session, UrlHost(url), UrlPort(url), std::nullopt,
                                                 std::nullopt, kInternetServiceHttp, 0, 0);
  if (connection == 0) {
    internet.CloseHandle(session);
    return {};
  }

  std::uint32_t flags = kFlagReload | kFlagNeedFile;
  if (cookiesSupplied) flags |= kFlagNoCookies;
  if (args.noRedirect) flags |= kFlagNoAutoRedirect;
  flags |= ToLowerCase(TextLeft(url, 5)) == "https" ? kFlagSecure : kFlagIgnoreRedirectToHttps;

  const InetHandle request =
      internet.OpenRequest(connection, verb, UrlPath(url), "HTTP/1.1", std::nullopt, flags, 0);
  if (request == 0) {
    internet.CloseHandle(connection);
    internet.CloseHandle(session);
    return {};
  }

  // From here on the caller's variables are written and nothing stops the
  // request; failures show as an empty body and an empty header block.
  CompleteHeaders(extraHeaders, url, cookies);

  if (args.method == 0) {
    internet.SendRequest(request, extraHeaders, ByteSet());
  } else {
    if (postBytes.empty()) postBytes = TextToBytes(args.postText);
    internet.SendRequest(request, extraHeaders, postBytes);
  }

  ByteSet body = internal::ReadWholeBody(internet, request);

  {
    std::array<char, kHeaderBufferSize> buffer{};
    std::uint32_t length = kHeaderBufferSize;
    if (internet.QueryInfo(request, kQueryRawHeadersCrlf, buffer.data(), &length, nullptr)) {
      length = std::min(length, kHeaderBufferSize - 1);
      responseHeaders.assign(buffer.data(), length);
    } else {
      responseHeaders.clear();
    }
  }

  internet.CloseHandle(request);
  internet.CloseHandle(connection);
  internet.CloseHandle(session);

  internal::ScanResponseHeaders(responseHeaders, redirectTo, receivedCookies);
  if (cookiesSupplied) MergeCookies(cookies, receivedCookies);
  if (redirectTo.empty()) redirectTo = responseHeaders;
  return body;
}

ByteSet InetFetch(const Text& url, const InetFetchArgs& args) {
  return InetFetch(platform::CurlInternet(), url, args);
}

}  // namespace zivorna
