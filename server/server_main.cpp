// zivorna-server: the lookup server on its own.
//
//   zivorna-server [--listen HOST:PORT] [--wubi98 FILE] [--data FILE]
//   zivorna-server --export DIR --chars TEXT [--wubi98 FILE] [--data FILE]
//
// Listens on 127.0.0.1:8786 unless told otherwise, prints the address it
// serves and runs until SIGINT or SIGTERM. With --export it writes the pages
// and pictures of the characters of TEXT (UTF-8) as static files and exits.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include <QGuiApplication>

#include "server/lookup_server.h"
#include "server/wubi_tables.h"

namespace {

constexpr int kDefaultPort = 8786;

void Usage(FILE* to) {
  std::fputs(
      "usage: zivorna-server [--listen HOST:PORT] [--wubi98 FILE] [--data FILE]\n"
      "  --listen HOST:PORT  address to serve on (default 127.0.0.1:8786; port 0: any free port)\n"
      "  --wubi98 FILE       Rime-format Wubi 98 dictionary (default: the standard Rime folders)\n"
      "  --data FILE         character data file (default: the one built with the server)\n"
      "  --export DIR        write the pages and pictures of --chars under DIR and exit\n"
      "  --chars TEXT        the characters to export (UTF-8)\n",
      to);
}

// "HOST:PORT", "[V6]:PORT" or ":PORT" (host left as it was).
bool ParseListen(std::string_view arg, std::string* host, int* port) {
  const size_t colon = arg.rfind(':');
  if (colon == std::string_view::npos) return false;
  std::string_view h = arg.substr(0, colon);
  const std::string p(arg.substr(colon + 1));
  if (h.size() >= 2 && h.front() == '[' && h.back() == ']') h = h.substr(1, h.size() - 2);
  char* end = nullptr;
  const long value = std::strtol(p.c_str(), &end, 10);
  if (p.empty() || *end != '\0' || value < 0 || value > 65535) return false;
  if (!h.empty()) *host = std::string(h);
  *port = static_cast<int>(value);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  zivorna::server::ServerOptions options;
  options.port = kDefaultPort;
  std::string exportDir;
  std::string exportChars;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--help" || arg == "-h") {
      Usage(stdout);
      return 0;
    } else if (arg == "--listen" && hasValue) {
      if (!ParseListen(argv[++i], &options.host, &options.port)) {
        std::fprintf(stderr, "zivorna-server: bad --listen value '%s' (want HOST:PORT)\n", argv[i]);
        return 2;
      }
    } else if (arg == "--wubi98" && hasValue) {
      options.wubi98Path = argv[++i];
    } else if (arg == "--data" && hasValue) {
      options.dataPath = argv[++i];
    } else if (arg == "--export" && hasValue) {
      exportDir = argv[++i];
    } else if (arg == "--chars" && hasValue) {
      exportChars = argv[++i];
    } else {
      Usage(stderr);
      return 2;
    }
  }

  if (!exportDir.empty()) {
    std::u32string chars;
    if (!zivorna::server::DecodeUtf8(exportChars, &chars) || chars.empty()) {
      std::fprintf(stderr, "zivorna-server: --export needs --chars with UTF-8 characters\n");
      return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    std::string error;
    int exported = 0;
    if (!zivorna::server::ExportStaticFiles(options, chars, exportDir, &exported, &error)) {
      std::fprintf(stderr, "zivorna-server: %s\n", error.c_str());
      return 1;
    }
    std::printf("zivorna-server: exported %d characters to %s\n", exported, exportDir.c_str());
    return 0;
  }

  // Block the stop signals in every thread (the ones started below inherit
  // the mask); the main thread takes them with sigwait.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  // Pictures are drawn off screen; no display is needed.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);

  std::string error;
  auto server = zivorna::server::LookupServer::Start(options, &error);
  if (!server) {
    std::fprintf(stderr, "zivorna-server: %s\n", error.c_str());
    return 1;
  }
  const std::string table98 = server->Wubi98Table();
  std::printf("zivorna-server: serving on %s/ (Wubi 98 table: %s)\n", server->BaseUrl().c_str(),
              table98.empty() ? "none installed" : table98.c_str());
  std::fflush(stdout);

  int signal = 0;
  sigwait(&stopSignals, &signal);
  std::printf("zivorna-server: %s, stopping\n", signal == SIGINT ? "SIGINT" : "SIGTERM");
  server->Stop();
  return 0;
}
