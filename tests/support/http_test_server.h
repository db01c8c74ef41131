// A loopback HTTP (or HTTPS) server for tests, over cpp-httplib. It listens
// on 127.0.0.1 at a port the system picks, serves on its own threads, records
// every request it receives and answers with the handlers a test sets
// (404 "not found" for anything no handler takes).
//
//   HttpTestServer server;
//   server.Get("/hello", [](const httplib::Request&, httplib::Response& res) {
//     res.set_content("hi", "text/plain");
//   });
//   ... fetch server.Url("/hello") ...
//   EXPECT_EQ(server.Requests().at(0).method, "GET");
#pragma once

#include <httplib.h>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace zivorna::testing {

// One request as the server received it.
struct RecordedRequest {
  std::string method;
  std::string target;   // path and query exactly as on the request line (not decoded)
  std::string path;     // decoded path
  std::string version;  // "HTTP/1.1", "HTTP/1.0"
  // Names as the client spelled them. From HttpTestServer sorted by name
  // (cpp-httplib keeps them so; several values of one name in the order
  // received); from ParseRequest() in the order on the wire.
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  std::string remoteAddress;

  [[nodiscard]] bool HasHeader(std::string_view name) const;  // letter case ignored
  // The first value of `name` ("" when absent).
  [[nodiscard]] std::string Header(std::string_view name) const;
  // The header names, as in `headers`.
  [[nodiscard]] std::vector<std::string> HeaderNames() const;
};

// Certificate and key files for a TLS server (PEM).
struct TlsFiles {
  std::string certificate;
  std::string key;
};

class HttpTestServer {
 public:
  using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;

  // A plain HTTP server.
  HttpTestServer();
  // An HTTPS server presenting `tls`.
  explicit HttpTestServer(const TlsFiles& tls);
  ~HttpTestServer();  // stops the server and joins its threads
  HttpTestServer(const HttpTestServer&) = delete;
  HttpTestServer& operator=(const HttpTestServer&) = delete;

  // Whether the server is listening (false when it could not start).
  [[nodiscard]] bool ok() const { return port_ > 0; }
  [[nodiscard]] int port() const { return port_; }
  // "http://127.0.0.1:PORT" + path (https for a TLS server); `host` replaces
  // 127.0.0.1, e.g. "localhost".
  [[nodiscard]] std::string Url(const std::string& path = "/",
                                const std::string& host = "127.0.0.1") const;

  // By default every response closes its connection ("Connection: close"),
  // so that stopping the server never waits for idle connections. With
  // keep-alive on, connections persist and stopping waits up to a second.
  void EnableKeepAlive();

  // Answers requests whose method is `method` ("*" for any) and whose decoded
  // path matches `pathPattern` (a whole-path std::regex). The first handler
  // set that matches answers. Safe to call while the server runs.
  void Handle(const std::string& method, const std::string& pathPattern, Handler handler);
  void Get(const std::string& pathPattern, Handler handler) { Handle("GET", pathPattern, std::move(handler)); }
  void Post(const std::string& pathPattern, Handler handler) { Handle("POST", pathPattern, std::move(handler)); }
  void Any(const std::string& pathPattern, Handler handler) { Handle("*", pathPattern, std::move(handler)); }

  // Every request received so far, in order of arrival.
  [[nodiscard]] std::vector<RecordedRequest> Requests() const;
  [[nodiscard]] size_t RequestCount() const;
  // The last request (an empty one when none came).
  [[nodiscard]] RecordedRequest LastRequest() const;

 private:
  struct Route {
    std::string method;
    std::regex pattern;
    Handler handler;
  };
  void Start();
  void Dispatch(const httplib::Request& req, httplib::Response& res);

  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  int port_ = 0;
  bool tls_ = false;
  mutable std::mutex mutex_;
  std::vector<Route> routes_;
  std::vector<RecordedRequest> requests_;
};

// Adds the redirect pair many tests use: "/from" answers 302 with Location
// "/to" and the body "moved"; "/to" answers "arrived".
void AddRedirectPair(HttpTestServer& server);

}  // namespace zivorna::testing
