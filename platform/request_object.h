// The request-object layer: an HTTP request object with members that take
// Unicode text (set time-outs, proxy, credentials, open, options, headers,
// send, read the response), and the per-thread start/end pairing that must
// bracket its use. `CurlRequestObjects()` is the real implementation over
// libcurl; tests substitute recording fakes.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "text/text.h"

namespace zivorna::platform {

// Option numbers of SetOption.
inline constexpr int kOptionSslErrorIgnoreFlags = 4;
inline constexpr int kOptionEnableRedirects = 6;
// SetProxy setting that names a proxy server.
inline constexpr int kProxySettingProxy = 2;
// SetCredentials targets.
inline constexpr int kCredentialsForServer = 0;
inline constexpr int kCredentialsForProxy = 1;

class RequestObject {
 public:
  virtual ~RequestObject() = default;
  // Each member returns false when the object refuses or the call fails.
  virtual bool SetTimeouts(int resolveMs, int connectMs, int sendMs, int receiveMs) = 0;
  virtual bool SetProxy(int setting, const std::u16string& server) = 0;
  virtual bool SetCredentials(const std::u16string& user, const std::u16string& password,
                              int flags) = 0;
  virtual bool Open(const std::u16string& verb, const std::u16string& url, bool async) = 0;
  virtual bool SetOption(int option, int value) = 0;
  virtual bool SetRequestHeader(const std::u16string& name, const std::u16string& value) = 0;
  // A text body is sent as UTF-8.
  virtual bool Send(const std::u16string& body) = 0;
  virtual bool Send(const ByteSet& body) = 0;
  // nullopt when there is no response to read.
  virtual std::optional<ByteSet> ResponseBody() = 0;
  // The response's header lines as one text, each line ending "\r\n".
  virtual std::optional<std::u16string> GetAllResponseHeaders() = 0;
};

// Creates request objects and brackets their use on a thread.
class RequestObjects {
 public:
  virtual ~RequestObjects() = default;
  // Starts the use of request objects on the calling thread; calls nest and
  // each successful one is balanced by one End().
  virtual bool Begin() = 0;
  virtual void End() = 0;
  // A new object for `progId`, or null when it cannot be made.
  virtual std::shared_ptr<RequestObject> Create(const std::u16string& progId) = 0;
};

// The process's libcurl-backed request objects. Each object keeps its own
// cookies between its requests; Open comes before every Send; Send blocks
// until the whole response is in (a body cut off midway fails the Send).
// Time-outs of 0 mean no limit to callers but still end after ten minutes.
RequestObjects& CurlRequestObjects();

}  // namespace zivorna::platform
