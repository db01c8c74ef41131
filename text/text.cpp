// Text, byte-set and array operations.
//
// All positions handed in and out are 1-based; internally everything is a
// 0-based byte index into the argument. The character-aware operations are
// defined by a walk that starts at a known character boundary and steps one
// byte over a byte below 0x80 and two bytes over a byte of 0x80 or above.
// Walking every character of a long text is slow, so the searches find byte
// matches with memmem/memchr first and only then ask whether the match lies
// on a position that walk would visit (see OnWalk below).
#include "text/text.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <limits>

namespace zivorna {
namespace {

using Byte = unsigned char;
constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();

inline Byte At(std::string_view s, std::size_t i) { return static_cast<Byte>(s[i]); }
inline bool IsLead(Byte b) { return b >= 0x80; }
inline Byte FoldAscii(Byte b) { return (b >= 'A' && b <= 'Z') ? static_cast<Byte>(b + 32) : b; }

// Position (1-based) handed back for a 0-based index.
inline int ToPos(std::size_t index) { return static_cast<int>(index + 1); }

// Number of bytes of 0x80 or above standing directly before `c`, counting no
// further back than `from`.
std::size_t HighRunBefore(const Byte* p, std::size_t from, std::size_t c) {
  std::size_t run = 0;
  std::size_t i = c;
  if constexpr (std::endian::native == std::endian::little) {
    constexpr std::uint64_t kHigh = 0x8080808080808080ull;
    while (i - from >= 8) {
      std::uint64_t w;
      std::memcpy(&w, p + i - 8, 8);  // byte i-1 lands in the top byte
      const std::uint64_t low = ~w & kHigh;
      if (low != 0) return run + static_cast<std::size_t>(std::countl_zero(low)) / 8;
      run += 8;
      i -= 8;
    }
  }
  while (i > from && IsLead(p[i - 1])) {
    ++run;
    --i;
  }
  return run;
}

// Whether a character walk starting at `from` visits `c` (from <= c).
//
// A byte below 0x80 never starts a two-byte character, so the position after
// it is always a character start. The walk therefore re-synchronises after
// every such byte: behind the last byte below 0x80 (or behind `from`) there is
// a run of bytes of 0x80 or above made of whole pairs, and `c` is visited
// exactly when that run has even length.
bool OnWalk(const Byte* p, std::size_t from, std::size_t c) {
  return HighRunBefore(p, from, c) % 2 == 0;
}

// Whether the `n` bytes at `a` and `b` are equal, ASCII letters folded.
bool EqualFolded(const Byte* a, const Byte* b, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  }
  return true;
}

// Finds byte matches of a pattern, ignoring character structure.
class ByteMatcher {
 public:
  ByteMatcher(std::string_view text, std::string_view pattern, bool ignoreCase)
      : p_(reinterpret_cast<const Byte*>(text.data())),
        len_(text.size()),
        pat_(reinterpret_cast<const Byte*>(pattern.data())),
        plen_(pattern.size()),
        fold_(ignoreCase) {
    if (fold_) {
      first_ = FoldAscii(pat_[0]);
      firstUpper_ = (first_ >= 'a' && first_ <= 'z') ? static_cast<Byte>(first_ - 32) : first_;
    }
  }

  // First index >= from at which the pattern matches bytewise, or kNone.
  // Requires a non-empty pattern.
  std::size_t Next(std::size_t from) const {
    if (from > len_ || len_ - from < plen_) return kNone;
    const std::size_t last = len_ - plen_;  // last index a match can start at
    if (!fold_) {
      // memchr on the first byte, then compare the rest: cheap per call, which
      // matters when matches are frequent (delimiters, separators), and fast
      // when the first byte is rare. Where the first byte keeps turning up
      // close together without a match, search the next stretch with memmem
      // instead, whose per-call setup is then worth it, and look again after.
      constexpr std::size_t kMisses = 16;
      constexpr std::size_t kDenseSpan = kMisses * 128;
      constexpr std::size_t kStretch = 64 * 1024;
      std::size_t i = from;
      std::size_t misses = 0;
      while (i <= last) {
        const void* hit = std::memchr(p_ + i, pat_[0], last - i + 1);
        if (!hit) return kNone;
        i = static_cast<std::size_t>(static_cast<const Byte*>(hit) - p_);
        if (std::memcmp(p_ + i + 1, pat_ + 1, plen_ - 1) == 0) return i;
        ++i;
        if (++misses < kMisses) continue;
        if (i - from < kDenseSpan && i <= last) {
          // Candidates i .. stretchLast, all of whose bytes lie in the text.
          const std::size_t stretchLast = std::min(last, i + kStretch);
          hit = memmem(p_ + i, stretchLast - i + plen_, pat_, plen_);
          if (hit) return static_cast<std::size_t>(static_cast<const Byte*>(hit) - p_);
          i = stretchLast + 1;
        }
        misses = 0;
        from = i;
      }
      return kNone;
    }
    for (std::size_t i = from; i <= last; ++i) {
      const Byte b = p_[i];
      if ((b == first_ || b == firstUpper_) && EqualFolded(p_ + i + 1, pat_ + 1, plen_ - 1)) {
        return i;
      }
    }
    return kNone;
  }

  // Last index c with c + plen <= end at which the pattern matches, or kNone.
  std::size_t Prev(std::size_t end) const {
    if (end < plen_) return kNone;
    std::size_t limit = end - plen_ + 1;  // candidates lie in [0, limit)
    while (limit > 0) {
      std::size_t i;
      if (!fold_) {
        const void* hit = memrchr(p_, pat_[0], limit);
        if (!hit) return kNone;
        i = static_cast<std::size_t>(static_cast<const Byte*>(hit) - p_);
        if (std::memcmp(p_ + i + 1, pat_ + 1, plen_ - 1) == 0) return i;
      } else {
        i = limit - 1;
        if (EqualFolded(p_ + i, pat_, plen_)) return i;
      }
      limit = i;
    }
    return kNone;
  }

 private:
  const Byte* p_;
  std::size_t len_;
  const Byte* pat_;
  std::size_t plen_;
  bool fold_;
  Byte first_ = 0;
  Byte firstUpper_ = 0;
};

// Forward character-aware search: the positions a walk from `walkStart`
// visits at which the pattern matches. A cut two-byte character at the very
// end of the text ends the walk, so nothing is matched starting there.
class ForwardSearch {
 public:
  ForwardSearch(std::string_view text, std::string_view pattern, bool ignoreCase)
      : text_(text), matcher_(text, pattern, ignoreCase) {}

  // First visited match at or after `walkStart`, which the walk starts at.
  std::size_t From(std::size_t walkStart) const {
    const Byte* p = reinterpret_cast<const Byte*>(text_.data());
    std::size_t known = walkStart;  // a position the walk is known to visit
    std::size_t pos = walkStart;
    for (;;) {
      const std::size_t c = matcher_.Next(pos);
      if (c == kNone) return kNone;
      if (OnWalk(p, known, c)) {
        if (c + 1 == text_.size() && IsLead(p[c])) return kNone;  // cut character
        return c;
      }
      // c is the second byte of a character, so the next one starts at c + 1.
      known = c + 1;
      pos = c + 1;
    }
  }

 private:
  std::string_view text_;
  ByteMatcher matcher_;
};

bool IsSpaceAt(std::string_view s, std::size_t i) {
  const Byte b = At(s, i);
  return b == 0x20 || (b == 0xA1 && i + 1 < s.size() && At(s, i + 1) == 0xA1);
}

// Length of the character at i (1 for a cut lead byte at the end).
inline std::size_t CharLen(std::string_view s, std::size_t i) {
  return (IsLead(At(s, i)) && i + 1 < s.size()) ? 2 : 1;
}

}  // namespace

// --- Queries and extraction ---

int TextLength(std::string_view text) { return static_cast<int>(text.size()); }

Text TextLeft(std::string_view text, int count) {
  if (count <= 0) return {};
  return Text(text.substr(0, static_cast<std::size_t>(count)));
}

Text TextRight(std::string_view text, int count) {
  if (count <= 0) return {};
  const std::size_t n = std::min(text.size(), static_cast<std::size_t>(count));
  return Text(text.substr(text.size() - n));
}

Text TextMid(std::string_view text, int start, int count) {
  if (start < 1 || count <= 0 || static_cast<std::size_t>(start) > text.size()) return {};
  return Text(text.substr(static_cast<std::size_t>(start) - 1, static_cast<std::size_t>(count)));
}

// --- Searches ---

int FindText(std::string_view text, std::string_view pattern, int start, bool ignoreCase) {
  const std::size_t s = start > 1 ? static_cast<std::size_t>(start) - 1 : 0;
  if (s >= text.size()) return -1;  // nothing is searched
  // An empty pattern is found at 1 whenever anything is searched, whatever
  // the start; callers rely on that, odd as it is.
  if (pattern.empty()) return 1;
  const std::size_t c = ForwardSearch(text, pattern, ignoreCase).From(s);
  return c == kNone ? -1 : ToPos(c);
}

int FindTextReverse(std::string_view text, std::string_view pattern, std::optional<int> start,
                    bool ignoreCase) {
  // Searched region: bytes [0, end). The byte at `start` itself is excluded.
  std::size_t end = text.size();
  if (start) {
    if (*start <= 1) return -1;
    end = std::min(end, static_cast<std::size_t>(*start) - 1);
  }
  if (end == 0) return -1;
  if (pattern.empty()) return 1;

  // The walk runs from byte 0 to the end. Byte matches are tried from the
  // right; each is kept only when the walk visits it. The run of high bytes
  // found for one candidate is remembered so that further candidates inside
  // the same run are decided without scanning it again.
  const Byte* p = reinterpret_cast<const Byte*>(text.data());
  const ByteMatcher matcher(text, pattern, ignoreCase);
  std::size_t runStart = kNone;  // [runStart, runEnd) all >= 0x80, runStart visited
  std::size_t runEnd = 0;
  std::size_t limit = end;
  for (;;) {
    const std::size_t c = matcher.Prev(limit);
    if (c == kNone) return -1;
    bool visited;
    if (runStart != kNone && c >= runStart && c <= runEnd) {
      visited = (c - runStart) % 2 == 0;
    } else {
      const std::size_t run = HighRunBefore(p, 0, c);
      runStart = c - run;
      runEnd = c;
      visited = run % 2 == 0;
    }
    if (visited && !(c + 1 == text.size() && IsLead(p[c]))) return ToPos(c);
    // Try candidates further left: the next one must end before c + plen - 1.
    limit = c + pattern.size() - 1;
  }
}

int FindBytes(const ByteSet& bytes, const ByteSet& pattern, int start) {
  if (pattern.empty()) return -1;
  const std::size_t s = start > 1 ? static_cast<std::size_t>(start) - 1 : 0;
  if (s >= bytes.size() || bytes.size() - s < pattern.size()) return -1;
  const void* hit = memmem(bytes.data() + s, bytes.size() - s, pattern.data(), pattern.size());
  if (!hit) return -1;
  return ToPos(static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - bytes.data()));
}

// --- Transformations ---

Text ReplaceSubtext(std::string_view text, std::string_view pattern,
                    std::string_view replacement, int start, int count, bool caseSensitive) {
  const std::size_t s = start > 1 ? static_cast<std::size_t>(start) - 1 : 0;
  if (text.empty() || pattern.empty() || s >= text.size() || count == 0) return Text(text);

  const ForwardSearch search(text, pattern, !caseSensitive);
  Text out;
  out.reserve(text.size());
  std::size_t pos = s;
  out.append(text.substr(0, s));
  long long left = count;  // negative: no limit
  while (left != 0) {
    const std::size_t c = search.From(pos);
    if (c == kNone) break;
    out.append(text.substr(pos, c - pos));
    out.append(replacement);
    pos = c + pattern.size();  // the walk restarts right behind the match
    if (left > 0) --left;
  }
  out.append(text.substr(pos));
  return out;
}

TextArray SplitText(std::string_view text, std::string_view delimiter, std::optional<int> count) {
  TextArray pieces;
  const long long limit = count ? std::max(*count, 0) : -1;  // -1: no limit
  if (text.empty() || limit == 0) return pieces;
  if (delimiter.empty()) {
    pieces.emplace_back(text);
    return pieces;
  }
  const ForwardSearch search(text, delimiter, false);
  std::size_t piece = 0;
  for (;;) {
    const std::size_t c = search.From(piece);
    if (c == kNone) break;
    pieces.emplace_back(text.substr(piece, c - piece));
    piece = c + delimiter.size();
    if (limit > 0 && static_cast<long long>(pieces.size()) == limit) return pieces;
  }
  if (piece < text.size()) pieces.emplace_back(text.substr(piece));
  return pieces;
}

Text TrimBothEnds(std::string_view text) {
  // Leading spaces: walk forward while the characters are spaces.
  std::size_t first = 0;
  while (first < text.size() && IsSpaceAt(text, first)) first += At(text, first) == 0x20 ? 1 : 2;
  if (first == text.size()) return {};

  // Trailing spaces consist of the bytes 0x20 and 0xA1 only. Find the
  // stretch of such bytes at the end, then the first character start inside
  // it (its first byte may be the second byte of the character before), and
  // walk that stretch forward to find where its final run of spaces begins.
  std::size_t tail = text.size();
  while (tail > first && (At(text, tail - 1) == 0x20 || At(text, tail - 1) == 0xA1)) --tail;
  const Byte* p = reinterpret_cast<const Byte*>(text.data());
  std::size_t i = tail;
  // When the walk does not visit the tail's first byte, it is the second
  // byte of a pair (or the end lies inside a cut character).
  if (!OnWalk(p, first, i)) i = std::min(i + 1, text.size());
  std::size_t cut = i;            // where the final run of spaces begins
  while (i < text.size()) {
    if (IsSpaceAt(text, i)) {
      i += At(text, i) == 0x20 ? 1 : 2;
    } else {
      i += CharLen(text, i);
      cut = i;
    }
  }
  return Text(text.substr(first, cut - first));
}

Text RemoveAllSpaces(std::string_view text) {
  Text out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    if (IsSpaceAt(text, i)) {
      i += At(text, i) == 0x20 ? 1 : 2;
      continue;
    }
    const std::size_t n = CharLen(text, i);
    out.append(text.substr(i, n));
    i += n;
  }
  return out;
}

Text ToLowerCase(std::string_view text) {
  Text out(text);
  std::size_t i = 0;
  while (i < out.size()) {
    const Byte b = static_cast<Byte>(out[i]);
    if (IsLead(b)) {
      i += 2;  // both bytes of a two-byte character stay as they are
    } else {
      out[i] = static_cast<char>(FoldAscii(b));
      ++i;
    }
  }
  return out;
}

// --- Building texts ---

namespace internal {
Text ConcatViews(std::initializer_list<std::string_view> parts) {
  std::size_t total = 0;
  for (std::string_view part : parts) total += part.size();
  Text out;
  out.reserve(total);
  for (std::string_view part : parts) out.append(part);
  return out;
}
}  // namespace internal

Text CharFromCode(int code) {
  if (code < 1 || code > 255) return {};
  return Text(1, static_cast<char>(static_cast<Byte>(code)));
}

Text BlankText(int count) {
  if (count < 1) return {};
  return Text(static_cast<std::size_t>(count), ' ');
}

int CompareText(std::string_view a, std::string_view b) {
  // char_traits<char>::compare orders bytes as unsigned char.
  const int r = a.compare(b);
  return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

// --- Conversions ---

std::int32_t ToInteger(std::string_view text) {
  // Folds the character at i onto ASCII where it has a full-width form and
  // reports its length; -1 stands for a character with no one-byte form.
  auto folded = [&](std::size_t i, std::size_t& len) -> int {
    const Byte b = At(text, i);
    if (!IsLead(b)) {
      len = 1;
      return b;
    }
    if (i + 1 >= text.size()) {  // cut character at the end
      len = 1;
      return -1;
    }
    len = 2;
    const Byte t = At(text, i + 1);
    if (b == 0xA3 && t >= 0xA1 && t <= 0xFE) return t - 0x80;
    if (b == 0xA1) {
      if (t == 0xA1) return 0x20;
      if (t == 0xAB) return 0x7E;
      if (t == 0xEE || t == 0xEF) return 0x2A;
    }
    return -1;
  };

  std::size_t i = 0;
  std::size_t len = 0;
  int ch = -1;
  // Leading white space.
  while (i < text.size()) {
    ch = folded(i, len);
    if (!(ch == 0x20 || (ch >= 0x09 && ch <= 0x0D))) break;
    i += len;
  }
  if (i >= text.size()) return 0;
  bool negative = false;
  if (ch == '+' || ch == '-') {
    negative = ch == '-';
    i += len;
  }
  std::uint32_t value = 0;  // unsigned so that overflow wraps around
  while (i < text.size()) {
    ch = folded(i, len);
    if (ch < '0' || ch > '9') break;
    value = value * 10u + static_cast<std::uint32_t>(ch - '0');
    i += len;
  }
  if (negative) value = 0u - value;
  return static_cast<std::int32_t>(value);
}

ByteSet TextToBytes(std::string_view text) {
  const Byte* p = reinterpret_cast<const Byte*>(text.data());
  return ByteSet(p, p + text.size());
}

Text BytesToText(const ByteSet& bytes) {
  const auto zero = std::find(bytes.begin(), bytes.end(), std::uint8_t{0});
  return Text(bytes.begin(), zero);
}

// --- Byte sets ---

int BytesLength(const ByteSet& bytes) { return static_cast<int>(bytes.size()); }

ByteSet BytesLeft(const ByteSet& bytes, int count) {
  if (count <= 0) return {};
  const std::size_t n = std::min(bytes.size(), static_cast<std::size_t>(count));
  return ByteSet(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
}

ByteSet BlankBytes(int count) {
  if (count <= 0) return {};
  return ByteSet(static_cast<std::size_t>(count), 0);
}

ByteSet ConcatBytes(const ByteSet& first, const ByteSet& second) {
  ByteSet out;
  out.reserve(first.size() + second.size());
  out.insert(out.end(), first.begin(), first.end());
  out.insert(out.end(), second.begin(), second.end());
  return out;
}

// --- Arrays ---

int ArraySize(const TextArray& array) { return static_cast<int>(array.size()); }

void AppendToArray(TextArray& array, std::string_view text) { array.emplace_back(text); }

const Text& ArrayMember(const TextArray& array, int index) {
  static const Text kEmpty;
  if (index < 1 || static_cast<std::size_t>(index) > array.size()) return kEmpty;
  return array[static_cast<std::size_t>(index) - 1];
}

}  // namespace zivorna
