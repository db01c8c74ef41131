#include "web/url.h"

namespace zivorna {
namespace {

// "#引号" in GBK: '#', 引 (D2 FD), 号 (BA C5). Callers write it in markers
// that must hold a double quote.
constexpr std::string_view kQuoteMarker = "#\xD2\xFD\xBA\xC5";

// Length of a leading "http://" or "https://" in any letter case, else 0.
int SchemeLength(std::string_view url) {
  const Text head = ToLowerCase(TextLeft(url, 8));
  if (head == "https://") {
    return 8;
  }
  if (TextLeft(head, 7) == "http://") {
    return 7;
  }
  return 0;
}

}  // namespace

Text TextBetween(std::string_view source, std::string_view frontMarker,
                 std::string_view backMarker, int startPosition, bool ignoreCase) {
  const Text front = ReplaceSubtext(frontMarker, kQuoteMarker, "\"");
  const Text back = ReplaceSubtext(backMarker, kQuoteMarker, "\"");

  const int p = FindText(source, front, startPosition, ignoreCase);
  if (p == -1) {
    return {};
  }
  const int c = p + TextLength(front);
  const int q = FindText(source, back, c, ignoreCase);
  if (q == -1) {
    return {};
  }
  return TextMid(source, c, q - c);
}

Text HeaderName(std::string_view headerLine) {
  const int p = FindText(headerLine, ":");
  if (p == -1) {
    return {};
  }
  return TrimBothEnds(TextLeft(headerLine, p - 1));
}

Text HeaderValue(std::string_view headerLine) {
  const int p = FindText(headerLine, ":");
  if (p == -1) {
    return {};
  }
  return TrimBothEnds(TextRight(headerLine, TextLength(headerLine) - p));
}

Text UrlHost(std::string_view url, bool mainDomainOnly, bool keepPort,
             std::optional<int> skipDots) {
  Text s = ToLowerCase(url);

  if (!skipDots.has_value()) {
    // Authority reading: what stands between the scheme and the next "/".
    if (TextRight(s, 1) != "/") {
      s += '/';
    }
    if (TextLeft(s, 8) == "https://") {
      s = TextBetween(s, "https://", "/");
    } else {
      if (FindText(s, "http://") == -1) {
        s = ConcatText("http://", s);
      }
      s = TextBetween(s, "http://", "/");
    }
    if (mainDomainOnly) {
      const TextArray pieces = SplitText(s, ".");
      const int n = ArraySize(pieces);
      if (n >= 2) {
        s = ConcatText(ArrayMember(pieces, n - 1), ".", ArrayMember(pieces, n));
      }
    }
  } else {
    // Label reading: keep the last skipDots + 2 dot-separated labels (one
    // fewer with mainDomainOnly), the port riding on the last one.
    s = ReplaceSubtext(s, "http://", "");
    s = ReplaceSubtext(s, "https://", "");
    const int slash = FindText(s, "/");
    if (slash != -1) {
      s = TextLeft(s, slash - 1);
    }
    const int length = TextLength(s);
    // Each search excludes the dot found before it, so the dots come from
    // right to left; the very last byte is never looked at. Once no dot is
    // left the position stays -1, so the loop can stop there.
    int h = length;
    for (int i = 0; i < *skipDots && h != -1; ++i) {
      h = FindTextReverse(s, ".", h);
    }
    const int l = FindTextReverse(s, ".", h);
    if (mainDomainOnly) {
      s = TextRight(s, length - l);
    } else if (l != -1) {
      const int l2 = FindTextReverse(s, ".", l);
      if (l2 != -1) {
        s = TextRight(s, length - l2);
      }
    }
  }

  if (keepPort) {
    return s;
  }
  const int colon = FindText(s, ":");
  return colon == -1 ? s : TextLeft(s, colon - 1);
}

int UrlPort(std::string_view url) {
  const Text h = UrlHost(url, false, true);
  const int p = FindTextReverse(h, ":");
  if (p != -1) {
    return ToInteger(TextRight(h, TextLength(h) - p));
  }
  return TextLeft(ToLowerCase(url), 5) == "https" ? 443 : 80;
}

Text UrlPath(std::string_view url) {
  const Text h = UrlHost(url);
  // Look for the host, and then for the "/" that ends it, only behind a
  // leading scheme: a short host such as "p" or "t" would otherwise be found
  // inside "http" itself and the path would start at the scheme's "//".
  const int from = SchemeLength(url) + 1;
  int a = FindText(url, h, from, true);
  if (a < from) {
    a = from;  // an empty host is "found" at byte 1; no host: search from `from`
  }
  const int b = FindText(url, "/", a, true);
  if (b == -1) {
    return "/";
  }
  return TextRight(url, TextLength(url) - b + 1);
}

}  // namespace zivorna
