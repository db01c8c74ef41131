#include "platform/http_settings.h"

#include <algorithm>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>

#include "platform/curl_transfer.h"

namespace zivorna::platform {
namespace {

struct Settings {
  std::mutex mutex;
  std::shared_ptr<const std::string> caBundle;
  InternetTimeouts timeouts;
};

Settings& TheSettings() {
  static auto* settings = new Settings;
  return *settings;
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream out;
  out << in.rdbuf();
  if (in.bad()) return std::nullopt;
  return out.str();
}

// The system store libcurl was built to use: its bundle file, so that an extra
// file can be trusted alongside it in one in-memory bundle.
std::string SystemBundle() {
  internal::EnsureCurlReady();
  std::string path = "/etc/ssl/certs/ca-certificates.crt";
  if (CURL* easy = curl_easy_init()) {
    char* builtIn = nullptr;
    if (curl_easy_getinfo(easy, CURLINFO_CAINFO, &builtIn) == CURLE_OK && builtIn != nullptr) {
      path = builtIn;
    }
    curl_easy_cleanup(easy);
  }
  return ReadWholeFile(path).value_or(std::string());
}

}  // namespace

bool SetExtraTrustedCaFile(const std::string& path) {
  Settings& settings = TheSettings();
  if (path.empty()) {
    std::lock_guard lock(settings.mutex);
    settings.caBundle.reset();
    return true;
  }
  std::optional<std::string> extra = ReadWholeFile(path);
  if (!extra || extra->find("-----BEGIN CERTIFICATE-----") == std::string::npos) return false;
  auto bundle = std::make_shared<std::string>(SystemBundle());
  if (!bundle->empty() && bundle->back() != '\n') *bundle += '\n';
  *bundle += *extra;
  std::lock_guard lock(settings.mutex);
  settings.caBundle = std::move(bundle);
  return true;
}

InternetTimeouts CurrentInternetTimeouts() {
  Settings& settings = TheSettings();
  std::lock_guard lock(settings.mutex);
  return settings.timeouts;
}

void SetInternetTimeoutsForTesting(const InternetTimeouts& timeouts) {
  Settings& settings = TheSettings();
  std::lock_guard lock(settings.mutex);
  settings.timeouts.connectMs = std::max(1L, timeouts.connectMs);
  settings.timeouts.sendMs = std::max(1L, timeouts.sendMs);
  settings.timeouts.receiveMs = std::max(1L, timeouts.receiveMs);
}

void ResetInternetTimeoutsForTesting() { SetInternetTimeoutsForTesting(InternetTimeouts{}); }

namespace internal {

std::shared_ptr<const std::string> TrustedCaBundle() {
  Settings& settings = TheSettings();
  std::lock_guard lock(settings.mutex);
  return settings.caBundle;
}

}  // namespace internal
}  // namespace zivorna::platform
