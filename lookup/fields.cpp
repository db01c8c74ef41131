#include "lookup/fields.h"

#include <string>

namespace zivorna {
namespace {

// GBK texts of the result label and page.
constexpr std::string_view kPinyinLabel =
    "\xB5\xC4\xBA\xBA\xD3\xEF\xC6\xB4\xD2\xF4\xA3\xBA";  // 的汉语拼音：
constexpr std::string_view kRadicalsLabel =
    "\xB5\xC4\xCE\xE5\xB1\xCA\xD7\xD6\xB8\xF9\xA3\xBA";  // 的五笔字根：
constexpr std::string_view kStrokesLabel =
    "\xB5\xC4\xB1\xCA\xBB\xAD\xCB\xB3\xD0\xF2\xA3\xBA";  // 的笔画顺序：
constexpr std::string_view kWubi86Label =
    "\r\n\r\n86\xB0\xE6\xCE\xE5\xB1\xCA\xCA\xE4\xC8\xEB\xA3\xBA";  // "\r\n\r\n" 86版五笔输入：
constexpr std::string_view kWubi98Label =
    "\r\n\r\n98\xB0\xE6\xCE\xE5\xB1\xCA\xCA\xE4\xC8\xEB\xA3\xBA";  // "\r\n\r\n" 98版五笔输入：
constexpr std::string_view kExplanationHeading =
    "</p>\xB5\xC4\xBD\xE2\xCA\xCD\xA3\xBA<br>";  // </p>的解释：<br>
constexpr std::string_view kPageStart = "<style>\r\n  p{color:red;}\r\n</style><p>";
constexpr std::string_view kBlankLine = "\r\n\r\n";

}  // namespace

const boost::regex& FieldRegex() {
  // Perl syntax: "." matches every byte, line breaks included.
  static const boost::regex pattern(std::string(kFieldPattern), boost::regex::perl);
  return pattern;
}

std::vector<SearchResult> FindFieldMatches(std::string_view page) {
  // The pattern is a fixed start, a lazy run of any bytes and a fixed end, so
  // the leftmost match starts at the first marker that has a "<bR>" somewhere
  // after it and ends at the first such "<bR>". When the first remaining
  // marker has none after it, no later marker has one either.
  std::vector<SearchResult> matches;
  std::size_t from = 0;
  while (true) {
    const std::size_t start = page.find(kFieldStart, from);
    if (start == std::string_view::npos) break;
    const std::size_t end = page.find(kFieldEnd, start + kFieldStart.size());
    if (end == std::string_view::npos) break;
    const std::size_t stop = end + kFieldEnd.size();
    matches.push_back({start, stop - start});
    from = stop;
  }
  return matches;
}

Text FieldFromMatch(std::string_view match) {
  return ReplaceSubtext(ReplaceSubtext(match, kFieldStart, ""), kFieldEnd, "");
}

TextArray ExtractFields(const Text& page) {
  TextArray fields;
  for (const SearchResult& match : FindFieldMatches(page)) {
    AppendToArray(fields,
                  FieldFromMatch(std::string_view(page).substr(match.offset, match.length)));
  }
  return fields;
}

Text BuildResultLabel(const Text& e1, const Text& e2, const Text& e3, const TextArray& fields) {
  // ArrayMember gives the empty text for a field that is not there.
  return ConcatText(e1, kPinyinLabel, ArrayMember(fields, 1), kBlankLine,    //
                    e2, kRadicalsLabel, ArrayMember(fields, 2), kBlankLine,  //
                    e3, kStrokesLabel, ArrayMember(fields, 3),               //
                    kWubi86Label, ArrayMember(fields, 4),                    //
                    kWubi98Label, ArrayMember(fields, 5));
}

Text BuildExplanationPage(const Text& entry, const Text& explanation) {
  return ConcatText(kPageStart, entry, kExplanationHeading, explanation);
}

}  // namespace zivorna
