#include "lookup/program_state.h"

#include <utility>

namespace zivorna {

Text SearchResultText(const SearchResult& match, const Text& searched) {
  if (match.offset >= searched.size()) return {};
  return searched.substr(match.offset, match.length);
}

void InitProgramState(ProgramState& state) {
  std::lock_guard guard(state.lock);
  state.PageText.clear();
  state.MatchList.clear();
  state.FieldList.clear();
  state.FieldPattern = boost::regex();
  state.released = false;
}

void ReleaseProgramState(ProgramState& state) {
  std::lock_guard guard(state.lock);
  if (state.released) return;
  // Swapping with empty values gives the memory back, not just the sizes.
  Text().swap(state.PageText);
  state.MatchList.clear();
  std::vector<SearchResult>().swap(state.MatchList);
  for (Text& field : state.FieldList) Text().swap(field);
  TextArray().swap(state.FieldList);
  state.FieldPattern = boost::regex();
  state.released = true;
}

}  // namespace zivorna
