#include <cstdio>
#include <string>

#include "server/lookup_server.h"

int main() {
  std::string error;
  auto server = zivorna::server::LookupServer::Start({}, &error);
  if (!server) {
    std::fprintf(stderr, "zivorna-server: %s\n", error.c_str());
    return 1;
  }
  return 0;
}
