// The program-level lookup state: the last page, its field matches, the
// fields cut out of them and the pattern that finds them. One instance lives
// from start-up to exit; every lookup works on it.
#pragma once

#include <boost/regex.hpp>
#include <cstddef>
#include <mutex>
#include <vector>

#include "text/text.h"

namespace zivorna {

// One match of the field pattern: where it starts (0-based byte offset) and
// how many bytes it covers within the text that was searched. The match's
// text is taken from that text when it is read (SearchResultText).
struct SearchResult {
  std::size_t offset = 0;
  std::size_t length = 0;

  friend bool operator==(const SearchResult&, const SearchResult&) = default;
};

// The bytes of `match` within `searched`; the part that lies inside
// `searched` when the match reaches beyond it (never reads out of bounds).
// SearchResultText({2, 3}, "abcdef") == "cde".
[[nodiscard]] Text SearchResultText(const SearchResult& match, const Text& searched);

struct ProgramState {
  // Held by every call that reads or writes the four variables below, so
  // that one lookup never sees another's half-written state.
  std::mutex lock;

  Text PageText;                        // the last lookup page, bytes taken as GBK
  std::vector<SearchResult> MatchList;  // field matches within PageText, in page order
  TextArray FieldList;                  // the fields cut out of MatchList
  boost::regex FieldPattern;            // created without a pattern; each lookup sets it

  // Set by ReleaseProgramState; a released state is never used again.
  bool released = false;
};

// Gives the four variables their initial values: an empty page, two empty
// lists and a pattern object without a pattern. Makes a released state
// usable again.
void InitProgramState(ProgramState& state);

// Releases the four variables in this order: the page text, every match and
// then the match list, every field and then the field list, the pattern.
// Runs once at exit, after the last lookup has finished; later calls do
// nothing.
void ReleaseProgramState(ProgramState& state);

}  // namespace zivorna
