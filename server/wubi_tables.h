// Reading Rime-format Wubi dictionaries and sorting a character's codes into
// its full code and its simple codes (简码).
//
// A Rime dictionary is a YAML header ending in a line "...", followed by one
// entry per line: text, TAB, code, optionally TAB and weight (further columns
// are ignored). Lines starting with '#' are comments; a commented entry is
// not part of the table.
#pragma once

#include <cstdint>
#include <istream>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace zivorna::server {

struct RimeEntry {
  std::string text;  // UTF-8: one character or a word
  std::string code;
  double weight = 0;
};

// Calls `onEntry` for every entry of the table, in file order: the lines
// outside the YAML header (from "---" to "..."), so a bare list of entries
// without any header is a table too. Comments, blank lines and entries
// without a code are skipped.
template <class OnEntry>
void ReadRimeTable(std::istream& in, OnEntry&& onEntry);

// One code of a character with its level: 1, 2, 3 for the simple codes of
// that length, 4 for the full code (whatever its length: a character of two
// roots has a three-letter full code with its final-stroke key).
struct LeveledCode {
  std::string code;
  int level = 0;
  friend bool operator==(const LeveledCode&, const LeveledCode&) = default;
};

// Sorts one character's table codes. Codes outside a..y are dropped (z is the
// wildcard and lookup key, and never part of a code). The longest codes are
// the full codes, provided they have three or four letters; shorter codes are
// simple codes of their own length. A code of one, two or three letters that
// equals the start of the full code is still a simple code: the table lists
// such prefixes explicitly because they select the character on their own.
// Result: full codes first (heaviest first), then simple codes by level;
// each code once.
// ClassifyCodes({{"gg",1},{"ggh",2},{"gghg",2}}) ==
//   {{"gghg",4},{"gg",2},{"ggh",3}}.
[[nodiscard]] std::vector<LeveledCode> ClassifyCodes(
    const std::vector<std::pair<std::string, double>>& codes);

// The single-character codes of a table, classified, by code point.
using CharCodeTable = std::unordered_map<char32_t, std::vector<LeveledCode>>;

// Reads a whole table and keeps its single characters. Entries of words are
// skipped. False with `*error` set when the stream holds no character entry.
[[nodiscard]] bool LoadCharCodes(std::istream& in, CharCodeTable* table, std::string* error);

// The one code point of a UTF-8 text holding exactly one well-formed
// character; 0 otherwise.
[[nodiscard]] char32_t SingleCodePoint(std::string_view utf8);
// Appends the UTF-8 form of `cp` to `out`.
void AppendUtf8(char32_t cp, std::string* out);
// Decodes a well-formed UTF-8 text into code points; false on a malformed one.
[[nodiscard]] bool DecodeUtf8(std::string_view utf8, std::u32string* out);

// --- implementation of the template ---

namespace internal {
bool ParseRimeLine(std::string_view line, RimeEntry* entry);
}

template <class OnEntry>
void ReadRimeTable(std::istream& in, OnEntry&& onEntry) {
  std::string line;
  // Lines before a YAML header ("---") are read as entries too, so that a
  // bare list of entries is a table; in a Rime file they are comments.
  bool inHeader = false;
  RimeEntry entry;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (inHeader) {
      if (line == "...") inHeader = false;
      continue;
    }
    if (line == "---") {
      inHeader = true;
      continue;
    }
    if (internal::ParseRimeLine(line, &entry)) onEntry(entry);
  }
}

}  // namespace zivorna::server
