// The entry box: a single-line edit box that holds at most three bytes of
// GBK text and passes every typed character through a byte filter first.
//
// The filter sees each typed character as its GBK bytes, one call per byte,
// lead byte first; Enter and Backspace reach it as 13 and 8. Its answer per
// byte: no value lets the byte through, 0 discards it, any other code lets it
// through (a single-byte character is then replaced by that code when it is
// printable ASCII). A double-byte character is never split: it goes into the
// box whole when its lead byte passes and not at all when the lead byte is
// discarded, while both of its bytes are still shown to the filter.
#pragma once

#include <functional>
#include <optional>

#include <QLineEdit>

#include "text/text.h"

namespace zivorna::app {

// The byte limit of the entry box's text, counted in GBK.
inline constexpr int kEntryByteLimit = 3;

class EntryBox : public QLineEdit {
  Q_OBJECT

 public:
  using CharFilter = std::function<std::optional<int>(int code)>;

  explicit EntryBox(QWidget* parent = nullptr);

  // Installs the byte filter; without one every byte passes.
  void SetCharFilter(CharFilter filter) { filter_ = std::move(filter); }

  // The box's text as GBK bytes.
  [[nodiscard]] Text GbkText() const;

  // Inserts as many whole characters of `text` (from its start) as fit into
  // the byte limit, replacing the selection; characters without a GBK form
  // and control characters are dropped. Used for paste; runs no filter.
  void InsertFitting(const QString& text);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void inputMethodEvent(QInputMethodEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  // Runs the filter over each character of `text` and inserts those that
  // pass and fit.
  void TypeCharacters(const QString& text);
  void TypeCharacter(char32_t ch);
  // Whether `gbkBytes` more bytes fit when the selection is replaced.
  [[nodiscard]] bool Fits(int gbkBytes) const;
  [[nodiscard]] std::optional<int> Filter(int code) const;

  CharFilter filter_;
};

// The GBK bytes of one character; empty when it has none.
[[nodiscard]] Text GbkOfChar(char32_t ch);
// The GBK bytes of `text`; `*lossless` says whether every character had a
// GBK form.
[[nodiscard]] Text GbkOf(const QString& text, bool* lossless = nullptr);

// Sends one character to `target` as a key press and its release, the way
// a keyboard would: "\r" or "\n" as Enter, "\b" as Backspace, anything
// else as a key that types that character.
void SendCharacterKey(QWidget* target, char32_t ch);

}  // namespace zivorna::app
