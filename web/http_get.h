// `HttpGetBytes`: the plain GET with which pictures are fetched.
#pragma once

#include "platform/internet.h"
#include "text/text.h"

namespace zivorna {

// The body of a GET of `url` (status not looked at); empty on failure, the
// bytes read so far when reading fails midway.
[[nodiscard]] ByteSet HttpGetBytes(platform::Internet& internet, const Text& url);
[[nodiscard]] ByteSet HttpGetBytes(const Text& url);

}  // namespace zivorna
