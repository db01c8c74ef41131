#include "server/lookup_server.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>
#include <unordered_map>

#include <httplib.h>

#include "platform/gbk.h"
#include "server/glyph_picture.h"
#include "server/lookup_content.h"
#include "server/request_path.h"
#include "server/wubi_data.h"
#include "server/wubi_tables.h"

namespace zivorna::server {

namespace {

using Clock = std::chrono::steady_clock;

// Worker threads. A keep-alive connection holds a worker while it is open,
// so this is also how many clients are served at once; idle connections give
// their worker up as soon as another connection waits (see ServeConnection).
constexpr size_t kWorkerThreads = 64;
// Bytes of one request that are read at all: request line plus headers.
// Bodies are never read (every method that carries one gets 405 and the
// connection is closed).
constexpr size_t kMaxRequestHeadBytes = 16 * 1024;
// A request must arrive whole within this time, however slowly it trickles;
// while another connection waits for a worker, a request unfinished after
// kPatienceWhenBusy gives its worker up.
constexpr auto kRequestDeadline = std::chrono::seconds(10);
constexpr auto kPatienceWhenBusy = std::chrono::seconds(1);
// Each single wait for the client to send or to take our bytes.
constexpr auto kReadTimeout = std::chrono::seconds(5);
constexpr auto kWriteTimeout = std::chrono::seconds(5);
// How long an idle keep-alive connection is kept, and how many requests one
// connection may make.
constexpr auto kKeepAliveIdle = std::chrono::seconds(5);
constexpr size_t kKeepAliveMaxRequests = 100000;
// An idle connection is closed for a waiting one only after this long idle:
// a busy client sends its next request at once, and closing its connection
// just as that request is on its way would fail the request.
constexpr auto kIdleBeforeYield = std::chrono::milliseconds(250);
// Waits are cut into slices this long so that Stop() is noticed promptly.
constexpr auto kPollSlice = std::chrono::milliseconds(100);
// Set by the request handler when the connection must close after this
// response; read by the connection loop on the same worker thread.
thread_local bool t_closeAfterResponse = false;

// Waits until `fd` is ready for `events`, `until` passes or `stopping` is
// set. True when ready.
bool WaitReady(int fd, short events, Clock::time_point until, const std::atomic<bool>& stopping) {
  for (;;) {
    if (stopping.load(std::memory_order_relaxed)) return false;
    const auto now = Clock::now();
    if (now >= until) return false;
    const auto slice = std::min<Clock::duration>(until - now, kPollSlice);
    pollfd p{fd, events, 0};
    const int ms = static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(slice).count());
    const int r = ::poll(&p, 1, ms);
    if (r > 0) return true;  // ready, or an error/hang-up the next call reports
    if (r < 0 && errno != EINTR) return false;
  }
}

// The worker pool, telling whether a connection waits for a worker while
// every worker is taken.
class CountingPool final : public httplib::TaskQueue {
 public:
  explicit CountingPool(size_t threads) : threads_(static_cast<int>(threads)), pool_(threads) {}
  void enqueue(std::function<void()> fn) override {
    waiting_.fetch_add(1);
    pool_.enqueue([this, fn = std::move(fn)] {
      busy_.fetch_add(1);
      waiting_.fetch_sub(1);
      fn();
      busy_.fetch_sub(1);
    });
  }
  void shutdown() override { pool_.shutdown(); }
  [[nodiscard]] bool SomeoneWaitsForAWorker() const {
    return waiting_.load() > 0 && busy_.load() >= threads_;
  }

 private:
  const int threads_;
  httplib::ThreadPool pool_;
  std::atomic<int> waiting_{0};
  std::atomic<int> busy_{0};
};

// The stream one connection is read and written through. Reads are buffered
// and counted against a per-request budget and deadline, so that no client
// can make the server hold an unbounded request head or wait for it forever.
class ConnectionStream final : public httplib::Stream {
 public:
  ConnectionStream(int fd, const std::atomic<bool>& stopping, const CountingPool* pool)
      : fd_(fd), stopping_(stopping), pool_(pool) {}

  void BeginRequest() {
    budget_ = kMaxRequestHeadBytes;
    started_ = Clock::now();
    deadline_ = started_ + kRequestDeadline;
  }
  [[nodiscard]] bool HasBuffered() const { return pos_ < end_; }

  bool is_readable() const override { return HasBuffered() || WaitForBytes(); }
  bool is_writable() const override {
    return WaitReady(fd_, POLLOUT, Clock::now() + kWriteTimeout, stopping_);
  }

  ssize_t read(char* ptr, size_t size) override {
    if (size == 0) return 0;
    if (budget_ == 0) return -1;
    if (!HasBuffered()) {
      if (!WaitForBytes()) return -1;
      ssize_t n = 0;
      do {
        n = ::recv(fd_, buffer_, sizeof buffer_, 0);
      } while (n < 0 && errno == EINTR);
      if (n <= 0) return n == 0 ? 0 : -1;
      pos_ = 0;
      end_ = static_cast<size_t>(n);
    }
    const size_t n = std::min({size, end_ - pos_, budget_});
    std::memcpy(ptr, buffer_ + pos_, n);
    pos_ += n;
    budget_ -= n;
    return static_cast<ssize_t>(n);
  }

  ssize_t write(const char* ptr, size_t size) override {
    if (!WaitReady(fd_, POLLOUT, Clock::now() + kWriteTimeout, stopping_)) return -1;
    ssize_t n = 0;
    do {
      n = ::send(fd_, ptr, size, MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return n;
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    Address(false, ip, port);
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    Address(true, ip, port);
  }
  socket_t socket() const override { return fd_; }

 private:
  // Waits for the client's next bytes, within the read time-out and the
  // request's deadline, giving up early when the worker is needed elsewhere.
  bool WaitForBytes() const {
    const auto until = std::min(deadline_, Clock::now() + kReadTimeout);
    for (;;) {
      const auto now = Clock::now();
      if (WaitReady(fd_, POLLIN, std::min(until, now + kPollSlice), stopping_)) return true;
      if (stopping_.load() || Clock::now() >= until) return false;
      if (Clock::now() - started_ > kPatienceWhenBusy && pool_ != nullptr &&
          pool_->SomeoneWaitsForAWorker()) {
        return false;
      }
    }
  }

  void Address(bool local, std::string& ip, int& port) const {
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    auto* sa = reinterpret_cast<sockaddr*>(&addr);
    ip.clear();
    port = -1;
    if ((local ? ::getsockname(fd_, sa, &len) : ::getpeername(fd_, sa, &len)) != 0) return;
    char host[NI_MAXHOST];
    char serv[NI_MAXSERV];
    if (::getnameinfo(sa, len, host, sizeof host, serv, sizeof serv,
                      NI_NUMERICHOST | NI_NUMERICSERV) == 0) {
      ip = host;
      port = std::atoi(serv);
    }
  }

  int fd_;
  const std::atomic<bool>& stopping_;
  const CountingPool* pool_;
  char buffer_[4096];
  size_t pos_ = 0;
  size_t end_ = 0;
  size_t budget_ = kMaxRequestHeadBytes;
  Clock::time_point started_ = Clock::now();
  Clock::time_point deadline_ = started_ + kRequestDeadline;
};

// httplib's server with our own connection loop: bounded request heads, a
// deadline per request, and keep-alive that yields to waiting connections.
class GuardedHttpServer final : public httplib::Server {
 public:
  // The library listens with a backlog of 5; a burst of clients beyond that
  // would see their connection attempts dropped and retried a second later.
  void RaiseListenBacklog() { ::listen(svr_sock_, SOMAXCONN); }

  explicit GuardedHttpServer(const std::atomic<bool>& stopping) : stopping_(stopping) {
    // Only used for the Keep-Alive header; the loop below enforces them.
    set_keep_alive_max_count(kKeepAliveMaxRequests);
    set_keep_alive_timeout(std::chrono::duration_cast<std::chrono::seconds>(kKeepAliveIdle).count());
    // Address reuse for quick restarts, but not port sharing: the library's
    // default also sets SO_REUSEPORT, which would let a second server bind the
    // same port and silently take half of the connections.
    set_socket_options([](socket_t sock) {
      int yes = 1;
      ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    new_task_queue = [this] {
      auto* pool = new CountingPool(kWorkerThreads);
      pool_.store(pool);
      return pool;
    };
  }

 private:
  bool process_and_close_socket(socket_t sock) override {
    bool ok = ServeConnection(sock);
    ::shutdown(sock, SHUT_RDWR);
    ::close(sock);
    return ok;
  }

  bool ServeConnection(int sock) {
    // A response goes out as a head and a body in two writes; without this
    // the body would wait for the client's delayed acknowledgement.
    int yes = 1;
    ::setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    ConnectionStream stream(sock, stopping_, pool_.load());
    bool ok = true;
    for (size_t count = 0; count < kKeepAliveMaxRequests; ++count) {
      if (count > 0 && !stream.HasBuffered() && !WaitForNextRequest(sock)) break;
      if (stopping_.load()) break;
      stream.BeginRequest();
      t_closeAfterResponse = false;
      bool connectionClosed = false;
      const bool last = count + 1 == kKeepAliveMaxRequests;
      ok = process_request(stream, last, connectionClosed, nullptr);
      if (!ok || connectionClosed || t_closeAfterResponse) break;
    }
    return ok;
  }

  // An idle keep-alive connection waits for its next request, but gives up
  // its worker when another connection is waiting for one.
  bool WaitForNextRequest(int sock) {
    const auto idleSince = Clock::now();
    const auto until = idleSince + kKeepAliveIdle;
    while (Clock::now() < until) {
      const CountingPool* pool = pool_.load();
      if (Clock::now() - idleSince >= kIdleBeforeYield && pool != nullptr &&
          pool->SomeoneWaitsForAWorker()) {
        return false;
      }
      if (WaitReady(sock, POLLIN, std::min(until, Clock::now() + kPollSlice), stopping_)) {
        return true;
      }
      if (stopping_.load()) return false;
    }
    return false;
  }

  const std::atomic<bool>& stopping_;
  std::atomic<CountingPool*> pool_{nullptr};
};

class LookupServerImpl final : public LookupServer {
 public:
  LookupServerImpl(std::unique_ptr<LookupContent> content, std::string table98Path)
      : content_(std::move(content)), table98Path_(std::move(table98Path)), http_(stopping_) {
    http_.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
      Handle(req, res);
      return httplib::Server::HandlerResponse::Handled;
    });
  }

  ~LookupServerImpl() override { Stop(); }

  bool Listen(const std::string& host, int port, std::string* error) {
    host_ = host;
    errno = 0;
    port_ = port == 0 ? http_.bind_to_any_port(host) : (http_.bind_to_port(host, port) ? port : -1);
    if (port_ <= 0) {
      if (error != nullptr) {
        // errno tells why a bind failed; a host that does not resolve leaves it 0.
        const int why = errno;
        *error = "cannot listen on " + host + ":" + std::to_string(port) + ": " +
                 (why != 0 ? std::strerror(why) : "not a usable local address");
      }
      return false;
    }
    http_.RaiseListenBacklog();
    listener_ = std::thread([this] {
      http_.listen_after_bind();
      listenerDone_.store(true);
    });
    // Stop() only reaches a server that has started listening.
    while (!http_.is_running() && !listenerDone_.load()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
  }

  int Port() const override { return port_; }
  std::string BaseUrl() const override {
    const bool v6 = host_.find(':') != std::string::npos;
    return "http://" + (v6 ? "[" + host_ + "]" : host_) + ":" + std::to_string(port_);
  }
  std::string Wubi98Table() const override { return table98Path_; }

  void Stop() override {
    std::lock_guard lock(stopMutex_);
    if (!listener_.joinable()) return;
    stopping_.store(true);
    http_.stop();
    listener_.join();
  }

 private:
  void Handle(const httplib::Request& req, httplib::Response& res) {
    static const std::string kGbkHtml = "text/html; charset=gbk";
    if (req.method != "GET" && req.method != "HEAD") {
      res.status = 405;
      res.set_header("Allow", "GET, HEAD");
      res.set_header("Connection", "close");
      res.set_content(content_->MethodNotAllowedPage(), kGbkHtml);
      // The request's body, if any, was never read: the connection cannot
      // carry another request.
      t_closeAfterResponse = true;
      return;
    }
    if (req.has_header("Content-Length") || req.has_header("Transfer-Encoding")) {
      t_closeAfterResponse = true;
    }
    const Route route = RouteTarget(req.target);
    std::shared_ptr<const std::string> body;
    switch (route.resource) {
      case Resource::kProbe:
        res.set_content(content_->ProbePage(), "text/html; charset=utf-8");
        return;
      case Resource::kPage:
        if ((body = content_->Page(route.character)) != nullptr) {
          res.set_content(*body, kGbkHtml);
          return;
        }
        break;
      case Resource::kPicture:
        if ((body = content_->Picture(route.character)) != nullptr) {
          res.set_content(*body, "image/jpeg");
          return;
        }
        break;
      case Resource::kNone:
        break;
    }
    res.status = 404;
    res.set_content(content_->NotFoundPage(), kGbkHtml);
  }

  std::unique_ptr<LookupContent> content_;
  std::string table98Path_;

  std::atomic<bool> stopping_{false};
  GuardedHttpServer http_;
  std::string host_;
  int port_ = -1;
  std::thread listener_;
  std::atomic<bool> listenerDone_{false};
  std::mutex stopMutex_;
};

}  // namespace

std::string FindWubi98Table(const std::string& explicitPath) {
  if (!explicitPath.empty()) return explicitPath;
  std::vector<std::string> candidates = {"/usr/share/rime-data/wubi98.dict.yaml"};
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
    candidates.push_back(std::string(home) + "/.local/share/fcitx5/rime/wubi98.dict.yaml");
    candidates.push_back(std::string(home) + "/.config/ibus/rime/wubi98.dict.yaml");
  }
  for (const std::string& path : candidates) {
    if (std::ifstream(path).good()) return path;
  }
  return {};
}

namespace {

// Loads everything a server or an export needs. `*table98Used` is the Wubi 98
// table loaded, empty when none. Drawing pictures is optional for exports.
std::unique_ptr<LookupContent> LoadContent(const ServerOptions& options, bool needPictures,
                                           std::string* table98Used, std::string* error) {
  std::unique_ptr<WubiData> data =
      WubiData::Load(options.dataPath.empty() ? DefaultDataPath() : options.dataPath, error);
  if (!data) return nullptr;

  // A table named by the caller must load; one found in the standard
  // folders is used when it loads and passed over when it does not.
  std::unique_ptr<CharCodeTable> table98;
  const std::string table98Path = options.wubi98Path.empty() && !options.findWubi98
                                      ? std::string()
                                      : FindWubi98Table(options.wubi98Path);
  table98Used->clear();
  if (!table98Path.empty()) {
    std::ifstream in(table98Path);
    auto table = std::make_unique<CharCodeTable>();
    std::string tableError = in ? std::string() : "cannot read it";
    if (in && LoadCharCodes(in, table.get(), &tableError)) {
      table98 = std::move(table);
      *table98Used = table98Path;
    } else if (!options.wubi98Path.empty()) {
      *error = "Wubi 98 table " + table98Path + ": " + tableError;
      return nullptr;
    }
  }

  std::unique_ptr<GlyphPainter> painter;
  if (needPictures) {
    painter = GlyphPainter::Create(options.fontPath.empty() ? DefaultFontPath() : options.fontPath,
                                   error);
    if (!painter) return nullptr;
  }
  return std::make_unique<LookupContent>(std::move(data), std::move(table98), std::move(painter));
}

}  // namespace

std::unique_ptr<LookupServer> LookupServer::Start(const ServerOptions& options, std::string* error) {
  std::string scratch;
  if (error == nullptr) error = &scratch;
  std::string table98;
  std::unique_ptr<LookupContent> content = LoadContent(options, true, &table98, error);
  if (!content) return nullptr;
  auto server = std::make_unique<LookupServerImpl>(std::move(content), std::move(table98));
  if (!server->Listen(options.host, options.port, error)) return nullptr;
  return server;
}

bool ExportStaticFiles(const ServerOptions& options, const std::u32string& characters,
                       const std::string& dir, int* exported, std::string* error) {
  std::string scratch;
  if (error == nullptr) error = &scratch;
  if (exported != nullptr) *exported = 0;
  std::string table98;
  std::unique_ptr<LookupContent> content = LoadContent(options, true, &table98, error);
  if (!content) return false;
  namespace fs = std::filesystem;
  std::error_code ec;
  for (const char* sub : {"wubi", "wubis"}) {
    fs::create_directories(fs::path(dir) / sub, ec);
    if (ec) {
      *error = "cannot create " + (fs::path(dir) / sub).string() + ": " + ec.message();
      return false;
    }
  }
  auto write = [&](const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) *error = "cannot write " + path.string();
    return static_cast<bool>(out);
  };
  for (char32_t cp : characters) {
    std::string utf8;
    AppendUtf8(cp, &utf8);
    bool lossless = false;
    const Text name = platform::Utf8ToGbk(utf8, &lossless);
    const auto page = content->Page(cp);
    const auto picture = content->Picture(cp);
    if (!lossless || name.size() != 2 || !page || !picture) continue;
    if (!write(fs::path(dir) / "wubi" / (name + ".htm"), *page) ||
        !write(fs::path(dir) / "wubis" / (name + ".jpg"), *picture)) {
      return false;
    }
    if (exported != nullptr) ++*exported;
  }
  return true;
}

}  // namespace zivorna::server
