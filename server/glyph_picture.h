// Pictures of characters, drawn with Qt and encoded as JPEG.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace zivorna::server {

inline constexpr int kPictureWidth = 240;
inline constexpr int kPictureHeight = 240;

class GlyphPainter {
 public:
  // Registers the font file with Qt's font database. Needs a QGuiApplication
  // (or QApplication); null with `*error` set when there is none or the font
  // cannot be loaded.
  static std::unique_ptr<GlyphPainter> Create(const std::string& fontPath, std::string* error);

  // A kPictureWidth x kPictureHeight JPEG: the character large on a
  // practice grid, with `caption` (its Wubi 86 code) below it. Safe to call
  // from any thread; drawings are serialised.
  [[nodiscard]] std::string DrawJpeg(char32_t cp, std::string_view caption) const;

 private:
  explicit GlyphPainter(std::string family) : family_(std::move(family)) {}
  std::string family_;
};

// The font the server draws with, from the Debian package fonts-wqy-microhei.
[[nodiscard]] std::string DefaultFontPath();

}  // namespace zivorna::server
