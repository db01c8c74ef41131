// The connectivity probe: fetches the probe page and looks for its marker.
#pragma once

#include "platform/internet.h"
#include "text/text.h"

namespace zivorna {

// The probe page's address (a setting, default the public search engine's
// plain-http home page). Thread-safe.
[[nodiscard]] Text ProbeUrl();
void SetProbeUrl(const Text& url);
// The UTF-8 bytes of "百度一下".
[[nodiscard]] const ByteSet& ProbeMarker();

// True when the body of a fresh GET of ProbeUrl() holds ProbeMarker().
[[nodiscard]] bool ProbeNetwork(platform::Internet& internet);
[[nodiscard]] bool ProbeNetwork();

}  // namespace zivorna
