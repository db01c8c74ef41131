#include "platform/gbk.h"

#include <QString>
#include <QStringDecoder>
#include <QStringEncoder>

namespace zivorna::platform {
namespace {

// Qt's converters are not thread-safe objects, so each call makes its own;
// creating one is cheap next to the conversion itself.
QString DecodeGbk(std::string_view gbk) {
  QStringDecoder decoder("GBK");
  return decoder.decode(QByteArrayView(gbk.data(), static_cast<qsizetype>(gbk.size())));
}

Text EncodeGbk(const QString& text, bool* lossless) {
  QStringEncoder encoder("GBK", QStringConverter::Flag::Stateless);
  const QByteArray bytes = encoder.encode(text);
  if (lossless != nullptr) {
    // The encoder writes a replacement for characters it cannot map; an exact
    // round trip tells whether every character had a GBK form.
    *lossless = !encoder.hasError() && DecodeGbk(std::string_view(bytes.constData(),
                                                                  static_cast<size_t>(bytes.size()))) == text;
  }
  return Text(bytes.constData(), static_cast<size_t>(bytes.size()));
}

}  // namespace

std::u16string GbkToUtf16(std::string_view gbk) {
  const QString s = DecodeGbk(gbk);
  return std::u16string(reinterpret_cast<const char16_t*>(s.utf16()), static_cast<size_t>(s.size()));
}

Text Utf16ToGbk(std::u16string_view text) {
  return EncodeGbk(QString(reinterpret_cast<const QChar*>(text.data()), static_cast<qsizetype>(text.size())),
                   nullptr);
}

std::string GbkToUtf8(std::string_view gbk) {
  const QByteArray utf8 = DecodeGbk(gbk).toUtf8();
  return std::string(utf8.constData(), static_cast<size_t>(utf8.size()));
}

Text Utf8ToGbk(std::string_view utf8, bool* lossless) {
  const QString s = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
  bool ok = true;
  Text out = EncodeGbk(s, &ok);
  if (lossless != nullptr) {
    // Invalid UTF-8 decodes to U+FFFD, which has no GBK form either.
    *lossless = ok && !s.contains(QChar::ReplacementCharacter);
  }
  return out;
}

bool IsValidGbk(std::string_view bytes) {
  for (size_t i = 0; i < bytes.size(); ++i) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    if (lead < 0x80) continue;
    if (lead == 0x80 || lead == 0xFF || i + 1 >= bytes.size()) return false;
    const auto trail = static_cast<unsigned char>(bytes[++i]);
    if (trail < 0x40 || trail == 0x7F || trail == 0xFF) return false;
  }
  return true;
}

}  // namespace zivorna::platform
