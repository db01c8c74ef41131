#include "platform/curl_transfer.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <mutex>

#include "platform/transfers.h"

namespace zivorna::platform::internal {
namespace {

// libcurl's receive buffer per transfer; larger than its 16 KiB default so a
// big body takes fewer callbacks.
constexpr long kReceiveBufferBytes = 64 * 1024;
// Unread body bytes at which the transfer pauses until the reader catches up;
// together with TCP flow control this bounds the memory of a slow reader.
constexpr size_t kPauseAboveBytes = 2 * 1024 * 1024;
// A response header block larger than this ends the transfer as failed; it
// protects against a peer that streams header lines forever.
constexpr size_t kMaxHeaderBlockBytes = 1024 * 1024;
// Longest single wait in the poll loop. AbortAllTransfers() wakes the wait at
// once; the bound only caps how stale the idle-time check can get.
constexpr int kPollMs = 100;
// Idle multi handles kept for reuse (each with its connection cache).
constexpr size_t kMaxIdleMultis = 8;

class MultiPool {
 public:
  CURLM* Acquire() {
    {
      std::lock_guard lock(mutex_);
      if (!idle_.empty()) {
        CURLM* multi = idle_.back();
        idle_.pop_back();
        return multi;
      }
    }
    return curl_multi_init();
  }
  void Release(CURLM* multi) {
    {
      std::lock_guard lock(mutex_);
      if (idle_.size() < kMaxIdleMultis) {
        idle_.push_back(multi);
        return;
      }
    }
    curl_multi_cleanup(multi);
  }

 private:
  std::mutex mutex_;
  std::vector<CURLM*> idle_;
};

MultiPool& Pool() {
  // Never destroyed: detached worker threads may still return handles while
  // the process exits.
  static MultiPool* pool = new MultiPool;
  return *pool;
}

// Locks for the shared cookie store; libcurl asks for one per data kind.
std::array<std::mutex, CURL_LOCK_DATA_LAST>& ShareLocks() {
  static auto* locks = new std::array<std::mutex, CURL_LOCK_DATA_LAST>;
  return *locks;
}

void LockShare(CURL*, curl_lock_data data, curl_lock_access, void*) {
  ShareLocks()[static_cast<size_t>(data) % CURL_LOCK_DATA_LAST].lock();
}
void UnlockShare(CURL*, curl_lock_data data, void*) {
  ShareLocks()[static_cast<size_t>(data) % CURL_LOCK_DATA_LAST].unlock();
}

struct UrlParts {
  std::string scheme;  // lower case
  std::string host;
  std::string origin;  // scheme://host:port, the unit a redirect may leave
};

struct CurlUrlDeleter {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
using CurlUrl = std::unique_ptr<CURLU, CurlUrlDeleter>;

std::string TakeCurlString(char* text) {
  std::string out = text != nullptr ? text : "";
  curl_free(text);
  return out;
}

std::optional<UrlParts> PartsOf(CURLU* url) {
  char* scheme = nullptr;
  char* host = nullptr;
  char* port = nullptr;
  if (curl_url_get(url, CURLUPART_SCHEME, &scheme, 0) != CURLUE_OK ||
      curl_url_get(url, CURLUPART_HOST, &host, 0) != CURLUE_OK ||
      curl_url_get(url, CURLUPART_PORT, &port, CURLU_DEFAULT_PORT) != CURLUE_OK) {
    curl_free(scheme);
    curl_free(host);
    curl_free(port);
    return std::nullopt;
  }
  UrlParts parts;
  parts.scheme = TakeCurlString(scheme);
  std::transform(parts.scheme.begin(), parts.scheme.end(), parts.scheme.begin(),
                 [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; });
  parts.host = TakeCurlString(host);
  std::string lowerHost = parts.host;
  std::transform(lowerHost.begin(), lowerHost.end(), lowerHost.begin(),
                 [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; });
  parts.origin = parts.scheme + "://" + lowerHost + ":" + TakeCurlString(port);
  if (parts.scheme != "http" && parts.scheme != "https") return std::nullopt;
  if (parts.host.empty()) return std::nullopt;
  return parts;
}

std::optional<UrlParts> ParseUrl(const std::string& text) {
  CurlUrl url(curl_url());
  if (!url || curl_url_set(url.get(), CURLUPART_URL, text.c_str(), 0) != CURLUE_OK) {
    return std::nullopt;
  }
  return PartsOf(url.get());
}

// The absolute URL a Location value points to, resolved against `base`.
std::optional<std::string> ResolveLocation(const std::string& base, const std::string& location) {
  if (location.empty()) return std::nullopt;
  CurlUrl url(curl_url());
  if (!url || curl_url_set(url.get(), CURLUPART_URL, base.c_str(), 0) != CURLUE_OK ||
      curl_url_set(url.get(), CURLUPART_URL, PercentEncodeUnsafe(location).c_str(), 0) !=
          CURLUE_OK) {
    return std::nullopt;
  }
  if (!PartsOf(url.get())) return std::nullopt;
  char* full = nullptr;
  if (curl_url_get(url.get(), CURLUPART_URL, &full, 0) != CURLUE_OK) return std::nullopt;
  return TakeCurlString(full);
}

bool IsRedirectStatus(int status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

std::string_view TrimLine(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// The Content-Length of a raw header block, when it has a well-formed one.
std::optional<std::uint64_t> AnnouncedLength(std::string_view block) {
  size_t pos = 0;
  while ((pos = block.find("\r\n", pos)) != std::string_view::npos) {
    pos += 2;
    const size_t end = block.find("\r\n", pos);
    const std::string_view line = block.substr(pos, end == std::string_view::npos ? end : end - pos);
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos || !EqualsIgnoreCase(TrimLine(line.substr(0, colon)), "Content-Length")) {
      continue;
    }
    const std::string_view digits = TrimLine(line.substr(colon + 1));
    if (digits.empty() || digits.size() > 18) return std::nullopt;
    std::uint64_t value = 0;
    for (char c : digits) {
      if (c < '0' || c > '9') return std::nullopt;
      value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return value;
  }
  return std::nullopt;
}

}  // namespace

void EnsureCurlReady() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

CURLSH* SharedCookieStore() {
  // Never destroyed: transfers on other threads may use it while the process
  // exits.
  static CURLSH* share = [] {
    EnsureCurlReady();
    CURLSH* s = curl_share_init();
    if (s != nullptr) {
      curl_share_setopt(s, CURLSHOPT_LOCKFUNC, LockShare);
      curl_share_setopt(s, CURLSHOPT_UNLOCKFUNC, UnlockShare);
      curl_share_setopt(s, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
    }
    return s;
  }();
  return share;
}

CURLSH* NewCookieStore() {
  EnsureCurlReady();
  CURLSH* s = curl_share_init();
  if (s != nullptr) curl_share_setopt(s, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
  return s;
}

MultiLease::MultiLease() : multi_(Pool().Acquire()) {
  if (multi_ != nullptr) RegisterInFlight(multi_);
}

MultiLease::~MultiLease() {
  if (multi_ == nullptr) return;
  UnregisterInFlight(multi_);
  Pool().Release(multi_);
}

Transfer::Transfer() { EnsureCurlReady(); }

Transfer::~Transfer() {
  ReleaseEasy();
  lease_.reset();
  curl_slist_free_all(headerList_);
}

void Transfer::ReleaseEasy() {
  DetachFromMulti();
  if (easy_ != nullptr) curl_easy_cleanup(easy_);
  easy_ = nullptr;
}

bool Transfer::Start(TransferRequest request) {
  if (started_) return false;
  started_ = true;
  request_ = std::move(request);
  const std::optional<UrlParts> parts = ParseUrl(request_.url);
  if (!parts || TransfersAborted()) {
    Finish(true);
    return false;
  }
  origin_ = parts->origin;
  hopUrl_ = request_.url;
  hopVerb_ = request_.verb;
  hopSendsBody_ = request_.sendBody;
  lease_.emplace();
  if (lease_->get() == nullptr || !StartHop()) {
    Finish(true);
    return false;
  }
  Pump([this] { return headersReady_; });
  return headersReady_;
}

bool Transfer::StartHop() {
  hopHeaders_.clear();
  inHeaderBlock_ = false;
  hopHeadersDone_ = false;
  hopStatus_ = 0;
  hopLocation_.reset();
  hopIsRedirect_ = false;
  connected_ = false;
  lastDown_ = 0;
  lastUp_ = 0;
  MarkActivity();
  if (!ConfigureHop()) return false;
  if (curl_multi_add_handle(lease_->get(), easy_) != CURLM_OK) return false;
  attached_ = true;
  return true;
}

bool Transfer::ConfigureHop() {
  const std::optional<UrlParts> parts = ParseUrl(hopUrl_);
  if (!parts) return false;
  ProxyChoice proxy;
  if (request_.proxyFor) proxy = request_.proxyFor(parts->scheme, parts->host);
  if (proxy.kind == ProxyChoice::Kind::kUnusable) return false;
  const bool viaProxy = proxy.kind == ProxyChoice::Kind::kProxy;

  ReleaseEasy();
  easy_ = curl_easy_init();
  if (easy_ == nullptr) return false;
  bool ok = true;
  auto set = [&](CURLoption option, auto value) {
    ok = ok && curl_easy_setopt(easy_, option, value) == CURLE_OK;
  };

  set(CURLOPT_URL, hopUrl_.c_str());
  set(CURLOPT_PROTOCOLS_STR, "http,https");
  set(CURLOPT_PATH_AS_IS, 1L);
  set(CURLOPT_NOSIGNAL, 1L);
  set(CURLOPT_HTTP_VERSION, request_.http10 ? static_cast<long>(CURL_HTTP_VERSION_1_0)
                                            : static_cast<long>(CURL_HTTP_VERSION_1_1));
  set(CURLOPT_FOLLOWLOCATION, 0L);
  set(CURLOPT_HTTP_CONTENT_DECODING, 0L);
  set(CURLOPT_BUFFERSIZE, kReceiveBufferBytes);
  set(CURLOPT_CONNECTTIMEOUT_MS, request_.timeouts.connectMs);
  set(CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
  set(CURLOPT_HEADERFUNCTION, &Transfer::HeaderThunk);
  set(CURLOPT_HEADERDATA, this);
  set(CURLOPT_WRITEFUNCTION, &Transfer::WriteThunk);
  set(CURLOPT_WRITEDATA, this);
  set(CURLOPT_NOPROGRESS, 0L);
  set(CURLOPT_XFERINFOFUNCTION, &Transfer::ProgressThunk);
  set(CURLOPT_XFERINFODATA, this);
  set(CURLOPT_PREREQFUNCTION, &Transfer::PrereqThunk);
  set(CURLOPT_PREREQDATA, this);

  // Verb and body. A body goes out with its length whatever the verb, so a
  // "GET" with a body is sent as GET with Content-Length and the bytes.
  static const char kNoBytes[] = "";
  if (hopVerb_ == "HEAD" && !hopSendsBody_) {
    set(CURLOPT_NOBODY, 1L);
  } else if (hopSendsBody_) {
    set(CURLOPT_POST, 1L);
    set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request_.body.size()));
    set(CURLOPT_POSTFIELDS, request_.body.empty()
                                ? kNoBytes
                                : reinterpret_cast<const char*>(request_.body.data()));
    if (hopVerb_ != "POST") set(CURLOPT_CUSTOMREQUEST, hopVerb_.c_str());
  } else {
    set(CURLOPT_HTTPGET, 1L);
    if (hopVerb_ != "GET") set(CURLOPT_CUSTOMREQUEST, hopVerb_.c_str());
  }

  // Header lines: the caller's, each replacing libcurl's line of that name,
  // and removals of the lines libcurl would add on its own, so only Host,
  // Content-Length, the User-Agent and automatic cookies go out unasked.
  // Credentials and cookies written by the caller stay with the first origin.
  curl_slist_free_all(headerList_);
  headerList_ = nullptr;
  auto has = [&](std::string_view name) {
    return std::any_of(request_.headers.begin(), request_.headers.end(),
                       [&](const HeaderLine& h) { return EqualsIgnoreCase(h.name, name); });
  };
  auto append = [&](const std::string& line) {
    curl_slist* next = curl_slist_append(headerList_, line.c_str());
    if (next == nullptr) {
      ok = false;
    } else {
      headerList_ = next;
    }
  };
  for (const HeaderLine& h : request_.headers) {
    if (!hopSameOrigin_ &&
        (EqualsIgnoreCase(h.name, "Authorization") || EqualsIgnoreCase(h.name, "Cookie"))) {
      continue;
    }
    // "Name;" is libcurl's way to send a header with an empty value ("Name:"
    // would remove it).
    append(h.value.empty() ? h.name + ";" : h.name + ": " + h.value);
  }
  if (!has("Accept")) append("Accept:");
  if (!has("Expect")) append("Expect:");
  if (hopSendsBody_ && !has("Content-Type")) append("Content-Type:");
  if (viaProxy && !has("Proxy-Connection")) append("Proxy-Connection:");
  set(CURLOPT_HTTPHEADER, headerList_);
  if (!request_.userAgent.empty()) set(CURLOPT_USERAGENT, request_.userAgent.c_str());

  // An explicit empty proxy also keeps libcurl from reading proxy variables
  // from the environment.
  if (viaProxy) {
    const std::string server = "http://" + proxy.server;
    set(CURLOPT_PROXY, server.c_str());
    if (request_.proxyCredentials) {
      set(CURLOPT_PROXYAUTH, static_cast<unsigned long>(CURLAUTH_BASIC));
      set(CURLOPT_PROXYUSERNAME, request_.proxyCredentials->first.c_str());
      set(CURLOPT_PROXYPASSWORD, request_.proxyCredentials->second.c_str());
    }
  } else {
    set(CURLOPT_PROXY, "");
  }
  if (request_.serverCredentials && hopSameOrigin_) {
    set(CURLOPT_HTTPAUTH, static_cast<unsigned long>(CURLAUTH_BASIC));
    set(CURLOPT_USERNAME, request_.serverCredentials->first.c_str());
    set(CURLOPT_PASSWORD, request_.serverCredentials->second.c_str());
  }

  set(CURLOPT_SSL_VERIFYPEER, request_.verifyPeer ? 1L : 0L);
  set(CURLOPT_SSL_VERIFYHOST, request_.verifyHost ? 2L : 0L);
  if (const std::shared_ptr<const std::string> bundle = TrustedCaBundle()) {
    curl_blob blob{const_cast<char*>(bundle->data()), bundle->size(), CURL_BLOB_COPY};
    set(CURLOPT_CAINFO_BLOB, &blob);
  }

  if (request_.cookieStore != nullptr) {
    set(CURLOPT_SHARE, request_.cookieStore);
    set(CURLOPT_COOKIEFILE, "");  // the cookie engine on, with no file to read
  }
  return ok;
}

void Transfer::DetachFromMulti() {
  if (attached_ && lease_) curl_multi_remove_handle(lease_->get(), easy_);
  attached_ = false;
}

void Transfer::Finish(bool failed) {
  done_ = true;
  failed_ = failed;
  paused_ = false;
  ReleaseEasy();
  // Hand the multi handle (and the connection it now caches) back at once.
  lease_.reset();
}

void Transfer::Resume() {
  if (!paused_ || !attached_) return;
  paused_ = false;
  if (curl_easy_pause(easy_, CURLPAUSE_CONT) != CURLE_OK) Finish(true);
}

void Transfer::Pump(const std::function<bool()>& satisfied) {
  MarkActivity();
  while (!done_ && !satisfied()) {
    if (TransfersAborted()) {
      Finish(true);
      return;
    }
    int running = 0;
    if (curl_multi_perform(lease_->get(), &running) != CURLM_OK) {
      Finish(true);
      return;
    }
    HandleMessages();
    if (done_ || satisfied()) return;
    if (IdleTooLong()) {
      Finish(true);
      return;
    }
    if (curl_multi_poll(lease_->get(), nullptr, 0, kPollMs, nullptr) != CURLM_OK) {
      Finish(true);
      return;
    }
  }
}

void Transfer::HandleMessages() {
  int left = 0;
  while (CURLMsg* msg = curl_multi_info_read(lease_->get(), &left)) {
    if (msg->msg != CURLMSG_DONE || msg->easy_handle != easy_) continue;
    const CURLcode result = msg->data.result;
    DetachFromMulti();
    if (result == CURLE_OK && hopIsRedirect_) {
      ++hopCount_;
      const int status = hopStatus_;
      // 303 turns every verb but HEAD into GET; 301 and 302 turn POST into
      // GET as browsers do; 307 and 308 repeat the request as it was.
      if ((status == 303 && hopVerb_ != "HEAD") ||
          ((status == 301 || status == 302) && hopVerb_ == "POST")) {
        hopVerb_ = "GET";
        hopSendsBody_ = false;
      }
      const std::optional<UrlParts> next = ParseUrl(nextUrl_);
      hopSameOrigin_ = hopSameOrigin_ && next && next->origin == origin_;
      hopUrl_ = nextUrl_;
      if (!StartHop()) Finish(true);
      return;
    }
    Finish(result != CURLE_OK || !headersReady_);
    return;
  }
}

bool Transfer::IdleTooLong() const {
  // Until the connection stands, libcurl's connect time-out applies.
  if (!connected_) return false;
  const bool sending = hopSendsBody_ && !inHeaderBlock_ && !hopHeadersDone_ &&
                       lastUp_ < static_cast<curl_off_t>(request_.body.size());
  const long limitMs = sending ? request_.timeouts.sendMs : request_.timeouts.receiveMs;
  return std::chrono::steady_clock::now() - lastActivity_ > std::chrono::milliseconds(limitMs);
}

size_t Transfer::Read(std::uint8_t* out, size_t size) {
  if (size == 0 || !started_) return 0;
  if (bufferPos_ == buffer_.size()) {
    buffer_.clear();
    bufferPos_ = 0;
    if (done_) return 0;
    Resume();
    Pump([this] { return bufferPos_ < buffer_.size(); });
    if (bufferPos_ == buffer_.size()) return 0;
  }
  const size_t n = std::min(size, buffer_.size() - bufferPos_);
  std::memcpy(out, buffer_.data() + bufferPos_, n);
  bufferPos_ += n;
  return n;
}

bool Transfer::ReadAll(ByteSet& out) {
  if (!started_) return false;
  // Room for the announced length up front spares the copies of repeated
  // growth; the cap keeps a false announcement from reserving without bound.
  constexpr std::uint64_t kMaxReserveBytes = 128u << 20;
  if (const std::optional<std::uint64_t> announced = AnnouncedLength(finalHeaders_)) {
    out.reserve(out.size() + static_cast<size_t>(std::min(*announced, kMaxReserveBytes)));
  }
  for (;;) {
    out.insert(out.end(), buffer_.begin() + static_cast<std::ptrdiff_t>(bufferPos_), buffer_.end());
    buffer_.clear();
    bufferPos_ = 0;
    if (done_) return !failed_;
    Resume();
    Pump([this] { return !buffer_.empty(); });
  }
}

size_t Transfer::HeaderThunk(char* data, size_t size, size_t count, void* self) {
  return static_cast<Transfer*>(self)->OnHeader(std::string_view(data, size * count));
}

size_t Transfer::WriteThunk(char* data, size_t size, size_t count, void* self) {
  return static_cast<Transfer*>(self)->OnWrite(data, size * count);
}

int Transfer::ProgressThunk(void* self, curl_off_t, curl_off_t dlNow, curl_off_t, curl_off_t ulNow) {
  auto* t = static_cast<Transfer*>(self);
  if (TransfersAborted()) return 1;
  if (dlNow != t->lastDown_ || ulNow != t->lastUp_) {
    t->lastDown_ = dlNow;
    t->lastUp_ = ulNow;
    t->MarkActivity();
  }
  return 0;
}

int Transfer::PrereqThunk(void* self, char*, char*, int, int) {
  auto* t = static_cast<Transfer*>(self);
  t->connected_ = true;
  t->MarkActivity();
  return CURL_PREREQFUNC_OK;
}

size_t Transfer::OnHeader(std::string_view line) {
  MarkActivity();
  // Trailers and anything after the final header block are not part of it.
  if (headersReady_ || hopHeadersDone_) return line.size();
  std::string_view content = line;
  while (!content.empty() && (content.back() == '\n' || content.back() == '\r')) {
    content.remove_suffix(1);
  }
  if (content.size() >= 5 && content.substr(0, 5) == "HTTP/") {
    // A status line starts a new block (after a 1xx block, for one).
    hopHeaders_.assign(content);
    hopHeaders_ += "\r\n";
    inHeaderBlock_ = true;
    hopLocation_.reset();
    hopStatus_ = 0;
    const size_t space = content.find(' ');
    if (space != std::string_view::npos) {
      for (size_t i = space + 1; i < content.size() && i < space + 4; ++i) {
        if (content[i] < '0' || content[i] > '9') break;
        hopStatus_ = hopStatus_ * 10 + (content[i] - '0');
      }
    }
    return line.size();
  }
  if (!inHeaderBlock_) return line.size();
  if (content.empty()) {
    hopHeaders_ += "\r\n";
    inHeaderBlock_ = false;
    if (hopStatus_ >= 100 && hopStatus_ < 200) return line.size();  // interim; the real one follows
    OnHeadersComplete();
    return line.size();
  }
  if (hopHeaders_.size() + content.size() > kMaxHeaderBlockBytes) return 0;  // fails the transfer
  hopHeaders_.append(content);
  hopHeaders_ += "\r\n";
  const size_t colon = content.find(':');
  if (colon != std::string_view::npos && EqualsIgnoreCase(TrimLine(content.substr(0, colon)), "Location")) {
    hopLocation_ = std::string(TrimLine(content.substr(colon + 1)));
  }
  return line.size();
}

void Transfer::OnHeadersComplete() {
  hopHeadersDone_ = true;
  if (request_.followRedirects && IsRedirectStatus(hopStatus_) && hopLocation_ &&
      hopCount_ < request_.maxRedirects) {
    const std::optional<UrlParts> from = ParseUrl(hopUrl_);
    const std::optional<std::string> target = ResolveLocation(hopUrl_, *hopLocation_);
    const std::optional<UrlParts> to = target ? ParseUrl(*target) : std::nullopt;
    if (from && to) {
      const bool allowed =
          from->scheme == to->scheme ||
          (from->scheme == "http" && to->scheme == "https" && request_.allowHttpToHttps) ||
          (from->scheme == "https" && to->scheme == "http" && request_.allowHttpsToHttp);
      if (allowed) {
        hopIsRedirect_ = true;
        nextUrl_ = *target;
        return;
      }
    }
  }
  // Not followed (or not a redirect): this is the final response.
  finalHeaders_ = hopHeaders_;
  headersReady_ = true;
}

size_t Transfer::OnWrite(const char* data, size_t size) {
  MarkActivity();
  if (hopIsRedirect_) return size;  // the body of a redirect being followed
  if (buffer_.size() - bufferPos_ >= kPauseAboveBytes) {
    paused_ = true;
    return CURL_WRITEFUNC_PAUSE;
  }
  buffer_.insert(buffer_.end(), data, data + size);
  return size;
}

}  // namespace zivorna::platform::internal
