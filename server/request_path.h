// Which resource a request target names. The character in a path may arrive
// percent-encoded as GBK bytes ("/wubi/%CE%E5.htm"), percent-encoded as UTF-8
// ("/wubi/%E4%BA%94.htm") or as raw GBK bytes; each names the same resource.
// Paths are only ever matched here, never used to reach the file system.
#pragma once

#include <string_view>

namespace zivorna::server {

enum class Resource { kNone, kProbe, kPage, kPicture };

struct Route {
  Resource resource = Resource::kNone;
  char32_t character = 0;  // for kPage and kPicture
};

// Longest request target accepted; longer ones name nothing.
inline constexpr size_t kMaxTargetLength = 256;

// The resource named by a request target (origin form, query allowed and
// ignored):
//   "/"                           -> kProbe
//   "/wubi/" + C + ".htm"         -> kPage of C
//   "/wubis/" + C + ".jpg"        -> kPicture of C
// where C, after percent-decoding, is exactly one character: two bytes that
// form one GBK character, or three bytes that form one UTF-8 character.
// Anything else, including malformed percent escapes, "%00", a C of any
// other length or a target over kMaxTargetLength bytes, gives kNone.
// RouteTarget("/wubi/%CE%E5.htm") == {kPage, U'五'}.
[[nodiscard]] Route RouteTarget(std::string_view target);

// The one character of a decoded path piece: a GBK double-byte character
// (2 bytes) or a UTF-8 character of 3 bytes; 0 otherwise.
[[nodiscard]] char32_t DecodeCharacter(std::string_view bytes);

}  // namespace zivorna::server
