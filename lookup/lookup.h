// One character lookup: fetch the entry's picture and information page from
// the lookup server, cut the six fields out of the page and show them.
#pragma once

#include <filesystem>
#include <functional>
#include <stop_token>

#include "lookup/program_state.h"
#include "lookup/window_controls.h"
#include "text/text.h"

namespace zivorna {

// A fetch of one URL, giving the response body; empty bytes on failure.
using FetchFunction = std::function<ByteSet(const Text& url)>;

struct LookupSettings {
  // Base address of the lookup server, scheme and host, e.g.
  // "http://127.0.0.1:8786". A final "/" is ignored.
  Text serverBase;
  // Folder of the result file; empty: DefaultResultFolder().
  std::filesystem::path resultFolder;
  // Fetch of the picture; empty: HttpGetBytes.
  FetchFunction fetchPicture;
  // Fetch of the page; empty: ComFetch(url) with method 0 and every other
  // parameter left out.
  FetchFunction fetchPage;
};

// The default fetches.
[[nodiscard]] ByteSet FetchPictureOverHttp(const Text& url);
[[nodiscard]] ByteSet FetchPageOverHttp(const Text& url);

// Shows the result of one lookup from the body of its page:
//  1. PageText = the body's bytes (up to a first zero byte) taken as GBK,
//     MatchList = the field matches, FieldList = their fields;
//  2. with exactly six fields, the label gets the five-field text
//     (BuildResultLabel; the entry text is read anew for each use) and the
//     explanation page (BuildExplanationPage, entry text read once more) is
//     written to the result file in `resultFolder` (empty: the default one),
//     which the HTML view is then told to show. When the file cannot be
//     written, the view is given the page itself, so it never shows an
//     earlier lookup's result as this one's.
// Any other number of fields (an empty body gives none) changes nothing
// visible; FieldList holds them. The whole call holds `state.lock`, so
// calls from several threads take effect one after another. A released
// state is left alone.
void ShowLookupResult(ProgramState& state, WindowControls& controls,
                      const std::filesystem::path& resultFolder, const ByteSet& body);

// Looks up the character in the entry box:
//  1. fetches serverBase + "/wubis/" + entry + ".jpg" and gives the bytes to
//     the picture box (nothing decodable: no picture);
//  2. reads the entry again and fetches serverBase + "/wubi/" + entry + ".htm";
//  3. ShowLookupResult with that body.
// A failed fetch shows as empty bytes. When `stop` is requested while a fetch
// runs, the lookup ends after that fetch without touching the window or the
// state again.
void LookupCharacter(ProgramState& state, WindowControls& controls, const LookupSettings& settings,
                     std::stop_token stop = {});

}  // namespace zivorna
