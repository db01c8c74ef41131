// A WindowControls that records every write, for checking what a lookup
// showed and in which order. Safe to use from the worker thread.
#pragma once

#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "lookup/window_controls.h"

namespace zivorna::testing {

struct ControlEvent {
  enum Kind { kLabel, kPicture, kNavigate, kShowHtml };
  Kind kind;
  std::string value;  // label text, picture bytes, file path or page

  friend bool operator==(const ControlEvent&, const ControlEvent&) = default;
};

class RecordingControls : public WindowControls {
 public:
  // The entry box holds `entry` from now on.
  void SetEntry(const Text& entry) {
    std::lock_guard guard(mutex_);
    entry_ = entry;
    script_.clear();
  }
  // The next reads of the entry box give these texts in turn, then the last
  // one for good.
  void ScriptEntryReads(std::deque<Text> reads) {
    std::lock_guard guard(mutex_);
    script_ = std::move(reads);
  }

  Text EntryText() override {
    std::lock_guard guard(mutex_);
    if (!script_.empty()) {
      entry_ = script_.front();
      script_.pop_front();
    }
    return entry_;
  }
  Text LabelText() override {
    std::lock_guard guard(mutex_);
    return label_;
  }
  void SetLabelText(const Text& text) override {
    std::lock_guard guard(mutex_);
    label_ = text;
    events_.push_back({ControlEvent::kLabel, text});
  }
  void SetPicture(const ByteSet& bytes) override {
    std::lock_guard guard(mutex_);
    events_.push_back({ControlEvent::kPicture, std::string(bytes.begin(), bytes.end())});
  }
  void Navigate(const std::string& filePath) override {
    std::lock_guard guard(mutex_);
    events_.push_back({ControlEvent::kNavigate, filePath});
  }
  void ShowHtml(const Text& page) override {
    std::lock_guard guard(mutex_);
    events_.push_back({ControlEvent::kShowHtml, page});
  }

  std::vector<ControlEvent> Events() const {
    std::lock_guard guard(mutex_);
    return events_;
  }

 private:
  mutable std::mutex mutex_;
  Text entry_;
  std::deque<Text> script_;
  Text label_;
  std::vector<ControlEvent> events_;
};

}  // namespace zivorna::testing
