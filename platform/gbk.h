// GBK conversions, done in this one place (Qt's ICU-backed codecs).
#pragma once

#include <string>
#include <string_view>

#include "text/text.h"

namespace zivorna::platform {

// GBK bytes to UTF-16. Invalid sequences become U+FFFD.
[[nodiscard]] std::u16string GbkToUtf16(std::string_view gbk);
// UTF-16 to GBK; characters without a GBK form become "?".
[[nodiscard]] Text Utf16ToGbk(std::u16string_view text);
// GBK bytes to UTF-8. Invalid sequences become U+FFFD.
[[nodiscard]] std::string GbkToUtf8(std::string_view gbk);
// UTF-8 to GBK; characters without a GBK form become "?". `*lossless` (when
// given) is set to whether every character had a GBK form.
[[nodiscard]] Text Utf8ToGbk(std::string_view utf8, bool* lossless = nullptr);
// Whether the bytes are well-formed GBK (every lead byte 0x81..0xFE followed
// by a trail byte 0x40..0xFE other than 0x7F).
[[nodiscard]] bool IsValidGbk(std::string_view bytes);

}  // namespace zivorna::platform
