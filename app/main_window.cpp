#include "app/main_window.h"

#include <QApplication>
#include <QPalette>
#include <QScreen>
#include <QWindow>

namespace zivorna::app {

const Text& WindowTitleText() {
  static const Text title = "Zivorna";
  return title;
}

const Text& InitialLabelText() {
  // "五笔字根查询\r\n\r\n五笔拆字查询\r\n\r\nZivorna"
  static const Text text =
      "\xCE\xE5\xB1\xCA\xD7\xD6\xB8\xF9\xB2\xE9\xD1\xAF\r\n\r\n"
      "\xCE\xE5\xB1\xCA\xB2\xF0\xD7\xD6\xB2\xE9\xD1\xAF\r\n\r\nZivorna";
  return text;
}

QFont PixelFont(int pixels) {
  QFont font = QApplication::font();
  font.setPixelSize(pixels);
  font.setWeight(QFont::Normal);
  font.setItalic(false);
  font.setUnderline(false);
  font.setStrikeOut(false);
  return font;
}

namespace {

// Paints `widget`'s background in the colour of button faces, the window's
// own background colour.
void UseButtonFace(QWidget* widget) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::Window, palette.color(QPalette::Button));
  widget->setPalette(palette);
  widget->setAutoFillBackground(true);
}

}  // namespace

MainWindow::MainWindow()
    : QWidget(nullptr,
              Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                  Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                  Qt::WindowCloseButtonHint) {
  setWindowTitle(QString::fromStdString(WindowTitleText()));
  setObjectName(QStringLiteral("MainWindow"));
  UseButtonFace(this);
  // Without a frame (or before the window system reports it) the client
  // area is the whole outer size; FitFrame shrinks it by the frame later.
  setFixedSize(layout::kOuterSize);

  html_ = new HtmlView(this);
  html_->setObjectName(QStringLiteral("超文本浏览框1"));
  html_->setGeometry(layout::kHtmlView);

  button_ = new QPushButton(QStringLiteral("查 询"), this);
  button_->setObjectName(QStringLiteral("按钮1"));
  button_->setGeometry(layout::kButton);
  button_->setFont(PixelFont(layout::kButtonFontPixels));
  button_->setAutoDefault(false);

  label_ = new ResultLabel(this);
  label_->setObjectName(QStringLiteral("标签1"));
  label_->setGeometry(layout::kLabel);
  label_->setFont(PixelFont(layout::kLabelFontPixels));
  UseButtonFace(label_);
  {
    QPalette palette = label_->palette();
    palette.setColor(QPalette::WindowText, Qt::black);
    label_->setPalette(palette);
  }
  label_->SetGbkText(InitialLabelText());

  entry_ = new EntryBox(this);
  entry_->setObjectName(QStringLiteral("编辑框1"));
  entry_->setGeometry(layout::kEntry);
  entry_->setFont(PixelFont(layout::kEntryFontPixels));
  entry_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  {
    QPalette palette = entry_->palette();
    palette.setColor(QPalette::Base, Qt::white);
    palette.setColor(QPalette::Text, Qt::black);
    entry_->setPalette(palette);
  }

  picture_ = new PictureBox(this);
  picture_->setObjectName(QStringLiteral("图片框1"));
  picture_->setGeometry(layout::kPicture);
  UseButtonFace(picture_);

  bridge_ = std::make_unique<WindowBridge>(*this);
  connect(entry_, &QLineEdit::textChanged, this,
          [this] { bridge_->EntryChanged(entry_->GbkText()); });
}

MainWindow::~MainWindow() = default;

QPoint MainWindow::CentredFramePosition() const {
  const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
  if (screen == nullptr) return {0, 0};
  const QRect area = screen->geometry();
  return {area.x() + (area.width() - layout::kOuterSize.width()) / 2,
          area.y() + (area.height() - layout::kOuterSize.height()) / 2};
}

void MainWindow::ShowCentred() {
  // A top-level widget's position is that of its frame.
  move(CentredFramePosition());
  show();
  FitFrame();
}

void MainWindow::FitFrame() {
  const QWindow* window = windowHandle();
  if (window == nullptr) return;
  const QMargins margins = window->frameMargins();
  if (margins == fittedMargins_) return;
  fittedMargins_ = margins;
  const QSize client(layout::kOuterSize.width() - margins.left() - margins.right(),
                     layout::kOuterSize.height() - margins.top() - margins.bottom());
  // Every control lies within 528 x 512 of the client area; a frame too
  // thick to leave that much room is not shrunk for.
  if (client.width() < layout::kHtmlView.right() + 1 ||
      client.height() < layout::kHtmlView.bottom() + 1) {
    return;
  }
  setFixedSize(client);
  move(CentredFramePosition());
}

bool MainWindow::event(QEvent* event) {
  const bool handled = QWidget::event(event);
  // The window system reports its frame only after the window is mapped; it
  // shows up with the first move or resize after that.
  switch (event->type()) {
    case QEvent::Show:
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::WindowStateChange:
      if (isVisible()) FitFrame();
      break;
    default:
      break;
  }
  return handled;
}

}  // namespace zivorna::app
