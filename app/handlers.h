// The main window's two event handlers: the created handler that checks the
// network at start-up, and the byte filter of the entry box that gates and
// starts lookups.
#pragma once

#include <functional>
#include <optional>

#include "lookup/window_controls.h"
#include "text/text.h"

namespace zivorna::app {

// Status lines the handlers append to the label (GBK).
[[nodiscard]] const Text& StatusNetworkUp();        // "\r\n\r\n网络连接成功！"
[[nodiscard]] const Text& StatusNetworkDown();      // "\r\n\r\n网络连接失败！"
[[nodiscard]] const Text& StatusCheckNetwork();     // "\r\n\r\n请检查网络连接"
// The path of the start-up sample picture on the lookup server: "/wubis/五.jpg".
[[nodiscard]] const Text& SamplePicturePath();

// What the handlers need from the rest of the program; each is replaceable
// so that tests can count and steer the calls.
struct HandlerServices {
  // The connectivity probe; true when the network can be reached.
  std::function<bool()> probe;
  // A plain GET of a picture; empty bytes on failure.
  std::function<ByteSet(const Text& url)> fetchPicture;
  // Starts one lookup of the entry box's character (it must not block).
  std::function<void()> startLookup;
  // The lookup server's base address ("http://host:port", no final "/").
  Text lookupBaseUrl;
};

class WindowHandlers {
 public:
  WindowHandlers(WindowControls& controls, HandlerServices services);

  // Runs once when the window and its controls exist: probes the network,
  // shows the sample picture when it is reachable and appends the outcome
  // to the label.
  void OnMainWindowCreated();

  // Filters one byte code typed into the entry box (a character's GBK
  // bytes, lead byte first; Enter 13, Backspace 8). No value: the byte goes
  // on to the box; 0: it is discarded. Enter and Backspace pass unchanged;
  // codes below 176 (ASCII, and GBK bytes below the first Chinese lead byte
  // 0xB0) are discarded; a code of 176 or more runs the probe and starts a
  // lookup when it succeeds, or appends a status line when it fails, and
  // then passes.
  std::optional<int> OnEntryCharInput(int code);

 private:
  void AppendToLabel(const Text& status);

  WindowControls& controls_;
  HandlerServices services_;
};

}  // namespace zivorna::app
