// The server's character data: what it knows about each character, stored in
// a data file generated at build time (zv_make_wubi_data) and loaded at start.
//
// File format (UTF-8): the header line kWubiDataHeader, then one line per
// character with eight TAB-separated columns:
//   character, readings (space-separated, most common first), readings found
//   only in the historical dictionary, English definition, total strokes,
//   stroke order (letters h s p n z), Wubi 86 codes ("gghg:4 gg:2", level 4
//   being the full code), words ("五月:ggee", most common first).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "server/wubi_tables.h"

namespace zivorna::server {

inline constexpr std::string_view kWubiDataHeader = "# zivorna wubi data 1";

struct CharInfo {
  char32_t cp = 0;
  std::vector<std::string> readings;       // pinyin with tone marks
  std::vector<std::string> otherReadings;  // historical-dictionary readings
  std::string definition;                  // English
  int totalStrokes = 0;
  std::string strokeOrder;                 // h s p n z
  std::vector<LeveledCode> codes86;        // full codes first
  std::vector<std::pair<std::string, std::string>> words;  // word, Wubi 86 code
};

// One data line for `info` (no line break).
[[nodiscard]] std::string FormatCharLine(const CharInfo& info);
// Parses one data line; nullopt when it is malformed.
[[nodiscard]] std::optional<CharInfo> ParseCharLine(std::string_view line);

// The loaded data file: kept whole in memory with an index from code point to
// line; a character's line is parsed when it is asked for.
class WubiData {
 public:
  // Null with `*error` set when the file is missing, has the wrong header or
  // holds no character.
  static std::unique_ptr<WubiData> Load(const std::string& path, std::string* error);
  // Builds the data from lines in memory (tests).
  static std::unique_ptr<WubiData> FromText(std::string text, std::string* error);

  [[nodiscard]] std::optional<CharInfo> Find(char32_t cp) const;
  [[nodiscard]] bool Contains(char32_t cp) const { return index_.count(cp) != 0; }
  [[nodiscard]] size_t size() const { return index_.size(); }
  // Every character, in file order (code point order for generated files).
  [[nodiscard]] const std::vector<char32_t>& Characters() const { return order_; }

 private:
  std::string text_;
  std::unordered_map<char32_t, std::pair<size_t, size_t>> index_;  // offset, length
  std::vector<char32_t> order_;
};

// The path of the data file built with the program.
[[nodiscard]] std::string DefaultDataPath();

}  // namespace zivorna::server
