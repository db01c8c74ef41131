// Slow, literal versions of the character-aware text operations: one walk
// over every character, one comparison per visited position. The real
// operations find byte matches first and decide afterwards whether the walk
// would have visited them; the tests and the fuzzer compare both.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zivorna::naive {

inline unsigned char B(std::string_view s, std::size_t i) {
  return static_cast<unsigned char>(s[i]);
}
inline unsigned char Fold(unsigned char b) { return (b >= 'A' && b <= 'Z') ? b + 32 : b; }

inline bool EqualAt(std::string_view text, std::size_t c, std::string_view pattern, bool fold) {
  for (std::size_t k = 0; k < pattern.size(); ++k) {
    unsigned char a = B(text, c + k), b = B(pattern, k);
    if (fold ? Fold(a) != Fold(b) : a != b) return false;
  }
  return true;
}

// Calls visit(c) for each 0-based position a walk from `from` tests, in
// order, while at least `need` bytes remain; visit returns the next position
// to walk from (or text.size() to stop). A cut lead byte at the end stops it.
template <class Visit>
void Walk(std::string_view text, std::size_t from, std::size_t need, Visit visit) {
  std::size_t c = from;
  while (c < text.size() && text.size() - c >= need) {
    if (B(text, c) >= 0x80 && c + 1 == text.size()) return;
    c = visit(c);
  }
}
inline std::size_t Step(std::string_view text, std::size_t c) {
  return c + (B(text, c) >= 0x80 ? 2 : 1);
}

inline int FindText(std::string_view text, std::string_view pattern, int start, bool fold) {
  std::size_t s = start > 1 ? static_cast<std::size_t>(start) - 1 : 0;
  if (s >= text.size()) return -1;
  if (pattern.empty()) return 1;
  int found = -1;
  Walk(text, s, pattern.size(), [&](std::size_t c) {
    if (EqualAt(text, c, pattern, fold)) {
      found = static_cast<int>(c + 1);
      return text.size();
    }
    return Step(text, c);
  });
  return found;
}

inline int FindTextReverse(std::string_view text, std::string_view pattern,
                           std::optional<int> start, bool fold) {
  long long end = static_cast<long long>(text.size());
  if (start) end = *start <= 1 ? 0 : std::min<long long>(end, *start - 1LL);
  if (pattern.empty()) return end > 0 ? 1 : -1;
  int found = -1;
  std::string_view region = text.substr(0, static_cast<std::size_t>(end));
  // The walk is the walk over the whole text; only positions whose match
  // lies inside the region count.
  Walk(text, 0, pattern.size(), [&](std::size_t c) {
    if (c + pattern.size() <= region.size() && EqualAt(text, c, pattern, fold)) {
      found = static_cast<int>(c + 1);
    }
    return Step(text, c);
  });
  return found;
}

inline std::string ReplaceSubtext(std::string_view text, std::string_view pattern,
                                  std::string_view replacement, int start, int count,
                                  bool caseSensitive) {
  std::size_t s = start > 1 ? static_cast<std::size_t>(start) - 1 : 0;
  if (text.empty() || pattern.empty() || s >= text.size() || count == 0) return std::string(text);
  std::string out(text.substr(0, s));
  long long left = count;
  std::size_t stop = s;
  Walk(text, s, pattern.size(), [&](std::size_t c) {
    stop = c;
    if (EqualAt(text, c, pattern, !caseSensitive)) {
      out += replacement;
      stop = c + pattern.size();
      if (left > 0 && --left == 0) return text.size();
      return stop;
    }
    std::size_t next = std::min(Step(text, c), text.size());
    out += text.substr(c, next - c);
    stop = next;
    return next;
  });
  out += text.substr(stop);
  return out;
}

inline std::vector<std::string> SplitText(std::string_view text, std::string_view delimiter,
                                          std::optional<int> count) {
  std::vector<std::string> out;
  long long n = count ? std::max(*count, 0) : -1;
  if (text.empty() || n == 0) return out;
  if (delimiter.empty()) return {std::string(text)};
  std::size_t piece = 0;
  bool full = false;
  Walk(text, 0, delimiter.size(), [&](std::size_t c) {
    if (EqualAt(text, c, delimiter, false)) {
      out.emplace_back(text.substr(piece, c - piece));
      piece = c + delimiter.size();
      if (n > 0 && static_cast<long long>(out.size()) == n) {
        full = true;
        return text.size();
      }
      return piece;
    }
    return Step(text, c);
  });
  if (!full && piece < text.size()) out.emplace_back(text.substr(piece));
  return out;
}

inline bool IsSpace(std::string_view text, std::size_t c) {
  return B(text, c) == 0x20 ||
         (B(text, c) == 0xA1 && c + 1 < text.size() && B(text, c + 1) == 0xA1);
}

inline std::string TrimBothEnds(std::string_view text) {
  std::size_t c = 0;
  while (c < text.size() && IsSpace(text, c)) c = Step(text, c);
  std::size_t first = c, cut = c;
  while (c < text.size()) {
    bool space = IsSpace(text, c);
    c = std::min(Step(text, c), text.size());
    if (!space) cut = c;
  }
  return std::string(text.substr(first, cut - first));
}

}  // namespace zivorna::naive
