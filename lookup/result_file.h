// The local file through which the HTML view shows a lookup's explanation.
#pragma once

#include <filesystem>
#include <optional>

#include "text/text.h"

namespace zivorna {

inline constexpr const char* kResultFileName = "ls.html";

// The user's own cache folder for the result file: $XDG_CACHE_HOME/zivorna
// when that variable holds an absolute path, else $HOME/.cache/zivorna, else
// "zivorna-<uid>" in the temporary folder.
[[nodiscard]] std::filesystem::path DefaultResultFolder();

// Writes `bytes` as `folder`/ls.html, whole and atomically: into a new
// temporary file in the same folder, flushed to disk, then renamed over the
// old file, so a reader sees the old content or the new one, never a part.
// Creates the folder (mode 0700) when missing. Refuses a folder that is not
// a directory owned by this user, since others could then change the file
// between writing and showing. Returns the file's path, or nothing when any
// step failed (no temporary file is left behind then).
[[nodiscard]] std::optional<std::filesystem::path> WriteResultFile(
    const std::filesystem::path& folder, const ByteSet& bytes);

}  // namespace zivorna
