// Pictures of characters, drawn with Qt and encoded as JPEG.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace zivorna::server {

inline constexpr int kPictureWidth = 240;
inline constexpr int kPictureHeight = 240;

class GlyphPainter {
 public:
  // Registers the font file with Qt's font database. Needs a QGuiApplication
  // (or QApplication); null with `*error` set when there is none or the font
  // cannot be loaded.
  static std::unique_ptr<GlyphPainter> Create(const std::string& fontPath, std::string* error);

  ~GlyphPainter();
  GlyphPainter(const GlyphPainter&) = delete;
  GlyphPainter& operator=(const GlyphPainter&) = delete;

  // A kPictureWidth x kPictureHeight JPEG: the character large on a
  // practice grid, with `caption` (its Wubi 86 code) below it. Safe to call
  // from any thread; empty when encoding fails.
  [[nodiscard]] std::string DrawJpeg(char32_t cp, std::string_view caption);

 private:
  explicit GlyphPainter(std::string family);
  std::string Draw(char32_t cp, const std::string& caption) const;

  std::string family_;
  // Every drawing is done on this one thread: Qt keeps its font engines and
  // glyph caches per thread, so drawing on each server worker would map the
  // font and cache its glyphs once per worker.
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> jobs_;
  bool stopping_ = false;
};

// The font the server draws with, from the Debian package fonts-wqy-microhei.
[[nodiscard]] std::string DefaultFontPath();

}  // namespace zivorna::server
