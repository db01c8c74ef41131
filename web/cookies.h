// Cookie strings: entries of a name, "=" and a value joined by "; ", merged
// after each response so the caller can send them with the next request.
#pragma once

#include "text/text.h"

namespace zivorna {

// Folds `receivedCookies` into `cookies`; rewrites both in place (`cookies`
// gets the merged string, `receivedCookies` loses every space) and returns a
// copy of the merged string. MergeCookies("a=1; b=2", "b=3; c=4") leaves
// cookies == "b=3; c=4; a=1".
Text MergeCookies(Text& cookies, Text& receivedCookies);
// The trimmed text before the first "=", or the whole trimmed entry.
[[nodiscard]] Text CookieName(std::string_view entry);
// Whether some member's CookieName equals `name` exactly.
[[nodiscard]] bool HasCookieNamed(const TextArray& entries, std::string_view name);
// Each distinct piece between delimiters once, in order of first appearance.
// JoinDistinct("x; y; x", "; ") == "x; y".
[[nodiscard]] Text JoinDistinct(std::string_view text, std::string_view delimiter);
// 1-based index of the first member equal to `text`, or -1.
[[nodiscard]] int IndexOfText(const TextArray& array, std::string_view text);

}  // namespace zivorna
