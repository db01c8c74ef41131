// A loopback TCP server for misbehaving HTTP peers. It listens on 127.0.0.1
// at a port the system picks; for every connection it reads the request head
// (and a body announced by Content-Length), then runs the test's script on
// that connection on a thread of its own.
//
//   RawTestServer server(RawTestServer::NeverAnswer());
//   RawTestServer server(RawTestServer::ResetAfter(
//       "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n", "first bytes"));
//   RawTestServer server([](RawConnection& c) { c.Send("HTTP/1.1 204 No Content\r\n\r\n"); });
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "tests/support/http_test_server.h"

namespace zivorna::testing {

// Takes a raw request (as RawTestServer::Requests() holds it) apart: the
// request line, the header lines in wire order with their values trimmed
// (empty ones kept), and the bytes after the empty line. The recorded
// requests of HttpTestServer come from cpp-httplib, which drops headers with
// empty values and the body of a GET; this shows what was really sent.
[[nodiscard]] RecordedRequest ParseRequest(std::string_view raw);

class RawConnection {
 public:
  RawConnection(int fd, std::string request, const std::atomic<bool>& stopping);
  ~RawConnection();  // closes the socket (gracefully) unless Reset() was called
  RawConnection(const RawConnection&) = delete;
  RawConnection& operator=(const RawConnection&) = delete;

  // The request head and body as received.
  [[nodiscard]] const std::string& request() const { return request_; }
  // Writes all of `bytes`; false when the peer has gone.
  bool Send(std::string_view bytes);
  // Closes with a TCP reset (RST) instead of an orderly close.
  void Reset();
  // Blocks until the server stops or the peer closes the connection.
  void HoldUntilClosed();

 private:
  int fd_;
  std::string request_;
  const std::atomic<bool>& stopping_;
};

class RawTestServer {
 public:
  using Script = std::function<void(RawConnection&)>;

  explicit RawTestServer(Script script);
  ~RawTestServer();  // stops accepting, ends held connections, joins threads
  RawTestServer(const RawTestServer&) = delete;
  RawTestServer& operator=(const RawTestServer&) = delete;

  [[nodiscard]] bool ok() const { return port_ > 0; }
  [[nodiscard]] int port() const { return port_; }
  // "http://127.0.0.1:PORT" + path.
  [[nodiscard]] std::string Url(const std::string& path = "/") const;
  // Connections accepted so far.
  [[nodiscard]] int ConnectionCount() const { return connections_.load(); }
  // The requests received so far (head and body), in order of arrival.
  [[nodiscard]] std::vector<std::string> Requests() const;
  // The last request taken apart (an empty one when none came).
  [[nodiscard]] RecordedRequest LastRequest() const;

  // Reads the request and then never answers (until the server stops).
  static Script NeverAnswer();
  // Sends `bytes` as they are, then closes the connection in order. A reply
  // with "Connection: close" keeps clients from reusing the connection.
  static Script Reply(std::string bytes);
  // A 200 response whose header block (status line to empty line) is at
  // least `headerBytes` long, padded with X-Filler lines, then `body`.
  static Script LargeHeaders(size_t headerBytes, std::string body);
  // Sends `head` (status line and headers) and `partialBody`, then resets the
  // connection.
  static Script ResetAfter(std::string head, std::string partialBody);

 private:
  void AcceptLoop();
  void Serve(int fd);

  Script script_;
  int listenFd_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<int> connections_{0};
  std::thread acceptThread_;
  mutable std::mutex mutex_;
  std::vector<std::thread> workers_;
  std::vector<std::string> requests_;
};

// A loopback port that nothing listens on (it was free a moment ago).
int ClosedPort();

}  // namespace zivorna::testing
