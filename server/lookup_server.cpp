#include "server/lookup_server.h"

namespace zivorna::server {

std::unique_ptr<LookupServer> LookupServer::Start(const ServerOptions& /*options*/,
                                                  std::string* error) {
  if (error != nullptr) *error = "lookup server not built yet";
  return nullptr;
}

}  // namespace zivorna::server
