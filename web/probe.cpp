#include "web/probe.h"

#include <mutex>

#include "web/inet_fetch.h"

namespace zivorna {
namespace {

std::mutex& ProbeUrlMutex() {
  static std::mutex mutex;
  return mutex;
}

Text& ProbeUrlSetting() {
  static Text url = "http://www.baidu.com/";
  return url;
}

}  // namespace

Text ProbeUrl() {
  const std::lock_guard lock(ProbeUrlMutex());
  return ProbeUrlSetting();
}

void SetProbeUrl(const Text& url) {
  const std::lock_guard lock(ProbeUrlMutex());
  ProbeUrlSetting() = url;
}

const ByteSet& ProbeMarker() {
  // "百度一下" in UTF-8. The body is searched as received, never converted,
  // so the marker only counts in this encoding.
  static const ByteSet marker = {0xE7, 0x99, 0xBE, 0xE5, 0xBA, 0xA6,
                                 0xE4, 0xB8, 0x80, 0xE4, 0xB8, 0x8B};
  return marker;
}

bool ProbeNetwork(platform::Internet& internet) {
  // A fresh request on every call: the answer is never cached.
  const ByteSet body = InetFetch(internet, ProbeUrl());
  return FindBytes(body, ProbeMarker()) != -1;
}

bool ProbeNetwork() { return ProbeNetwork(platform::CurlInternet()); }

}  // namespace zivorna
