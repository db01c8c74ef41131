// The program's one window: an entry box, a label, a picture box, an HTML
// view and a button, at fixed positions in a window of fixed size.
#pragma once

#include <memory>

#include <QMargins>
#include <QPushButton>
#include <QRect>
#include <QSize>
#include <QWidget>

#include "app/controls.h"
#include "app/entry_box.h"
#include "app/window_bridge.h"

namespace zivorna::app {

namespace layout {
// The window's outer size, frame and title bar included.
inline constexpr QSize kOuterSize{561, 565};
// The controls, relative to the client area (left, top, width, height).
inline constexpr QRect kHtmlView{24, 216, 504, 296};
inline constexpr QRect kButton{432, 64, 88, 80};
inline constexpr QRect kLabel{136, 14, 256, 186};
inline constexpr QRect kEntry{22, 162, 106, 40};
inline constexpr QRect kPicture{19, 40, 104, 104};
// Character heights of the fonts, in pixels.
inline constexpr int kButtonFontPixels = 19;
inline constexpr int kLabelFontPixels = 16;
inline constexpr int kEntryFontPixels = 19;
}  // namespace layout

// The window's title and the label's first text, in GBK.
[[nodiscard]] const Text& WindowTitleText();
[[nodiscard]] const Text& InitialLabelText();

class MainWindow : public QWidget {
  Q_OBJECT

 public:
  MainWindow();
  ~MainWindow() override;

  [[nodiscard]] EntryBox* Entry() const { return entry_; }
  [[nodiscard]] ResultLabel* Label() const { return label_; }
  [[nodiscard]] PictureBox* Picture() const { return picture_; }
  [[nodiscard]] HtmlView* Html() const { return html_; }
  [[nodiscard]] QPushButton* Button() const { return button_; }

  // The thread-safe face of the controls that lookups and handlers use.
  [[nodiscard]] WindowBridge& Controls() { return *bridge_; }

  // Shows the window centred on its screen.
  void ShowCentred();

 protected:
  bool event(QEvent* event) override;

 private:
  // Sizes the client area so that the outer size is kOuterSize once the
  // window system has told us how thick its frame is, and keeps the frame
  // centred.
  void FitFrame();
  [[nodiscard]] QPoint CentredFramePosition() const;

  EntryBox* entry_;
  ResultLabel* label_;
  PictureBox* picture_;
  HtmlView* html_;
  QPushButton* button_;
  std::unique_ptr<WindowBridge> bridge_;
  QMargins fittedMargins_;
};

// A font of the platform's default face, normal weight, whose characters are
// `pixels` high.
[[nodiscard]] QFont PixelFont(int pixels);

}  // namespace zivorna::app
