// Process-wide settings of the HTTP layers (the connection layer and the
// request objects). The defaults suit the program; tests change them to
// trust a test certificate authority and to shorten waits.
#pragma once

#include <string>

namespace zivorna::platform {

// Trusts the PEM certificates in `path` in addition to the system store for
// every later TLS request. An empty path goes back to the system store only.
// Returns false (and keeps the previous setting) when the file cannot be read
// or holds no certificate.
bool SetExtraTrustedCaFile(const std::string& path);

// The waits of the connection layer, which takes no time-outs from callers:
// establishing the connection (name resolution included), and the longest
// pause while sending the request or while waiting for response bytes.
struct InternetTimeouts {
  long connectMs = 60000;
  long sendMs = 30000;
  long receiveMs = 30000;
};
[[nodiscard]] InternetTimeouts CurrentInternetTimeouts();
// Replaces the waits (values below 1 ms count as 1 ms); for tests.
void SetInternetTimeoutsForTesting(const InternetTimeouts& timeouts);
void ResetInternetTimeoutsForTesting();

}  // namespace zivorna::platform
