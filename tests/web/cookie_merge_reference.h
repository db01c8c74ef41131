// A deliberately plain cookie merge: every step a scan of the lists with the
// public linear helpers HasCookieNamed and IndexOfText. The production merge
// replaces those scans with hash-set lookups; the tests compare the two on
// random cookie strings, and the benchmark uses this one as its baseline.
// Texts are built with += in both, so the two differ only in the lookups.
#pragma once

#include "text/text.h"
#include "web/cookies.h"

namespace zivorna::reference {

// JoinDistinct with a scan of the distinct pieces for every piece.
inline Text JoinDistinctByScan(std::string_view text, std::string_view delimiter) {
  const TextArray pieces = SplitText(text, delimiter);
  TextArray distinct;
  Text result;
  for (int i = 1; i <= ArraySize(pieces); ++i) {
    const Text& piece = ArrayMember(pieces, i);
    if (IndexOfText(distinct, piece) == -1) {
      AppendToArray(distinct, piece);
      result += piece;
      result += delimiter;
    }
  }
  return TextLeft(result, TextLength(result) - TextLength(delimiter));
}

// MergeCookies step by step, each old entry tested with HasCookieNamed
// against the growing list of new entries.
inline Text MergeCookiesByScan(Text& cookies, Text& receivedCookies) {
  cookies = RemoveAllSpaces(cookies);
  receivedCookies = RemoveAllSpaces(receivedCookies);
  const TextArray oldEntries = SplitText(cookies, ";");
  TextArray newEntries = SplitText(receivedCookies, ";");
  const int oldCount = ArraySize(oldEntries);
  for (int i = 1; i <= oldCount; ++i) {
    const Text& entry = ArrayMember(oldEntries, i);
    if (!HasCookieNamed(newEntries, CookieName(entry))) {
      AppendToArray(newEntries, entry);
    }
  }
  cookies.clear();
  for (int i = 1; i <= ArraySize(newEntries); ++i) {
    const Text& entry = ArrayMember(newEntries, i);
    if (TextRight(entry, 8) != "=deleted") {
      cookies += entry;
      cookies += "; ";
    }
  }
  cookies = TextLeft(cookies, TextLength(cookies) - 2);
  cookies = JoinDistinctByScan(cookies, "; ");
  return cookies;
}

}  // namespace zivorna::reference
