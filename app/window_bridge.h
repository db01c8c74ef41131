// The window's controls as lookups and handlers see them: callable from any
// thread, never blocking on the window's thread.
//
// The bridge keeps a copy of what the controls hold. Reads return the copy
// under a lock; writes update the copy and ask the window's thread to bring
// the widgets up to date with it. That request is coalesced: the window's
// thread always shows the latest copy, so the widgets never fall behind or
// go back to an older value whatever order threads write in. A write made on
// the window's thread itself is shown at once.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "lookup/window_controls.h"
#include "text/text.h"

namespace zivorna::app {

class MainWindow;

class WindowBridge : public WindowControls {
 public:
  // `window` must outlive every call from another thread.
  explicit WindowBridge(MainWindow& window);

  [[nodiscard]] Text EntryText() override;
  [[nodiscard]] Text LabelText() override;
  void SetLabelText(const Text& text) override;
  void SetPicture(const ByteSet& bytes) override;
  void Navigate(const std::string& filePath) override;
  void ShowHtml(const Text& page) override;

  // Window thread only: records the entry box's new text.
  void EntryChanged(const Text& text);
  // Window thread only: brings the widgets up to date with the copy.
  void ApplyPending();

 private:
  // Called with the lock held after a write.
  void RequestApply(std::unique_lock<std::mutex>& lock);

  MainWindow& window_;
  std::mutex mutex_;
  Text entry_;
  Text label_;
  ByteSet picture_;
  std::optional<std::string> pageFile_;  // set: show this file; else pageHtml_
  Text pageHtml_;
  std::uint64_t labelVersion_ = 0;
  std::uint64_t pictureVersion_ = 0;
  std::uint64_t pageVersion_ = 0;
  bool applyPosted_ = false;
  // Window thread only: the versions the widgets show.
  std::uint64_t shownLabel_ = 0;
  std::uint64_t shownPicture_ = 0;
  std::uint64_t shownPage_ = 0;
};

}  // namespace zivorna::app
