#include "lookup/lookup.h"

#include <string_view>

#include "lookup/fields.h"
#include "lookup/result_file.h"
#include "web/com_fetch.h"
#include "web/http_get.h"

namespace zivorna {
namespace {

std::string_view WithoutFinalSlash(std::string_view base) {
  while (!base.empty() && base.back() == '/') base.remove_suffix(1);
  return base;
}

}  // namespace

ByteSet FetchPictureOverHttp(const Text& url) { return HttpGetBytes(url); }

ByteSet FetchPageOverHttp(const Text& url) {
  ComFetchArgs args;
  args.method = 0;
  return ComFetch(url, args);
}

void ShowLookupResult(ProgramState& state, WindowControls& controls,
                      const std::filesystem::path& resultFolder, const ByteSet& body) {
  std::lock_guard guard(state.lock);
  if (state.released) return;

  state.PageText = BytesToText(body);
  state.MatchList.clear();
  state.FieldList.clear();
  state.FieldPattern = FieldRegex();
  state.MatchList = FindFieldMatches(state.PageText);
  const std::size_t count = state.MatchList.size();
  for (std::size_t i = 0; i < count; ++i) {
    AppendToArray(state.FieldList,
                  FieldFromMatch(SearchResultText(state.MatchList[i], state.PageText)));
  }
  if (ArraySize(state.FieldList) != 6) return;

  // The entry box may change while this runs; each use reads it as it is.
  const Text e1 = controls.EntryText();
  const Text e2 = controls.EntryText();
  const Text e3 = controls.EntryText();
  controls.SetLabelText(BuildResultLabel(e1, e2, e3, state.FieldList));

  const Text page = BuildExplanationPage(controls.EntryText(), ArrayMember(state.FieldList, 6));
  const std::filesystem::path folder = resultFolder.empty() ? DefaultResultFolder() : resultFolder;
  if (auto written = WriteResultFile(folder, TextToBytes(page))) {
    controls.Navigate(written->string());
  } else {
    controls.ShowHtml(page);
  }
}

void LookupCharacter(ProgramState& state, WindowControls& controls, const LookupSettings& settings,
                     std::stop_token stop) {
  const std::string_view base = WithoutFinalSlash(settings.serverBase);
  const FetchFunction& fetchPicture =
      settings.fetchPicture ? settings.fetchPicture : FetchFunction(FetchPictureOverHttp);
  const FetchFunction& fetchPage =
      settings.fetchPage ? settings.fetchPage : FetchFunction(FetchPageOverHttp);

  const Text pictureUrl = ConcatText(base, "/wubis/", controls.EntryText(), ".jpg");
  const ByteSet picture = fetchPicture(pictureUrl);
  if (stop.stop_requested()) return;
  controls.SetPicture(picture);

  const Text pageUrl = ConcatText(base, "/wubi/", controls.EntryText(), ".htm");
  const ByteSet body = fetchPage(pageUrl);
  if (stop.stop_requested()) return;
  ShowLookupResult(state, controls, settings.resultFolder, body);
}

}  // namespace zivorna
