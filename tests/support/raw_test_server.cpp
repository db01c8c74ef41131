#include "tests/support/raw_test_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <strings.h>

namespace zivorna::testing {
namespace {

constexpr int kPollMs = 50;
// Requests larger than this are cut; no test needs more.
constexpr size_t kMaxRequestBytes = 16 * 1024 * 1024;

// The Content-Length of a request head, 0 when absent.
size_t ContentLength(const std::string& head) {
  size_t pos = 0;
  while ((pos = head.find("\r\n", pos)) != std::string::npos) {
    pos += 2;
    constexpr std::string_view kName = "content-length:";
    if (head.size() - pos >= kName.size() && strncasecmp(head.c_str() + pos, kName.data(), kName.size()) == 0) {
      return static_cast<size_t>(std::strtoull(head.c_str() + pos + kName.size(), nullptr, 10));
    }
  }
  return 0;
}

// Reads the request head and its announced body; gives up when the server
// stops or the peer goes away.
std::string ReadRequest(int fd, const std::atomic<bool>& stopping) {
  std::string data;
  size_t wanted = std::string::npos;
  char chunk[16384];
  while (!stopping.load() && data.size() < kMaxRequestBytes) {
    if (wanted == std::string::npos) {
      const size_t end = data.find("\r\n\r\n");
      if (end != std::string::npos) wanted = end + 4 + ContentLength(data.substr(0, end + 2));
    }
    if (wanted != std::string::npos && data.size() >= wanted) break;
    pollfd p{fd, POLLIN, 0};
    const int ready = poll(&p, 1, kPollMs);
    if (ready < 0 && errno != EINTR) break;
    if (ready <= 0) continue;
    const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
    if (n <= 0) break;
    data.append(chunk, static_cast<size_t>(n));
  }
  return data;
}

}  // namespace

RecordedRequest ParseRequest(std::string_view raw) {
  RecordedRequest out;
  const size_t headEnd = raw.find("\r\n\r\n");
  const std::string_view head = raw.substr(0, headEnd);
  if (headEnd != std::string_view::npos) out.body = std::string(raw.substr(headEnd + 4));
  size_t lineStart = 0;
  bool first = true;
  while (lineStart <= head.size()) {
    size_t lineEnd = head.find("\r\n", lineStart);
    if (lineEnd == std::string_view::npos) lineEnd = head.size();
    const std::string_view line = head.substr(lineStart, lineEnd - lineStart);
    lineStart = lineEnd + 2;
    if (first) {
      first = false;
      const size_t a = line.find(' ');
      const size_t b = line.rfind(' ');
      if (a == std::string_view::npos || b == a) continue;
      out.method = std::string(line.substr(0, a));
      out.target = std::string(line.substr(a + 1, b - a - 1));
      out.path = out.target.substr(0, out.target.find('?'));
      out.version = std::string(line.substr(b + 1));
      continue;
    }
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    std::string_view value = line.substr(colon + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
    out.headers.emplace_back(std::string(line.substr(0, colon)), std::string(value));
  }
  return out;
}

RawConnection::RawConnection(int fd, std::string request, const std::atomic<bool>& stopping)
    : fd_(fd), request_(std::move(request)), stopping_(stopping) {}

RawConnection::~RawConnection() {
  if (fd_ >= 0) {
    shutdown(fd_, SHUT_WR);
    close(fd_);
  }
}

bool RawConnection::Send(std::string_view bytes) {
  while (!bytes.empty() && fd_ >= 0) {
    const ssize_t n = send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return fd_ >= 0;
}

void RawConnection::Reset() {
  if (fd_ < 0) return;
  // A zero linger time makes close() send RST and drop unsent data.
  linger lingerOption{1, 0};
  setsockopt(fd_, SOL_SOCKET, SO_LINGER, &lingerOption, sizeof lingerOption);
  close(fd_);
  fd_ = -1;
}

void RawConnection::HoldUntilClosed() {
  char sink[4096];
  while (fd_ >= 0 && !stopping_.load()) {
    pollfd p{fd_, POLLIN, 0};
    const int ready = poll(&p, 1, kPollMs);
    if (ready < 0 && errno != EINTR) return;
    if (ready > 0 && recv(fd_, sink, sizeof sink, 0) <= 0) return;
  }
}

RawTestServer::RawTestServer(Script script) : script_(std::move(script)) {
  listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0) return;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  socklen_t len = sizeof addr;
  if (bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(listenFd_, 64) != 0 ||
      getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    close(listenFd_);
    listenFd_ = -1;
    return;
  }
  port_ = ntohs(addr.sin_port);
  acceptThread_ = std::thread([this] { AcceptLoop(); });
}

RawTestServer::~RawTestServer() {
  stopping_.store(true);
  if (acceptThread_.joinable()) acceptThread_.join();
  std::vector<std::thread> workers;
  {
    std::lock_guard lock(mutex_);
    workers.swap(workers_);
  }
  for (std::thread& t : workers) t.join();
  if (listenFd_ >= 0) close(listenFd_);
}

std::string RawTestServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<std::string> RawTestServer::Requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

void RawTestServer::AcceptLoop() {
  while (!stopping_.load()) {
    pollfd p{listenFd_, POLLIN, 0};
    if (poll(&p, 1, kPollMs) <= 0) continue;
    const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    ++connections_;
    std::lock_guard lock(mutex_);
    workers_.emplace_back([this, fd] { Serve(fd); });
  }
}

void RawTestServer::Serve(int fd) {
  std::string request = ReadRequest(fd, stopping_);
  {
    std::lock_guard lock(mutex_);
    requests_.push_back(request);
  }
  RawConnection connection(fd, std::move(request), stopping_);
  if (script_) script_(connection);
}

RecordedRequest RawTestServer::LastRequest() const {
  std::lock_guard lock(mutex_);
  return requests_.empty() ? RecordedRequest{} : ParseRequest(requests_.back());
}

RawTestServer::Script RawTestServer::NeverAnswer() {
  return [](RawConnection& c) { c.HoldUntilClosed(); };
}

RawTestServer::Script RawTestServer::Reply(std::string bytes) {
  return [bytes = std::move(bytes)](RawConnection& c) { c.Send(bytes); };
}

RawTestServer::Script RawTestServer::LargeHeaders(size_t headerBytes, std::string body) {
  std::string head = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                     "\r\nConnection: close\r\n";
  for (int i = 0; head.size() + 2 < headerBytes; ++i) {
    head += "X-Filler-" + std::to_string(i) + ": " + std::string(100, 'f') + "\r\n";
  }
  head += "\r\n";
  return Reply(head + body);
}

RawTestServer::Script RawTestServer::ResetAfter(std::string head, std::string partialBody) {
  return [head = std::move(head), body = std::move(partialBody)](RawConnection& c) {
    c.Send(head);
    c.Send(body);
    // Give the client time to take the bytes in before the reset discards
    // whatever is still queued.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    c.Reset();
  };
}

int ClosedPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), length);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

}  // namespace zivorna::testing
