#include "web/com_fetch.h"

#include <climits>
#include <cstdint>

#include "platform/gbk.h"
#include "web/cookies.h"
#include "web/inet_fetch.h"
#include "web/url.h"

namespace zivorna {
namespace {

constexpr std::u16string_view kProgId = u"WinHttp.WinHttpRequest.5.1";
constexpr int kDefaultTimeoutMs = 15000;

// Balances one successful Begin() with one End() on every path out.
class ObjectsInUse {
 public:
  explicit ObjectsInUse(platform::RequestObjects& objects)
      : objects_(objects), begun_(objects.Begin()) {}
  ~ObjectsInUse() {
    if (begun_) objects_.End();
  }
  ObjectsInUse(const ObjectsInUse&) = delete;
  ObjectsInUse& operator=(const ObjectsInUse&) = delete;

 private:
  platform::RequestObjects& objects_;
  bool begun_;
};

std::u16string Wide(std::string_view gbk) { return platform::GbkToUtf16(gbk); }

Text DefaultHeaderBlock(const Text& url) {
  return ConcatText("Referer: ", url, "\r\nAccept: */*\r\nAccept-Language: zh-cn\r\nUser-Agent: ",
                    DefaultUserAgent, "\r\nContent-Type: application/x-www-form-urlencoded");
}

// The time-out for all four phases, or 0 to leave the object's own. Seconds
// are turned into milliseconds without overflow: a count too large for a
// 32-bit millisecond value gets the largest one instead of wrapping to a
// negative (or tiny) time-out.
int TimeoutMs(int timeoutSeconds) {
  if (timeoutSeconds < 1) return kDefaultTimeoutMs;
  const std::int64_t ms = static_cast<std::int64_t>(timeoutSeconds) * 1000;
  return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

}  // namespace

ByteSet ComFetch(platform::RequestObjects& objects, const Text& url, const ComFetchArgs& args) {
  Text ownCookies, ownReceived, ownHeaders, ownRedirect, ownResponseHeaders;
  Text& cookies = args.cookies ? *args.cookies : ownCookies;
  Text& receivedCookies = args.receivedCookies ? *args.receivedCookies : ownReceived;
  Text& extraHeaders = args.extraHeaders ? *args.extraHeaders : ownHeaders;
  Text& redirectTo = args.redirectTo ? *args.redirectTo : ownRedirect;
  Text& responseHeaders = args.responseHeaders ? *args.responseHeaders : ownResponseHeaders;

  const ObjectsInUse inUse(objects);
  const std::u16string verb = args.method == 1 ? u"POST" : u"GET";

  // A supplied object is shared with the caller; this call holds its own
  // reference until it returns. One that holds nothing makes every member
  // call below fail, which ends the call like a failed send.
  std::shared_ptr<platform::RequestObject> object;
  if (args.requestObject) {
    object = *args.requestObject;
  } else {
    object = objects.Create(std::u16string(kProgId));
    if (!object) return {};
  }

  // Every member call's failure is ignored: the request goes on with the next
  // step and a failure shows only as empty results.
  if (object && args.timeoutSeconds != -1) {
    const int ms = TimeoutMs(args.timeoutSeconds);
    object->SetTimeouts(ms, ms, ms, ms);
  }
  const bool useProxy = !args.proxy.empty();
  if (object && useProxy) object->SetProxy(platform::kProxySettingProxy, Wide(args.proxy));
  if (object) object->Open(verb, Wide(url), false);
  // Credentials go to a request that has been opened; the object refuses them
  // earlier.
  if (object && useProxy && !args.proxyUser.empty()) {
    object->SetCredentials(Wide(args.proxyUser), Wide(args.proxyPassword),
                           args.proxyCredentialFlag.value_or(platform::kCredentialsForProxy));
  }
  if (object && args.noRedirect) object->SetOption(platform::kOptionEnableRedirects, 0);
  // Certificate checks stay on: a server whose certificate does not validate
  // fails at Send like any other failed request.

  if (extraHeaders.empty()) extraHeaders = DefaultHeaderBlock(url);
  if (object && !cookies.empty()) object->SetRequestHeader(u"Cookie", Wide(cookies));
  if (object) {
    if (FindText(extraHeaders, "\r\n") == -1) {
      object->SetRequestHeader(Wide(HeaderName(extraHeaders)), Wide(HeaderValue(extraHeaders)));
    } else {
      for (const Text& line : SplitText(extraHeaders, "\r\n")) {
        if (line.empty()) continue;
        object->SetRequestHeader(Wide(HeaderName(line)), Wide(HeaderValue(line)));
      }
    }
    if (!args.postBytes.empty()) {
      object->Send(args.postBytes);
    } else {
      object->Send(Wide(args.postText));
    }
  }

  ByteSet body;
  std::optional<std::u16string> headers;
  if (object) {
    if (std::optional<ByteSet> received = object->ResponseBody()) body = std::move(*received);
    headers = object->GetAllResponseHeaders();
  }
  responseHeaders = headers ? platform::Utf16ToGbk(*headers) : Text();

  internal::ScanResponseHeaders(responseHeaders, redirectTo, receivedCookies);
  MergeCookies(cookies, receivedCookies);
  if (redirectTo.empty()) redirectTo = responseHeaders;
  return body;
}

ByteSet ComFetch(const Text& url, const ComFetchArgs& args) {
  return ComFetch(platform::CurlRequestObjects(), url, args);
}

}  // namespace zivorna
