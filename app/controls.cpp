#include "app/controls.h"

#include <QFile>
#include <QPainter>

#include "platform/gbk.h"

namespace zivorna::app {

QString LabelDisplayText(const Text& gbk) {
  QString shown = QString::fromStdU16String(platform::GbkToUtf16(gbk));
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return shown;
}

ResultLabel::ResultLabel(QWidget* parent) : QLabel(parent) {
  setTextFormat(Qt::PlainText);
  setWordWrap(true);
  setAlignment(Qt::AlignLeft | Qt::AlignTop);
  setFrameShape(QFrame::NoFrame);
  setMargin(0);
  setIndent(0);
  setTextInteractionFlags(Qt::NoTextInteraction);
}

void ResultLabel::SetGbkText(const Text& text) {
  text_ = text;
  setText(LabelDisplayText(text_));
}

PictureBox::PictureBox(QWidget* parent) : QWidget(parent) {
  setAutoFillBackground(true);
}

void PictureBox::SetPictureBytes(const ByteSet& bytes) {
  // Decoding is bounded by the image reader's allocation limit, so a picture
  // that claims a huge size fails to decode instead of exhausting memory.
  image_ = bytes.empty()
               ? QImage()
               : QImage::fromData(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
  update();
}

void PictureBox::paintEvent(QPaintEvent* /*event*/) {
  if (image_.isNull()) return;
  QPainter painter(this);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawImage(rect(), image_);
}

HtmlView::HtmlView(QWidget* parent) : QTextBrowser(parent) {
  setOpenLinks(false);
  setOpenExternalLinks(false);
  setUndoRedoEnabled(false);
}

void HtmlView::ShowFile(const std::string& path) {
  file_ = path;
  QFile file(QString::fromStdString(path));
  if (!file.open(QIODevice::ReadOnly)) {
    html_.reset();
    clear();
    return;
  }
  const QByteArray bytes = file.readAll();
  html_ = Text(bytes.constData(), static_cast<std::size_t>(bytes.size()));
  setHtml(QString::fromStdU16String(platform::GbkToUtf16(*html_)));
}

void HtmlView::ShowPage(const Text& page) {
  file_.reset();
  html_ = page;
  setHtml(QString::fromStdU16String(platform::GbkToUtf16(page)));
}

QVariant HtmlView::loadResource(int /*type*/, const QUrl& /*name*/) {
  // The pages are given whole (ShowFile reads the result file itself), so
  // any resource the document asks for is something a page refers to:
  // refused.
  return {};
}

}  // namespace zivorna::app
