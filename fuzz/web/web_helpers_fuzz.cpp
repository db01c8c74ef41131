// Random URLs, header lines, markers, positions and cookie strings through the
// URL, header-line and cookie helpers. Besides crashes and out-of-bounds
// reads (the sanitizers), each input checks what must hold for every text:
//  * UrlPath starts with "/";
//  * UrlHost, in every reading, holds no upper-case ASCII letter;
//  * TextBetween returns a stretch of its source;
//  * MergeCookies leaves receivedCookies without a space character, returns
//    what it wrote into cookies, and matches the plain list-scanning merge;
//  * merging the merged string again with nothing received is stable (see
//    CheckRemerge for the exact claim and the inputs it cannot cover).
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "tests/web/cookie_merge_reference.h"
#include "web/cookies.h"
#include "web/url.h"

namespace zivorna {
namespace {

// Fragments that reach the interesting branches far more often than random
// bytes would: schemes in mixed case, ports, separators, the quote marker
// "#引号" and a bare 引, plain and full-width spaces, deletions, a byte that
// starts a two-byte character.
constexpr std::string_view kPieces[] = {
    "http://", "https://", "HTTP://", "HtTpS://", ":",   "/",        ".",        "?",
    "#\xD2\xFD\xBA\xC5",   "\xD2\xFD", "\xA1\xA1", " ", "=deleted", ";",        "; ",
    "=",       "\xB0",     "A",        "Z",        "a", "p",        "8080",     "\r\n",
};

Text TakeText(FuzzedDataProvider& in) {
  Text text;
  for (int n = in.ConsumeIntegralInRange(0, 40); n > 0 && in.remaining_bytes() > 0; --n) {
    if (in.ConsumeBool()) {
      text += kPieces[in.ConsumeIntegralInRange<std::size_t>(0, std::size(kPieces) - 1)];
    } else {
      text += static_cast<char>(in.ConsumeIntegral<std::uint8_t>());
    }
  }
  return text;
}

// Printable form of a text: ASCII as it is, other bytes as \xNN.
std::string Escaped(std::string_view text) {
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
      out += c;
    } else {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", byte);
      out += hex;
    }
  }
  return out;
}

// Reports the broken invariant with the texts that show it, then stops.
[[noreturn]] void Fail(const char* what, std::initializer_list<std::string_view> texts) {
  std::fprintf(stderr, "invariant broken: %s\n", what);
  for (const std::string_view text : texts) {
    std::fprintf(stderr, "  [%s]\n", Escaped(text).c_str());
  }
  std::abort();
}

// Calls `visit(position, length)` for each character: one byte below 0x80,
// else two bytes; a lead byte in the last position is a cut character of
// length 1.
template <class Visit>
void ForEachCharacter(std::string_view text, Visit visit) {
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length =
        static_cast<unsigned char>(text[i]) >= 0x80 && i + 1 < text.size() ? 2 : 1;
    visit(i, length);
    i += length;
  }
}

bool HasUpperCaseLetter(std::string_view text) {
  bool found = false;
  ForEachCharacter(text, [&](std::size_t i, std::size_t length) {
    found = found || (length == 1 && text[i] >= 'A' && text[i] <= 'Z');
  });
  return found;
}

bool HasSpace(std::string_view text) {
  bool found = false;
  ForEachCharacter(text, [&](std::size_t i, std::size_t length) {
    found = found || (length == 1 && text[i] == ' ') ||
            (length == 2 && text.substr(i, 2) == "\xA1\xA1");
  });
  return found;
}

bool EndsInCutCharacter(std::string_view text) {
  bool cut = false;
  ForEachCharacter(text, [&](std::size_t i, std::size_t length) {
    cut = length == 1 && static_cast<unsigned char>(text[i]) >= 0x80;
  });
  return cut;
}

bool NamesDistinct(std::string_view merged) {
  std::set<Text> names;
  for (const Text& entry : SplitText(merged, "; ")) {
    if (!names.insert(CookieName(entry)).second) {
      return false;
    }
  }
  return true;
}

// Merging the merged string `merged` again with nothing received.
//
// This is not the identity for every output. Received entries that share a
// name all stay ("a=1; a=2"), but as old entries only the first of a name
// survives, so the second merge drops the rest. And an empty entry can end
// the merged string ("a=1;;;" received gives "a=1; "), which the second merge
// reads as a final ";" that adds nothing. What must hold is that the second
// merge reaches a fixed point, and that it changes nothing when the names in
// `merged` are distinct and no empty entry ends it.
//
// Both claims need every entry of `merged` to end on a character boundary.
// An input whose last character is cut (a lone byte of 0x80 or above) gives
// an entry that, once followed by "; ", swallows the ";" into a two-byte
// character, so the next split sees one entry where the first saw two. Such
// inputs are not well-formed GBK and are left out of this check.
void CheckRemerge(const Text& merged, const Text& cookiesIn, const Text& receivedIn) {
  Text once = merged;
  Text nothing;
  MergeCookies(once, nothing);
  const bool endsInEmptyEntry = TextRight(merged, 2) == "; ";
  if (NamesDistinct(merged) && !endsInEmptyEntry && once != merged) {
    Fail("re-merge of distinct names changed the string", {cookiesIn, receivedIn, merged, once});
  }
  Text twice = once;
  nothing.clear();
  MergeCookies(twice, nothing);
  if (twice != once) {
    Fail("re-merge did not reach a fixed point", {cookiesIn, receivedIn, once, twice});
  }
}

void CheckUrlHelpers(FuzzedDataProvider& in) {
  const Text url = TakeText(in);
  const Text path = UrlPath(url);
  if (path.empty() || path[0] != '/') {
    Fail("UrlPath does not start with '/'", {url, path});
  }
  (void)UrlPort(url);
  const bool mainDomainOnly = in.ConsumeBool();
  const bool keepPort = in.ConsumeBool();
  std::optional<int> skipDots;
  if (in.ConsumeBool()) {
    skipDots = in.ConsumeIntegral<int>();
  }
  for (const Text& host : {UrlHost(url), UrlHost(url, mainDomainOnly, keepPort, skipDots)}) {
    if (HasUpperCaseLetter(host)) {
      Fail("UrlHost holds an upper-case letter", {url, host});
    }
  }
}

void CheckTextBetweenAndHeaders(FuzzedDataProvider& in) {
  const Text source = TakeText(in);
  const Text front = TakeText(in);
  const Text back = TakeText(in);
  const int start = in.ConsumeIntegral<int>();
  const bool ignoreCase = in.ConsumeBool();
  const Text between = TextBetween(source, front, back, start, ignoreCase);
  if (source.find(between) == Text::npos) {
    Fail("TextBetween result is not part of its source", {source, between});
  }
  (void)HeaderName(source);
  (void)HeaderValue(source);
}

void CheckCookies(FuzzedDataProvider& in) {
  const Text cookiesIn = TakeText(in);
  const Text receivedIn = TakeText(in);

  Text cookies = cookiesIn;
  Text received = receivedIn;
  const Text returned = MergeCookies(cookies, received);
  if (returned != cookies) {
    Fail("MergeCookies returned something other than it wrote", {returned, cookies});
  }
  if (HasSpace(received)) {
    Fail("receivedCookies still holds a space", {receivedIn, received});
  }

  Text plainCookies = cookiesIn;
  Text plainReceived = receivedIn;
  reference::MergeCookiesByScan(plainCookies, plainReceived);
  if (plainCookies != cookies || plainReceived != received) {
    Fail("MergeCookies differs from the plain scan", {cookiesIn, receivedIn, cookies, plainCookies});
  }

  if (!EndsInCutCharacter(RemoveAllSpaces(cookiesIn)) && !EndsInCutCharacter(received)) {
    CheckRemerge(cookies, cookiesIn, receivedIn);
  }

  const Text delimiter = TakeText(in);
  if (JoinDistinct(cookiesIn, delimiter) != reference::JoinDistinctByScan(cookiesIn, delimiter)) {
    Fail("JoinDistinct differs from the plain scan", {cookiesIn, delimiter});
  }
}

}  // namespace
}  // namespace zivorna

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  zivorna::CheckUrlHelpers(in);
  zivorna::CheckTextBetweenAndHeaders(in);
  zivorna::CheckCookies(in);
  return 0;
}
