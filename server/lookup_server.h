// The bundled lookup server: serves each character's information page and
// picture from data loaded at start, plus a probe page at "/".
#pragma once

#include <memory>
#include <string>

namespace zivorna::server {

struct ServerOptions {
  std::string host = "127.0.0.1";  // loopback unless told otherwise
  int port = 0;                    // 0: a port chosen by the system
  std::string wubi98Path;          // empty: look in the standard Rime data folders
};

class LookupServer {
 public:
  virtual ~LookupServer() = default;
  // Loads the data and binds; null with `*error` set when either fails.
  static std::unique_ptr<LookupServer> Start(const ServerOptions& options, std::string* error);
  // The bound port and the base address "http://HOST:PORT" (no final "/").
  [[nodiscard]] virtual int Port() const = 0;
  [[nodiscard]] virtual std::string BaseUrl() const = 0;
  // Stops serving and joins the server's threads; idempotent.
  virtual void Stop() = 0;
};

}  // namespace zivorna::server
