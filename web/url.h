// URL and header-line helpers: take a URL apart into host, port and path,
// cut a value from between two markers, split a header line into name and
// value. None of them fails: input without the expected shape gives an empty
// text, a default port or the path "/".
#pragma once

#include <optional>

#include "text/text.h"

namespace zivorna {

// The bytes between the first `frontMarker` found from `startPosition` on
// (0 or 1: the first byte) and the next `backMarker` after it; empty when
// either is missing. "#引号" in a marker stands for a double quote.
// TextBetween("a=1; b=2", "a=", ";") == "1".
[[nodiscard]] Text TextBetween(std::string_view source, std::string_view frontMarker,
                               std::string_view backMarker, int startPosition = 0,
                               bool ignoreCase = false);
// Trimmed text before the first ":" of a header line; empty without ":".
[[nodiscard]] Text HeaderName(std::string_view headerLine);
// Trimmed text after the first ":" of a header line; empty without ":".
[[nodiscard]] Text HeaderValue(std::string_view headerLine);
// The host in lower case. With `skipDots` left out: the authority reading;
// supplied (even 0): the label reading keeping the last skipDots + 2 labels.
// UrlHost("HTTP://One.Two.Three:8080/a") == "one.two.three".
[[nodiscard]] Text UrlHost(std::string_view url, bool mainDomainOnly = false,
                           bool keepPort = false, std::optional<int> skipDots = std::nullopt);
// The explicit port, else 443 for "https" and 80 otherwise.
[[nodiscard]] int UrlPort(std::string_view url);
// Path and query from the first "/" after the host, at least "/", in the
// caller's letter case. The host is looked for behind a leading scheme, so a
// host that also spells part of "http" does not move the path:
// UrlPath("http://p/x") == "/x".
[[nodiscard]] Text UrlPath(std::string_view url);

}  // namespace zivorna
