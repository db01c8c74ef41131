#include "app/window_bridge.h"

#include <QMetaObject>
#include <QThread>

#include "app/main_window.h"

namespace zivorna::app {

WindowBridge::WindowBridge(MainWindow& window)
    : window_(window), label_(window.Label()->GbkText()) {}

Text WindowBridge::EntryText() {
  std::lock_guard lock(mutex_);
  return entry_;
}

Text WindowBridge::LabelText() {
  std::lock_guard lock(mutex_);
  return label_;
}

void WindowBridge::SetLabelText(const Text& text) {
  std::unique_lock lock(mutex_);
  label_ = text;
  ++labelVersion_;
  RequestApply(lock);
}

void WindowBridge::SetPicture(const ByteSet& bytes) {
  std::unique_lock lock(mutex_);
  picture_ = bytes;
  ++pictureVersion_;
  RequestApply(lock);
}

void WindowBridge::Navigate(const std::string& filePath) {
  std::unique_lock lock(mutex_);
  pageFile_ = filePath;
  pageHtml_.clear();
  ++pageVersion_;
  RequestApply(lock);
}

void WindowBridge::ShowHtml(const Text& page) {
  std::unique_lock lock(mutex_);
  pageFile_.reset();
  pageHtml_ = page;
  ++pageVersion_;
  RequestApply(lock);
}

void WindowBridge::EntryChanged(const Text& text) {
  std::lock_guard lock(mutex_);
  entry_ = text;
}

void WindowBridge::RequestApply(std::unique_lock<std::mutex>& lock) {
  if (QThread::currentThread() == window_.thread()) {
    lock.unlock();
    ApplyPending();
    return;
  }
  if (applyPosted_) return;
  applyPosted_ = true;
  // Queued to the window's thread; the window outlives every writer.
  QMetaObject::invokeMethod(
      &window_, [this] { ApplyPending(); }, Qt::QueuedConnection);
}

void WindowBridge::ApplyPending() {
  std::optional<Text> label;
  std::optional<ByteSet> picture;
  std::optional<std::optional<std::string>> file;
  Text html;
  {
    std::lock_guard lock(mutex_);
    applyPosted_ = false;
    if (shownLabel_ != labelVersion_) {
      label = label_;
      shownLabel_ = labelVersion_;
    }
    if (shownPicture_ != pictureVersion_) {
      picture = picture_;
      shownPicture_ = pictureVersion_;
    }
    if (shownPage_ != pageVersion_) {
      file = pageFile_;
      html = pageHtml_;
      shownPage_ = pageVersion_;
    }
  }
  if (label) window_.Label()->SetGbkText(*label);
  if (picture) window_.Picture()->SetPictureBytes(*picture);
  if (file) {
    if (*file) {
      window_.Html()->ShowFile(**file);
    } else {
      window_.Html()->ShowPage(html);
    }
  }
}

}  // namespace zivorna::app
