#include "web/cookies.h"

#include <string_view>
#include <unordered_set>

namespace zivorna {
namespace {

// The delimiter of the merged cookie string, as sent in a Cookie header.
constexpr std::string_view kEntrySeparator = "; ";
// A server deletes a cookie by setting it to this value.
constexpr std::string_view kDeletedSuffix = "=deleted";

}  // namespace

Text MergeCookies(Text& cookies, Text& receivedCookies) {
  // Spaces carry no meaning in either input; both variables keep the
  // space-free form.
  cookies = RemoveAllSpaces(cookies);
  receivedCookies = RemoveAllSpaces(receivedCookies);

  const TextArray oldEntries = SplitText(cookies, ";");
  TextArray entries = SplitText(receivedCookies, ";");

  // An old entry survives only when no entry already in the list (received
  // ones and the old ones kept before it) has its name. The set holds the
  // names of every entry in `entries`, so each test is one lookup instead of
  // a scan of the list; the outcome is the same as HasCookieNamed's.
  std::unordered_set<Text> names;
  names.reserve(entries.size() + oldEntries.size());
  for (const Text& entry : entries) {
    names.insert(CookieName(entry));
  }
  for (const Text& entry : oldEntries) {
    if (names.insert(CookieName(entry)).second) {
      AppendToArray(entries, entry);
    }
  }

  Text merged;
  for (const Text& entry : entries) {
    if (TextRight(entry, 8) != kDeletedSuffix) {
      merged += entry;
      merged += kEntrySeparator;
    }
  }
  merged = TextLeft(merged, TextLength(merged) - TextLength(kEntrySeparator));
  cookies = JoinDistinct(merged, kEntrySeparator);
  return cookies;
}

Text CookieName(std::string_view entry) {
  const int p = FindText(entry, "=");
  if (p == -1) {
    return TrimBothEnds(entry);
  }
  return TrimBothEnds(TextLeft(entry, p - 1));
}

bool HasCookieNamed(const TextArray& entries, std::string_view name) {
  const int size = ArraySize(entries);
  for (int i = 1; i <= size; ++i) {
    if (CompareText(CookieName(ArrayMember(entries, i)), name) == 0) {
      return true;
    }
  }
  return false;
}

Text JoinDistinct(std::string_view text, std::string_view delimiter) {
  const TextArray pieces = SplitText(text, delimiter);
  // Pieces seen so far, as views into `pieces`, which does not change below;
  // one lookup per piece gives the same answer as IndexOfText over the
  // distinct pieces.
  std::unordered_set<std::string_view> seen;
  seen.reserve(pieces.size());
  Text result;
  for (const Text& piece : pieces) {
    if (seen.insert(piece).second) {
      result += piece;
      result += delimiter;
    }
  }
  return TextLeft(result, TextLength(result) - TextLength(delimiter));
}

int IndexOfText(const TextArray& array, std::string_view text) {
  const int size = ArraySize(array);
  for (int i = 1; i <= size; ++i) {
    if (CompareText(ArrayMember(array, i), text) == 0) {
      return i;
    }
  }
  return -1;
}

}  // namespace zivorna
