#include "platform/http_text.h"

#include <cstdint>

namespace zivorna::platform::internal {
namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsSpaceOrTab(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsSpaceOrTab(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsSpaceOrTab(s.back())) s.remove_suffix(1);
  return s;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Decodes well-formed UTF-8 into `out`; false at the first malformed sequence.
bool DecodeUtf8(std::string_view bytes, std::u16string& out) {
  size_t i = 0;
  while (i < bytes.size()) {
    const auto b0 = static_cast<std::uint8_t>(bytes[i]);
    char32_t cp = 0;
    size_t extra = 0;
    char32_t min = 0;
    if (b0 < 0x80) {
      cp = b0;
    } else if (b0 >= 0xC2 && b0 <= 0xDF) {
      cp = b0 & 0x1F, extra = 1, min = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
      cp = b0 & 0x0F, extra = 2, min = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
      cp = b0 & 0x07, extra = 3, min = 0x10000;
    } else {
      return false;
    }
    if (i + extra >= bytes.size()) return false;  // sequence cut short
    for (size_t k = 1; k <= extra; ++k) {
      const auto b = static_cast<std::uint8_t>(bytes[i + k]);
      if ((b & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
    i += extra + 1;
  }
  return true;
}

std::string_view StripHttpPrefix(std::string_view server) {
  constexpr std::string_view kPrefix = "http://";
  if (server.size() >= kPrefix.size() && EqualsIgnoreCase(server.substr(0, kPrefix.size()), kPrefix)) {
    server.remove_prefix(kPrefix.size());
  }
  while (!server.empty() && server.back() == '/') server.remove_suffix(1);
  return server;
}

}  // namespace

std::string PercentEncodeUnsafe(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size());
  for (char c : bytes) {
    const auto b = static_cast<std::uint8_t>(c);
    if (b <= 0x20 || b >= 0x7F) {
      out += '%';
      out += kHex[b >> 4];
      out += kHex[b & 0x0F];
    } else {
      out += c;
    }
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t u = text[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      AppendUtf8(out, 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (text[i + 1] - 0xDC00));
      ++i;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      AppendUtf8(out, 0xFFFD);
    } else {
      AppendUtf8(out, u);
    }
  }
  return out;
}

std::u16string Utf8OrLatin1ToUtf16(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  if (DecodeUtf8(bytes, out)) return out;
  out.clear();
  for (char c : bytes) out += static_cast<char16_t>(static_cast<std::uint8_t>(c));
  return out;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

bool IsHeaderName(std::string_view name) {
  if (name.empty()) return false;
  static constexpr std::string_view kSymbols = "!#$%&'*+-.^_`|~";
  for (char c : name) {
    const bool alnum = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (!alnum && kSymbols.find(c) == std::string_view::npos) return false;
  }
  return true;
}

std::vector<HeaderLine> SplitHeaderBlock(std::string_view block) {
  std::vector<HeaderLine> lines;
  size_t start = 0;
  while (start <= block.size()) {
    size_t end = block.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = block.size();
    const std::string_view line = block.substr(start, end - start);
    start = end + 1;
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    const std::string_view name = Trim(line.substr(0, colon));
    const std::string_view value = Trim(line.substr(colon + 1));
    if (!IsHeaderName(name) || value.find('\0') != std::string_view::npos) continue;
    lines.push_back({std::string(name), std::string(value)});
  }
  return lines;
}

ProxyRules ParseProxyList(std::string_view list) {
  ProxyRules rules;
  size_t start = 0;
  while (start < list.size()) {
    size_t end = list.find_first_of(" ;\t", start);
    if (end == std::string_view::npos) end = list.size();
    const std::string_view entry = list.substr(start, end - start);
    start = end + 1;
    if (entry.empty()) continue;
    const size_t eq = entry.find('=');
    if (eq == std::string_view::npos) {
      // A server without a scheme serves every scheme not named on its own.
      const std::string server(StripHttpPrefix(entry));
      if (!rules.http.set) rules.http = {true, server};
      if (!rules.https.set) rules.https = {true, server};
      continue;
    }
    const std::string_view scheme = entry.substr(0, eq);
    const ProxyRoute route{true, std::string(StripHttpPrefix(entry.substr(eq + 1)))};
    if (EqualsIgnoreCase(scheme, "http")) {
      rules.http = route;
    } else if (EqualsIgnoreCase(scheme, "https")) {
      rules.https = route;
    }
  }
  return rules;
}

bool HostBypassesProxy(std::string_view host, std::string_view bypassList) {
  size_t start = 0;
  while (start < bypassList.size()) {
    size_t end = bypassList.find_first_of(" ,;\t", start);
    if (end == std::string_view::npos) end = bypassList.size();
    const std::string_view entry = bypassList.substr(start, end - start);
    start = end + 1;
    if (entry.empty()) continue;
    if (EqualsIgnoreCase(entry, "<local>")) {
      if (host.find('.') == std::string_view::npos && host.find(':') == std::string_view::npos) {
        return true;
      }
    } else if (entry.front() == '*') {
      const std::string_view suffix = entry.substr(1);
      if (host.size() >= suffix.size() &&
          EqualsIgnoreCase(host.substr(host.size() - suffix.size()), suffix)) {
        return true;
      }
    } else if (EqualsIgnoreCase(entry, host)) {
      return true;
    }
  }
  return false;
}

}  // namespace zivorna::platform::internal
