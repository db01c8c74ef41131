#include "app/handlers.h"

#include <utility>

namespace zivorna::app {

const Text& StatusNetworkUp() {
  static const Text text = "\r\n\r\n\xCD\xF8\xC2\xE7\xC1\xAC\xBD\xD3\xB3\xC9\xB9\xA6\xA3\xA1";
  return text;
}

const Text& StatusNetworkDown() {
  static const Text text = "\r\n\r\n\xCD\xF8\xC2\xE7\xC1\xAC\xBD\xD3\xCA\xA7\xB0\xDC\xA3\xA1";
  return text;
}

const Text& StatusCheckNetwork() {
  static const Text text = "\r\n\r\n\xC7\xEB\xBC\xEC\xB2\xE9\xCD\xF8\xC2\xE7\xC1\xAC\xBD\xD3";
  return text;
}

const Text& SamplePicturePath() {
  static const Text path = "/wubis/\xCE\xE5.jpg";  // 五 in GBK
  return path;
}

namespace {

constexpr int kEnterCode = 13;
constexpr int kBackspaceCode = 8;
// The lowest lead byte of the GB2312 Chinese characters.
constexpr int kFirstChineseLeadByte = 0xB0;

}  // namespace

WindowHandlers::WindowHandlers(WindowControls& controls, HandlerServices services)
    : controls_(controls), services_(std::move(services)) {}

void WindowHandlers::AppendToLabel(const Text& status) {
  controls_.SetLabelText(ConcatText(controls_.LabelText(), status));
}

void WindowHandlers::OnMainWindowCreated() {
  Text status;
  if (services_.probe && services_.probe()) {
    ByteSet picture;
    if (services_.fetchPicture) {
      picture = services_.fetchPicture(ConcatText(services_.lookupBaseUrl, SamplePicturePath()));
    }
    controls_.SetPicture(picture);
    status = StatusNetworkUp();
  } else {
    status = StatusNetworkDown();
  }
  AppendToLabel(status);
}

std::optional<int> WindowHandlers::OnEntryCharInput(int code) {
  if (code == kEnterCode || code == kBackspaceCode) return code;
  if (code < kFirstChineseLeadByte) return 0;
  if (services_.probe && services_.probe()) {
    if (services_.startLookup) services_.startLookup();
  } else {
    AppendToLabel(StatusCheckNetwork());
  }
  return std::nullopt;
}

}  // namespace zivorna::app
