// The operations a lookup performs on the main window's controls. The window
// implements them; lookups call them from their worker thread, so every
// implementation must be callable from any thread and must never block on
// the window's thread (reads come from a copy kept up to date by the window,
// writes are posted to it).
#pragma once

#include <string>

#include "text/text.h"

namespace zivorna {

class WindowControls {
 public:
  virtual ~WindowControls() = default;
  // The entry box's text (GBK), as it is now.
  [[nodiscard]] virtual Text EntryText() = 0;
  // The label's whole text (GBK, "\r\n" line breaks kept).
  [[nodiscard]] virtual Text LabelText() = 0;
  virtual void SetLabelText(const Text& text) = 0;
  // Encoded image bytes; empty or undecodable bytes leave the box without a picture.
  virtual void SetPicture(const ByteSet& bytes) = 0;
  // Makes the HTML view show a local file (GBK HTML).
  virtual void Navigate(const std::string& filePath) = 0;
  // Makes the HTML view show a page given directly (GBK HTML); used when the
  // result file could not be written, so the view never shows stale content.
  virtual void ShowHtml(const Text& page) = 0;
};

}  // namespace zivorna
