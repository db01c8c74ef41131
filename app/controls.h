// The window's display controls: the label that keeps its GBK text, the
// picture box that stretches a decoded picture over its area, and the HTML
// view that shows the result page and loads nothing else.
#pragma once

#include <optional>
#include <string>

#include <QImage>
#include <QLabel>
#include <QTextBrowser>
#include <QWidget>

#include "text/text.h"

namespace zivorna::app {

// A plain-text label (never markup) drawn from the top left, wrapped at word
// boundaries and clipped to its area. It keeps the GBK text it was given, so
// reading it back gives exactly those bytes, "\r\n" included.
class ResultLabel : public QLabel {
  Q_OBJECT

 public:
  explicit ResultLabel(QWidget* parent = nullptr);
  void SetGbkText(const Text& text);
  [[nodiscard]] const Text& GbkText() const { return text_; }

 private:
  Text text_;
};

// The text a label shows for a GBK text: "\r\n" and a lone "\r" become line
// breaks, bytes that are not GBK show as U+FFFD.
[[nodiscard]] QString LabelDisplayText(const Text& gbk);

// Shows a picture decoded from encoded image bytes, stretched to fill the
// box; empty or undecodable bytes leave it without a picture.
class PictureBox : public QWidget {
  Q_OBJECT

 public:
  explicit PictureBox(QWidget* parent = nullptr);
  void SetPictureBytes(const ByteSet& bytes);
  [[nodiscard]] bool HasPicture() const { return !image_.isNull(); }
  // The decoded picture's own size (before stretching); empty without one.
  [[nodiscard]] QSize PictureSize() const { return image_.size(); }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QImage image_;
};

// The HTML view. It shows the result file (GBK HTML) or a page given
// directly; it runs no scripts (the document model has none), follows no
// links and loads no resource of its own: images, style sheets and the like
// that a page refers to are refused, so a page can never make the program
// reach the network or read other files.
class HtmlView : public QTextBrowser {
  Q_OBJECT

 public:
  explicit HtmlView(QWidget* parent = nullptr);
  // Reads the file (GBK HTML) and shows it. A file that cannot be read
  // leaves the view empty.
  void ShowFile(const std::string& path);
  // Shows a page (GBK HTML) given directly.
  void ShowPage(const Text& page);

  // The file last shown, if the view shows one.
  [[nodiscard]] const std::optional<std::string>& ShownFile() const { return file_; }
  // The GBK HTML the view shows; none before the first page or when the
  // file could not be read.
  [[nodiscard]] const std::optional<Text>& ShownHtml() const { return html_; }

  QVariant loadResource(int type, const QUrl& name) override;

 private:
  std::optional<std::string> file_;
  std::optional<Text> html_;
};

}  // namespace zivorna::app
