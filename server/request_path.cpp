#include "server/request_path.h"

#include <string>

#include "platform/gbk.h"
#include "server/wubi_tables.h"

namespace zivorna::server {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Strict percent-decoding: every '%' must start a two-digit escape; a zero
// byte, escaped or raw, is refused.
bool PercentDecode(std::string_view in, std::string* out) {
  out->clear();
  for (size_t i = 0; i < in.size(); ++i) {
    char c = in[i];
    if (c == '%') {
      if (i + 2 >= in.size()) return false;
      const int hi = HexValue(in[i + 1]);
      const int lo = HexValue(in[i + 2]);
      if (hi < 0 || lo < 0) return false;
      c = static_cast<char>(hi * 16 + lo);
      i += 2;
    }
    if (c == '\0') return false;
    out->push_back(c);
  }
  return true;
}

}  // namespace

char32_t DecodeCharacter(std::string_view bytes) {
  if (bytes.size() == 2) {
    const auto lead = static_cast<unsigned char>(bytes[0]);
    const auto trail = static_cast<unsigned char>(bytes[1]);
    if (lead < 0x81 || lead > 0xFE || trail < 0x40 || trail > 0xFE || trail == 0x7F) return 0;
    const std::u16string s = platform::GbkToUtf16(bytes);
    if (s.size() != 1 || s[0] == 0xFFFD) return 0;
    return s[0];
  }
  if (bytes.size() == 3) {
    const char32_t cp = SingleCodePoint(bytes);
    return cp >= 0x800 ? cp : 0;
  }
  return 0;
}

Route RouteTarget(std::string_view target) {
  if (target.size() > kMaxTargetLength) return {};
  const size_t query = target.find('?');
  std::string path;
  if (!PercentDecode(target.substr(0, query), &path)) return {};
  if (path == "/") return {Resource::kProbe, 0};

  struct Kind {
    std::string_view prefix, suffix;
    Resource resource;
  };
  static constexpr Kind kKinds[] = {{"/wubi/", ".htm", Resource::kPage},
                                    {"/wubis/", ".jpg", Resource::kPicture}};
  const std::string_view p = path;
  for (const Kind& k : kKinds) {
    if (p.size() > k.prefix.size() + k.suffix.size() && p.starts_with(k.prefix) &&
        p.ends_with(k.suffix)) {
      const std::string_view middle =
          p.substr(k.prefix.size(), p.size() - k.prefix.size() - k.suffix.size());
      const char32_t cp = DecodeCharacter(middle);
      if (cp != 0) return {k.resource, cp};
      return {};
    }
  }
  return {};
}

}  // namespace zivorna::server
