#include "server/glyph_picture.h"

#include <future>
#include <mutex>

#include <QBuffer>
#include <QFont>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPen>

#ifndef ZV_SERVER_FONT_PATH
#define ZV_SERVER_FONT_PATH "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc"
#endif

namespace zivorna::server {

namespace {

// Registering fonts is kept to one thread at a time.
std::mutex& FontMutex() {
  static std::mutex m;
  return m;
}

}  // namespace

std::string DefaultFontPath() { return ZV_SERVER_FONT_PATH; }

std::unique_ptr<GlyphPainter> GlyphPainter::Create(const std::string& fontPath, std::string* error) {
  if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) {
    if (error != nullptr) *error = "drawing pictures needs a QGuiApplication";
    return nullptr;
  }
  std::lock_guard lock(FontMutex());
  const int id = QFontDatabase::addApplicationFont(QString::fromStdString(fontPath));
  const QStringList families = id < 0 ? QStringList() : QFontDatabase::applicationFontFamilies(id);
  if (families.isEmpty()) {
    if (error != nullptr) {
      *error = "cannot load the font " + fontPath + " (Debian package fonts-wqy-microhei)";
    }
    return nullptr;
  }
  return std::unique_ptr<GlyphPainter>(new GlyphPainter(families.front().toStdString()));
}

GlyphPainter::GlyphPainter(std::string family) : family_(std::move(family)) {
  thread_ = std::thread([this] {
    std::unique_lock lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
      if (jobs_.empty()) return;  // stopping, and nothing left to draw
      std::function<void()> job = std::move(jobs_.front());
      jobs_.pop_front();
      lock.unlock();
      job();
      lock.lock();
    }
  });
}

GlyphPainter::~GlyphPainter() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  thread_.join();
}

std::string GlyphPainter::DrawJpeg(char32_t cp, std::string_view caption) {
  // Shared with the job, so that it outlives the caller's wait whatever the
  // order in which the two finish.
  auto task = std::make_shared<std::packaged_task<std::string()>>(
      [this, cp, text = std::string(caption)] { return Draw(cp, text); });
  std::future<std::string> result = task->get_future();
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return {};
    jobs_.emplace_back([task] { (*task)(); });
  }
  wake_.notify_one();
  return result.get();
}

std::string GlyphPainter::Draw(char32_t cp, const std::string& caption) const {
  QImage image(kPictureWidth, kPictureHeight, QImage::Format_RGB32);
  image.fill(Qt::white);
  {
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);

    // A practice grid (田字格) behind the glyph.
    const QRect box(30, 8, 180, 180);
    painter.setPen(QPen(QColor(0xD0, 0x50, 0x50), 2));
    painter.drawRect(box);
    QPen dashed(QColor(0xE8, 0xA0, 0xA0), 1, Qt::DashLine);
    painter.setPen(dashed);
    painter.drawLine(box.left(), box.center().y(), box.right(), box.center().y());
    painter.drawLine(box.center().x(), box.top(), box.center().x(), box.bottom());

    QFont glyphFont(QString::fromStdString(family_));
    glyphFont.setPixelSize(150);
    painter.setFont(glyphFont);
    painter.setPen(Qt::black);
    painter.drawText(box, Qt::AlignCenter, QString::fromUcs4(&cp, 1));

    QFont captionFont(QString::fromStdString(family_));
    captionFont.setPixelSize(28);
    painter.setFont(captionFont);
    painter.setPen(QColor(0x20, 0x50, 0xA0));
    painter.drawText(QRect(0, 192, kPictureWidth, 44), Qt::AlignCenter,
                     QString::fromUtf8(caption.data(), static_cast<qsizetype>(caption.size())));
  }
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  if (!image.save(&buffer, "JPG", 85)) return {};
  return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

}  // namespace zivorna::server
