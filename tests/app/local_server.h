// A loopback HTTP server for the window tests: 127.0.0.1, a port the system
// picks, one handler for every GET, requests counted by decoded path.
#pragma once

#include <httplib.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zivorna::app::testing {

class LocalServer {
 public:
  using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;

  explicit LocalServer(Handler handler) : handler_(std::move(handler)) {
    server_.Get(".*", [this](const httplib::Request& req, httplib::Response& res) {
      {
        std::lock_guard lock(mutex_);
        paths_.push_back(req.path);
      }
      arrived_.notify_all();
      handler_(req, res);
    });
    // Bound and listening from here on; connections wait in the backlog
    // until the accept loop runs.
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
  }
  ~LocalServer() {
    Release();
    server_.stop();
    thread_.join();
  }
  LocalServer(const LocalServer&) = delete;
  LocalServer& operator=(const LocalServer&) = delete;

  [[nodiscard]] std::string Base() const { return "http://127.0.0.1:" + std::to_string(port_); }
  [[nodiscard]] std::vector<std::string> Paths() const {
    std::lock_guard lock(mutex_);
    return paths_;
  }
  // Waits until a request for `path` has arrived; false after `timeout`.
  bool WaitForPath(const std::string& path, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return arrived_.wait_for(lock, timeout, [&] {
      for (const auto& p : paths_) {
        if (p == path) return true;
      }
      return false;
    });
  }

  // For handlers that hang: blocks until Release() (or the server ends).
  void HoldUntilReleased() {
    std::unique_lock lock(mutex_);
    released_.wait(lock, [this] { return releasedFlag_; });
  }
  void Release() {
    {
      std::lock_guard lock(mutex_);
      releasedFlag_ = true;
    }
    released_.notify_all();
  }

 private:
  Handler handler_;
  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
  mutable std::mutex mutex_;
  std::condition_variable arrived_;
  std::condition_variable released_;
  bool releasedFlag_ = false;
  std::vector<std::string> paths_;
};

}  // namespace zivorna::app::testing
