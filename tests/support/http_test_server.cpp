#include "tests/support/http_test_server.h"

#include <algorithm>
#include <cctype>
#include <chrono>

namespace zivorna::testing {
namespace {

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

// Entries cpp-httplib adds to a request's headers itself; no client sent them.
bool IsServerAddedHeader(const std::string& name) {
  return name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" ||
         name == "LOCAL_PORT";
}

}  // namespace

bool RecordedRequest::HasHeader(std::string_view name) const {
  return std::any_of(headers.begin(), headers.end(),
                     [&](const auto& h) { return SameIgnoringCase(h.first, name); });
}

std::string RecordedRequest::Header(std::string_view name) const {
  for (const auto& h : headers) {
    if (SameIgnoringCase(h.first, name)) return h.second;
  }
  return {};
}

std::vector<std::string> RecordedRequest::HeaderNames() const {
  std::vector<std::string> names;
  for (const auto& h : headers) names.push_back(h.first);
  return names;
}

HttpTestServer::HttpTestServer() : server_(std::make_unique<httplib::Server>()) { Start(); }

HttpTestServer::HttpTestServer(const TlsFiles& tls)
    : server_(std::make_unique<httplib::SSLServer>(tls.certificate.c_str(), tls.key.c_str())),
      tls_(true) {
  Start();
}

void HttpTestServer::Start() {
  if (!server_->is_valid()) return;
  // Headers and body go out in separate writes; without TCP_NODELAY a reused
  // connection would wait on Nagle's algorithm and the client's delayed ACK.
  server_->set_tcp_nodelay(true);
  server_->set_keep_alive_max_count(1);
  // Idle keep-alive connections (when enabled) end quickly, so that stopping
  // never waits long.
  server_->set_keep_alive_timeout(1);
  // One catch-all route per method: it records the request, then dispatches
  // through this object's own routes (which tests may add at any time).
  auto dispatch = [this](const httplib::Request& req, httplib::Response& res) { Dispatch(req, res); };
  server_->Get(".*", dispatch);
  server_->Post(".*", dispatch);
  server_->Put(".*", dispatch);
  server_->Patch(".*", dispatch);
  server_->Delete(".*", dispatch);
  server_->Options(".*", dispatch);
  const int port = server_->bind_to_any_port("127.0.0.1");
  if (port <= 0) return;
  port_ = port;
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  // listen_after_bind() marks the server running once it accepts; the socket
  // is bound already, so clients can connect even before that.
  for (int i = 0; i < 500 && !server_->is_running(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

HttpTestServer::~HttpTestServer() {
  if (thread_.joinable()) {
    server_->stop();
    thread_.join();
  }
}

void HttpTestServer::EnableKeepAlive() { server_->set_keep_alive_max_count(100); }

std::string HttpTestServer::Url(const std::string& path, const std::string& host) const {
  return std::string(tls_ ? "https://" : "http://") + host + ":" + std::to_string(port_) + path;
}

void HttpTestServer::Handle(const std::string& method, const std::string& pathPattern, Handler handler) {
  std::lock_guard lock(mutex_);
  routes_.push_back({method, std::regex(pathPattern), std::move(handler)});
}

void HttpTestServer::Dispatch(const httplib::Request& req, httplib::Response& res) {
  RecordedRequest record;
  record.method = req.method;
  record.target = req.target;
  record.path = req.path;
  record.version = req.version;
  record.body = req.body;
  record.remoteAddress = req.remote_addr;
  for (const auto& [name, value] : req.headers) {
    if (!IsServerAddedHeader(name)) record.headers.emplace_back(name, value);
  }
  Handler handler;
  {
    std::lock_guard lock(mutex_);
    requests_.push_back(std::move(record));
    for (const Route& route : routes_) {
      if ((route.method == "*" || route.method == req.method ||
           (route.method == "GET" && req.method == "HEAD")) &&
          std::regex_match(req.path, route.pattern)) {
        handler = route.handler;
        break;
      }
    }
  }
  if (handler) {
    handler(req, res);
  } else {
    res.status = 404;
    res.set_content("not found", "text/plain");
  }
}

std::vector<RecordedRequest> HttpTestServer::Requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

size_t HttpTestServer::RequestCount() const {
  std::lock_guard lock(mutex_);
  return requests_.size();
}

RecordedRequest HttpTestServer::LastRequest() const {
  std::lock_guard lock(mutex_);
  return requests_.empty() ? RecordedRequest{} : requests_.back();
}

void AddRedirectPair(HttpTestServer& server) {
  server.Get("/from", [](const httplib::Request&, httplib::Response& res) {
    res.status = 302;
    res.set_header("Location", "/to");
    res.set_content("moved", "text/plain");
  });
  server.Get("/to", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("arrived", "text/plain");
  });
}

}  // namespace zivorna::testing
