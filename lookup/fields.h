// Cutting the six fields out of a character's information page, and the
// texts built from them.
//
// A page carries each field between the marker "：</span>" (full-width colon,
// GBK A3 BA) and the next "<bR>". The fields are defined by the pattern
// kFieldPattern in Perl syntax: case-sensitive, "." matching every byte
// (CR and LF included), ".*?" lazy, matches found left to right without
// overlapping, over the page's bytes.
#pragma once

#include <boost/regex.hpp>
#include <string_view>
#include <vector>

#include "lookup/program_state.h"
#include "text/text.h"

namespace zivorna {

// "：" in GBK followed by "</span>".
inline constexpr std::string_view kFieldStart = "\xA3\xBA</span>";
inline constexpr std::string_view kFieldEnd = "<bR>";
// "：</span>.*?<bR>"
inline constexpr std::string_view kFieldPattern = "\xA3\xBA</span>.*?<bR>";

// The compiled field pattern (Perl syntax, case-sensitive).
[[nodiscard]] const boost::regex& FieldRegex();

// Every match of the field pattern in `page`, left to right, non-overlapping.
// Gives exactly the matches of a regex search with FieldRegex(), but by a
// literal scan: linear in the page's size and free of the regex engine's
// complexity limit, which a page of many markers and no "<bR>" would hit.
// FindFieldMatches("x：</span>a<bR>") == {{1, 14}}.
[[nodiscard]] std::vector<SearchResult> FindFieldMatches(std::string_view page);

// A match's text with every "：</span>" and then every "<bR>" removed
// (character-aware ReplaceSubtext, case-sensitive).
// FieldFromMatch("：</span>pin<bR>") == "pin".
[[nodiscard]] Text FieldFromMatch(std::string_view match);

// The fields of `page`, in page order, however many there are.
// ExtractFields("：</span>a<bR>：</span>b<bR>") == {"a", "b"}; a page without
// a marker, or with markers but no "<bR>" after them, gives no fields.
[[nodiscard]] TextArray ExtractFields(const Text& page);

// The label text of a lookup with six fields, from the entry text as read
// for each of its three uses and fields 1 to 5:
// e1 "的汉语拼音：" F1 "\r\n\r\n" e2 "的五笔字根：" F2 "\r\n\r\n" e3 "的笔画顺序："
// F3 "\r\n\r\n86版五笔输入：" F4 "\r\n\r\n98版五笔输入：" F5.
// Fields missing from `fields` count as empty.
[[nodiscard]] Text BuildResultLabel(const Text& e1, const Text& e2, const Text& e3,
                                    const TextArray& fields);
[[nodiscard]] inline Text BuildResultLabel(const Text& entry, const TextArray& fields) {
  return BuildResultLabel(entry, entry, entry, fields);
}

// The explanation page: the entry text as a red paragraph, "的解释：", a line
// break and the explanation (field 6).
[[nodiscard]] Text BuildExplanationPage(const Text& entry, const Text& explanation);

}  // namespace zivorna
