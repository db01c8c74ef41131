// The one libcurl transfer engine under both HTTP layers: a blocking HTTP
// exchange on the caller's thread, driven through a multi handle so that
// AbortAllTransfers() can wake it at once, with redirects followed here
// (not by libcurl) so that a refused redirect still yields its own response.
#pragma once

#include <curl/curl.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/http_text.h"
#include "text/text.h"

namespace zivorna::platform::internal {

// curl_global_init, once per process, before any handle is made.
void EnsureCurlReady();

// Time limits of one transfer, in milliseconds, each at least 1.
struct TransferTimeouts {
  long connectMs = 60000;  // name resolution + TCP + TLS (+ proxy tunnel)
  long sendMs = 30000;     // longest pause while the request goes out
  long receiveMs = 30000;  // longest pause while waiting for response bytes
};

// Where a request to one scheme and host goes.
struct ProxyChoice {
  enum class Kind { kDirect, kProxy, kUnusable } kind = Kind::kDirect;
  std::string server;  // "host:port" for kProxy
};

struct TransferRequest {
  std::string url;  // absolute http(s) URL, unsafe bytes already percent-encoded
  std::string verb = "GET";
  bool sendBody = false;  // send `body` with its length (even when empty)
  ByteSet body;
  bool http10 = false;
  std::vector<HeaderLine> headers;  // sent as given; replace libcurl's lines of the same name
  std::string userAgent;            // empty: no User-Agent unless `headers` has one
  bool followRedirects = true;
  int maxRedirects = 10;
  bool allowHttpToHttps = true;
  bool allowHttpsToHttp = false;
  std::function<ProxyChoice(std::string_view scheme, std::string_view host)> proxyFor;
  std::optional<std::pair<std::string, std::string>> proxyCredentials;   // basic
  std::optional<std::pair<std::string, std::string>> serverCredentials;  // basic
  bool verifyPeer = true;
  bool verifyHost = true;
  // Where automatic cookies are kept and taken from; null: no automatic
  // cookies. A store is a share holding cookie data (see NewCookieStore).
  CURLSH* cookieStore = nullptr;
  TransferTimeouts timeouts;
};

// Leases a multi handle from the process's pool (its connection cache lets
// later transfers reuse connections) and registers it as in flight, so that
// AbortAllTransfers() can wake it. Returned to the pool on destruction.
class MultiLease {
 public:
  MultiLease();
  ~MultiLease();
  MultiLease(const MultiLease&) = delete;
  MultiLease& operator=(const MultiLease&) = delete;
  [[nodiscard]] CURLM* get() const { return multi_; }

 private:
  CURLM* multi_;
};

// One request/response exchange, redirects included. Each hop runs on a new
// easy handle (what outlives a hop lives in the multi handle's connection
// cache and in the cookie store). Not thread-safe: one thread at a time (the
// layers lock around it).
class Transfer {
 public:
  Transfer();
  ~Transfer();
  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;

  // Sends the request and waits until the final response's header block is
  // in. False when no response arrived (refused, unreachable, timed out,
  // aborted, certificate refused, unusable proxy, bad URL).
  bool Start(TransferRequest request);
  // Up to `size` body bytes, waiting for more when none are buffered; 0 at the
  // end of the body or once the transfer broke (after the bytes received
  // before the break have been delivered).
  size_t Read(std::uint8_t* out, size_t size);
  // Appends the rest of the body to `out`; false when the transfer broke.
  bool ReadAll(ByteSet& out);
  // The final response's header block: status line first, every line ending
  // "\r\n", an empty line last. Empty before a successful Start().
  [[nodiscard]] const std::string& RawHeaders() const { return finalHeaders_; }
  [[nodiscard]] bool Failed() const { return failed_; }
  [[nodiscard]] bool Finished() const { return done_; }

 private:
  static size_t HeaderThunk(char* data, size_t size, size_t count, void* self);
  static size_t WriteThunk(char* data, size_t size, size_t count, void* self);
  static int ProgressThunk(void* self, curl_off_t dlTotal, curl_off_t dlNow, curl_off_t ulTotal,
                           curl_off_t ulNow);
  static int PrereqThunk(void* self, char* primaryIp, char* localIp, int primaryPort,
                         int localPort);

  size_t OnHeader(std::string_view line);
  size_t OnWrite(const char* data, size_t size);
  void OnHeadersComplete();
  bool ConfigureHop();
  void ReleaseEasy();
  bool StartHop();
  void Resume();
  void DetachFromMulti();
  void Finish(bool failed);
  void Pump(const std::function<bool()>& satisfied);
  void HandleMessages();
  bool IdleTooLong() const;
  void MarkActivity() { lastActivity_ = std::chrono::steady_clock::now(); }

  CURL* easy_ = nullptr;  // the current hop's handle
  std::optional<MultiLease> lease_;
  bool attached_ = false;
  curl_slist* headerList_ = nullptr;

  TransferRequest request_;
  std::string origin_;      // scheme://host:port of the first hop
  std::string hopUrl_;
  std::string hopVerb_;
  bool hopSendsBody_ = false;
  bool hopSameOrigin_ = true;
  int hopCount_ = 0;

  // The current hop's response headers.
  std::string hopHeaders_;
  bool inHeaderBlock_ = false;
  bool hopHeadersDone_ = false;
  int hopStatus_ = 0;
  std::optional<std::string> hopLocation_;
  bool hopIsRedirect_ = false;
  std::string nextUrl_;

  std::string finalHeaders_;
  bool headersReady_ = false;

  std::vector<std::uint8_t> buffer_;
  size_t bufferPos_ = 0;
  bool paused_ = false;

  bool started_ = false;
  bool done_ = false;
  bool failed_ = false;

  bool connected_ = false;
  std::chrono::steady_clock::time_point lastActivity_;
  curl_off_t lastDown_ = 0;
  curl_off_t lastUp_ = 0;
};

// The extra trusted certificates (PEM) after the system store's, or null
// when only the system store is trusted.
std::shared_ptr<const std::string> TrustedCaBundle();
// The connection layer's process-wide cookie store (never written to disk).
CURLSH* SharedCookieStore();
// A new in-memory cookie store for one user at a time (a request object);
// free it with curl_share_cleanup once no transfer uses it.
CURLSH* NewCookieStore();

// Registry of multi handles in flight, kept by transfers.cpp.
void RegisterInFlight(CURLM* multi);
void UnregisterInFlight(CURLM* multi);

}  // namespace zivorna::platform::internal
