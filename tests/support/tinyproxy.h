// Runs a real HTTP proxy (tinyproxy) for a test: a private config that
// listens on 127.0.0.1 at a free port and admits 127.0.0.1 only; the proxy
// runs in the foreground as a child process and is stopped at destruction.
// Forwarded requests carry tinyproxy's "Via" header, which tells a test that
// a request went through the proxy.
//
//   ZV_SKIP_WITHOUT_TINYPROXY();
//   Tinyproxy proxy;
//   ASSERT_TRUE(proxy.ok()) << proxy.Log();
//   ... send through proxy.Address() ("127.0.0.1:PORT") ...
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

#include "tests/support/temp_dir.h"

namespace zivorna::testing {

class Tinyproxy {
 public:
  // The tinyproxy program, or nullopt when it is not installed.
  static std::optional<std::string> Program();

  Tinyproxy();   // starts it and waits (up to 5 s) until it accepts
  ~Tinyproxy();  // stops it
  Tinyproxy(const Tinyproxy&) = delete;
  Tinyproxy& operator=(const Tinyproxy&) = delete;

  [[nodiscard]] bool ok() const { return pid_ > 0 && port_ > 0; }
  [[nodiscard]] int port() const { return port_; }
  // "127.0.0.1:PORT".
  [[nodiscard]] std::string Address() const;
  // What the proxy wrote to stdout and stderr so far.
  [[nodiscard]] std::string Log() const;

 private:
  bool Launch(const std::string& program);
  void Stop();

  TempDir dir_;
  pid_t pid_ = -1;
  int port_ = 0;
};

}  // namespace zivorna::testing

// Skips the current test when tinyproxy is not installed.
#define ZV_SKIP_WITHOUT_TINYPROXY()                                  \
  do {                                                               \
    if (!::zivorna::testing::Tinyproxy::Program()) {                 \
      GTEST_SKIP() << "tinyproxy is not installed";                  \
    }                                                                \
  } while (false)
