#include "server/wubi_tables.h"

#include <algorithm>
#include <charconv>

namespace zivorna::server {

namespace internal {

bool ParseRimeLine(std::string_view line, RimeEntry* entry) {
  if (line.empty() || line.front() == '#') return false;
  const size_t tab1 = line.find('\t');
  if (tab1 == std::string_view::npos || tab1 == 0) return false;
  const size_t tab2 = line.find('\t', tab1 + 1);
  const std::string_view code = line.substr(tab1 + 1, tab2 == std::string_view::npos
                                                          ? std::string_view::npos
                                                          : tab2 - tab1 - 1);
  if (code.empty()) return false;
  entry->text.assign(line.substr(0, tab1));
  entry->code.assign(code);
  entry->weight = 0;
  if (tab2 != std::string_view::npos) {
    std::string_view w = line.substr(tab2 + 1);
    w = w.substr(0, w.find('\t'));
    double value = 0;
    const auto [ptr, ec] = std::from_chars(w.data(), w.data() + w.size(), value);
    // A percentage weight ("50%") keeps its number; anything unreadable is 0.
    if (ec == std::errc() && ptr != w.data()) entry->weight = value;
  }
  return true;
}

}  // namespace internal

namespace {

bool IsCodeLetters(std::string_view code) {
  return !code.empty() && std::all_of(code.begin(), code.end(), [](char c) {
    return c >= 'a' && c <= 'y';
  });
}

}  // namespace

std::vector<LeveledCode> ClassifyCodes(const std::vector<std::pair<std::string, double>>& codes) {
  // Heaviest first; a stable sort keeps the table's order among equals.
  std::vector<std::pair<std::string, double>> usable;
  for (const auto& c : codes) {
    if (IsCodeLetters(c.first) && c.first.size() <= 4) usable.push_back(c);
  }
  std::stable_sort(usable.begin(), usable.end(),
                   [](const auto& a, const auto& b) { return a.second > b.second; });
  size_t longest = 0;
  for (const auto& c : usable) longest = std::max(longest, c.first.size());
  const size_t fullLength = longest >= 3 ? longest : 0;

  std::vector<LeveledCode> out;
  auto add = [&out](const std::string& code, int level) {
    const bool seen = std::any_of(out.begin(), out.end(),
                                  [&](const LeveledCode& c) { return c.code == code; });
    if (!seen) out.push_back({code, level});
  };
  for (const auto& c : usable) {
    if (c.first.size() == fullLength) add(c.first, 4);
  }
  for (size_t level = 1; level <= 3; ++level) {
    for (const auto& c : usable) {
      if (c.first.size() == level && level != fullLength) add(c.first, static_cast<int>(level));
    }
  }
  return out;
}

bool LoadCharCodes(std::istream& in, CharCodeTable* table, std::string* error) {
  std::unordered_map<char32_t, std::vector<std::pair<std::string, double>>> raw;
  ReadRimeTable(in, [&raw](const RimeEntry& e) {
    const char32_t cp = SingleCodePoint(e.text);
    if (cp != 0) raw[cp].emplace_back(e.code, e.weight);
  });
  table->clear();
  for (const auto& [cp, codes] : raw) {
    std::vector<LeveledCode> sorted = ClassifyCodes(codes);
    if (!sorted.empty()) table->emplace(cp, std::move(sorted));
  }
  if (table->empty()) {
    if (error != nullptr) *error = "no character entries in the table";
    return false;
  }
  return true;
}

bool DecodeUtf8(std::string_view utf8, std::u32string* out) {
  out->clear();
  size_t i = 0;
  while (i < utf8.size()) {
    const auto b0 = static_cast<unsigned char>(utf8[i]);
    int len = 0;
    char32_t cp = 0;
    char32_t min = 0;
    if (b0 < 0x80) {
      len = 1, cp = b0;
    } else if (b0 >= 0xC2 && b0 <= 0xDF) {
      len = 2, cp = b0 & 0x1F, min = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
      len = 3, cp = b0 & 0x0F, min = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
      len = 4, cp = b0 & 0x07, min = 0x10000;
    } else {
      return false;
    }
    if (i + static_cast<size_t>(len) > utf8.size()) return false;
    for (int k = 1; k < len; ++k) {
      const auto b = static_cast<unsigned char>(utf8[i + static_cast<size_t>(k)]);
      if ((b & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (b & 0x3F);
    }
    // Overlong forms, surrogates and values beyond U+10FFFF are malformed.
    if (cp < min || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) return false;
    out->push_back(cp);
    i += static_cast<size_t>(len);
  }
  return true;
}

char32_t SingleCodePoint(std::string_view utf8) {
  std::u32string cps;
  if (!DecodeUtf8(utf8, &cps) || cps.size() != 1) return 0;
  return cps[0];
}

void AppendUtf8(char32_t cp, std::string* out) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

}  // namespace zivorna::server
