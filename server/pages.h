// The server's pages: the six fields of a character and the GBK page that
// carries them, the probe page and the not-found page.
//
// Page format: each field stands between "：</span>" (full-width colon) and
// the next "<bR>", in the order pinyin, Wubi radicals, stroke order, Wubi 86
// code, Wubi 98 code, explanation. Nothing else on the page contains either
// marker: field texts are HTML-escaped (so they hold no "<"), and the markup
// around them and inside the explanation uses other spellings ("<br>").
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "server/wubi_data.h"
#include "server/wubi_tables.h"
#include "text/text.h"

namespace zivorna::server {

// Fields 1 to 5 are shown one line each in the program's label (256 pixels
// wide, 16-pixel font), after a prefix such as "86版五笔输入：" of up to 116
// pixels. Each field is kept within this width, so that no line wraps and all
// five fit the label's height; the rest goes into the explanation only.
inline constexpr int kLabelFieldMaxWidth = 140;

// The width in pixels that `utf8` takes in the label's 16-pixel font, as
// the label shows it (characters without a GBK form as their reference).
[[nodiscard]] int LabelWidth(std::string_view utf8);

// The six fields of a character, as UTF-8 HTML fragments (text escaped).
// `table98` is the loaded Wubi 98 table, null when none is installed.
[[nodiscard]] std::vector<std::string> BuildFields(const CharInfo& info,
                                                   const CharCodeTable* table98);

// The character's page in GBK, carrying `fields` (as BuildFields gives them).
[[nodiscard]] Text BuildCharacterPage(char32_t cp, const std::vector<std::string>& fields);

// The page served at "/" (UTF-8; it carries the UTF-8 bytes of "百度一下",
// the marker the program's connectivity probe looks for).
[[nodiscard]] std::string BuildProbePage();
// The short GBK page of a 404 answer.
[[nodiscard]] Text BuildNotFoundPage();
// The body of a 405 answer (GBK).
[[nodiscard]] Text BuildMethodNotAllowedPage();

// UTF-8 to GBK where every character without a GBK form becomes a numeric
// character reference ("&#x1E3F;"); malformed UTF-8 bytes become U+FFFD's
// reference. EncodeGbkWithReferences("a五") == "a\xCE\xE5".
[[nodiscard]] Text EncodeGbkWithReferences(std::string_view utf8);

// Escapes &, <, > and " for HTML text and attribute values.
[[nodiscard]] std::string EscapeHtml(std::string_view text);

// Stroke letters (h s p n z) as stroke names: "hszh" -> "横竖折横".
[[nodiscard]] std::string StrokeNames(std::string_view letters);

}  // namespace zivorna::server
