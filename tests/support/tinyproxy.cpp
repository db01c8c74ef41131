#include "tests/support/tinyproxy.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

namespace zivorna::testing {
namespace {

// A port that was free a moment ago (the system picks it).
int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return 0;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
    port = ntohs(addr.sin_port);
  }
  close(fd);
  return port;
}

bool Accepts(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  close(fd);
  return ok;
}

}  // namespace

std::optional<std::string> Tinyproxy::Program() {
  for (const char* candidate : {"/usr/bin/tinyproxy", "/usr/sbin/tinyproxy", "/usr/local/bin/tinyproxy"}) {
    if (access(candidate, X_OK) == 0) return std::string(candidate);
  }
  return std::nullopt;
}

Tinyproxy::Tinyproxy() {
  const std::optional<std::string> program = Program();
  if (!program || dir_.path().empty()) return;
  // The free port may be taken by someone else before tinyproxy binds it;
  // try again with another one then.
  for (int attempt = 0; attempt < 3 && !ok(); ++attempt) {
    if (!Launch(*program)) Stop();
  }
}

Tinyproxy::~Tinyproxy() { Stop(); }

std::string Tinyproxy::Address() const { return "127.0.0.1:" + std::to_string(port_); }

std::string Tinyproxy::Log() const {
  std::ifstream in(dir_.File("tinyproxy.log"));
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

bool Tinyproxy::Launch(const std::string& program) {
  port_ = FreePort();
  if (port_ == 0) return false;
  const std::string config = dir_.Write(
      "tinyproxy.conf",
      "Port " + std::to_string(port_) + "\n"
      "Listen 127.0.0.1\n"
      "Allow 127.0.0.1\n"
      "Timeout 30\n"
      "MaxClients 32\n"
      "LogLevel Info\n");
  if (config.empty()) return false;
  const std::string log = dir_.File("tinyproxy.log");

  pid_ = fork();
  if (pid_ < 0) return false;
  if (pid_ == 0) {
    // Child: output to the log file, then the proxy in the foreground.
    const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (out >= 0) {
      dup2(out, STDOUT_FILENO);
      dup2(out, STDERR_FILENO);
    }
    execl(program.c_str(), program.c_str(), "-d", "-c", config.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (std::chrono::steady_clock::now() < deadline) {
    if (Accepts(port_)) return true;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {  // it exited (port taken?)
      pid_ = -1;
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

void Tinyproxy::Stop() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (waitpid(pid_, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  pid_ = -1;
  port_ = 0;
}

}  // namespace zivorna::testing
