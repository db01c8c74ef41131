// Random texts, patterns, positions and counts through every text operation.
// Checks the bounds each operation promises, a few algebraic properties, and
// that the fast searches agree with a literal character walk.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "naive_walk.h"
#include "text/text.h"

using namespace zivorna;

namespace {

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "check failed: %s\n", what);
    std::abort();
  }
}
#define CHECK(cond) Check((cond), #cond)

int PickInt(FuzzedDataProvider& in) {
  switch (in.ConsumeIntegral<std::uint8_t>() % 8) {
    case 0: return INT_MIN;
    case 1: return INT_MAX;
    case 2: return in.ConsumeIntegral<int>();
    default: return in.ConsumeIntegralInRange<int>(-2, 70);
  }
}

int Sign(int v) { return (v > 0) - (v < 0); }

bool IsSubstring(const std::string& part, const std::string& whole) {
  return whole.find(part) != std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  const int a = PickInt(in);
  const int b = PickInt(in);
  const bool flag = in.ConsumeBool();
  const bool startGiven = in.ConsumeBool();
  const std::string pattern = in.ConsumeRandomLengthString(8);
  const std::string replacement = in.ConsumeRandomLengthString(8);
  const std::string text = in.ConsumeRemainingBytesAsString();
  const int len = static_cast<int>(text.size());
  const int plen = static_cast<int>(pattern.size());

  // Extraction: substrings within the bounds.
  const Text left = TextLeft(text, a);
  CHECK(left == text.substr(0, static_cast<std::size_t>(std::clamp(a, 0, len))));
  const Text right = TextRight(text, a);
  CHECK(right.size() == static_cast<std::size_t>(std::clamp(a, 0, len)));
  CHECK(text.compare(text.size() - right.size(), right.size(), right) == 0);
  const Text mid = TextMid(text, a, b);
  if (a < 1 || a > len || b <= 0) {
    CHECK(mid.empty());
  } else {
    CHECK(mid == text.substr(static_cast<std::size_t>(a) - 1, static_cast<std::size_t>(b)));
  }

  // Searches: a result is -1 or a position inside the text holding the pattern.
  const int found = FindText(text, pattern, a, flag);
  CHECK(found == -1 || (found >= 1 && found <= len));
  if (found > 0 && plen > 0) {
    CHECK(found >= std::max(a, 1));
    CHECK(found + plen - 1 <= len);
  }
  CHECK(found == naive::FindText(text, pattern, a, flag));

  const std::optional<int> rstart = startGiven ? std::optional<int>(a) : std::nullopt;
  const int rfound = FindTextReverse(text, pattern, rstart, flag);
  CHECK(rfound == -1 || (rfound >= 1 && rfound <= len));
  if (rfound > 0 && plen > 0 && rstart) CHECK(static_cast<long long>(rfound) + plen <= *rstart);
  CHECK(rfound == naive::FindTextReverse(text, pattern, rstart, flag));

  const ByteSet bytes = TextToBytes(text);
  const ByteSet bpattern = TextToBytes(pattern);
  const int bfound = FindBytes(bytes, bpattern, a);
  if (bpattern.empty()) {
    CHECK(bfound == -1);
  } else {
    const std::size_t from = a > 1 ? static_cast<std::size_t>(a) - 1 : 0;
    const std::size_t want =
        from >= text.size() ? std::string::npos : text.find(pattern, from);
    CHECK(bfound == (want == std::string::npos ? -1 : static_cast<int>(want) + 1));
  }

  // Transformations.
  const Text replaced = ReplaceSubtext(text, pattern, replacement, a, b, !flag);
  CHECK(replaced == naive::ReplaceSubtext(text, pattern, replacement, a, b, !flag));
  CHECK(ReplaceSubtext(text, pattern, replacement, a, 0, !flag) == text);
  if (!flag) CHECK(ReplaceSubtext(text, pattern, pattern, a, b) == text);
  if (found == -1 && !flag) CHECK(ReplaceSubtext(text, pattern, replacement, a, b) == text);

  const std::optional<int> count = startGiven ? std::optional<int>(b) : std::nullopt;
  const TextArray pieces = SplitText(text, pattern, count);
  CHECK(pieces == naive::SplitText(text, pattern, count));
  if (count) CHECK(static_cast<long long>(pieces.size()) <= std::max(*count, 0));
  if (!pattern.empty() && !pieces.empty()) {
    Text joined = pieces[0];
    for (std::size_t i = 1; i < pieces.size(); ++i) joined += pattern + pieces[i];
    CHECK(text.compare(0, joined.size(), joined) == 0);  // a prefix of the text
    if (!count) CHECK(joined == text || joined + pattern == text);
  }

  const Text trimmed = TrimBothEnds(text);
  CHECK(trimmed == naive::TrimBothEnds(text));
  CHECK(IsSubstring(trimmed, text));
  CHECK(TrimBothEnds(trimmed) == trimmed);
  const Text compact = RemoveAllSpaces(text);
  CHECK(compact.size() <= text.size());
  CHECK(RemoveAllSpaces(compact) == compact);
  const Text lower = ToLowerCase(text);
  CHECK(lower.size() == text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    CHECK(lower[i] == text[i] || (text[i] >= 'A' && text[i] <= 'Z' && lower[i] == text[i] + 32));
  }
  CHECK(ToLowerCase(lower) == lower);

  // Building and conversions.
  CHECK(ConcatText(text, pattern, replacement).size() ==
        text.size() + pattern.size() + replacement.size());
  CHECK(CharFromCode(a).size() == ((a >= 1 && a <= 255) ? 1u : 0u));
  CHECK(BlankText(std::min(a, 1 << 16)).size() ==
        static_cast<std::size_t>(std::clamp(a, 0, 1 << 16)));
  CHECK(Sign(CompareText(text, pattern)) == -Sign(CompareText(pattern, text)));
  CHECK((CompareText(text, pattern) == 0) == (text == pattern));
  (void)ToInteger(text);
  (void)ToInteger(pattern);
  const Text back = BytesToText(bytes);
  CHECK(back == text.substr(0, text.find('\0')));
  CHECK(BytesLeft(bytes, a).size() == static_cast<std::size_t>(std::clamp(a, 0, len)));
  CHECK(BlankBytes(std::min(b, 1 << 16)).size() ==
        static_cast<std::size_t>(std::clamp(b, 0, 1 << 16)));
  CHECK(ConcatBytes(bytes, bpattern).size() == bytes.size() + bpattern.size());

  TextArray array;
  AppendToArray(array, text);
  CHECK(ArraySize(array) == 1 && ArrayMember(array, 1) == text);
  CHECK(ArrayMember(array, a).empty() || a == 1);
  return 0;
}
