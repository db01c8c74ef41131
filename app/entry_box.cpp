#include "app/entry_box.h"

#include <QAction>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QStringView>
#include <QValidator>

#include "platform/gbk.h"

namespace zivorna::app {
namespace {

constexpr int kEnterCode = 13;
constexpr int kBackspaceCode = 8;

// Whether a character may be typed or pasted into the box at all.
bool IsTypable(char32_t ch) { return QChar::isPrint(ch); }

// The code points of `text`, a surrogate pair counting as one.
std::u32string CodePoints(const QString& text) {
  std::u32string out;
  const QList<uint> ucs4 = text.toUcs4();
  out.reserve(ucs4.size());
  for (uint c : ucs4) out.push_back(static_cast<char32_t>(c));
  return out;
}

// Keeps the box within its byte limit and free of characters without a GBK
// form on the paths that do not go through the key handling (drag and drop,
// undo of a paste): any such change is rejected whole.
class GbkLimitValidator : public QValidator {
 public:
  using QValidator::QValidator;
  State validate(QString& input, int& /*pos*/) const override {
    for (char32_t ch : CodePoints(input)) {
      if (!IsTypable(ch)) return Invalid;
    }
    bool lossless = false;
    const Text gbk = GbkOf(input, &lossless);
    return lossless && static_cast<int>(gbk.size()) <= kEntryByteLimit ? Acceptable : Invalid;
  }
};

}  // namespace

Text GbkOf(const QString& text, bool* lossless) {
  return platform::Utf8ToGbk(text.toUtf8().toStdString(), lossless);
}

Text GbkOfChar(char32_t ch) {
  bool lossless = false;
  Text gbk = GbkOf(QString::fromUcs4(&ch, 1), &lossless);
  return lossless ? gbk : Text();
}

EntryBox::EntryBox(QWidget* parent) : QLineEdit(parent) {
  setValidator(new GbkLimitValidator(this));
}

Text EntryBox::GbkText() const { return GbkOf(text()); }

std::optional<int> EntryBox::Filter(int code) const {
  if (!filter_) return std::nullopt;
  return filter_(code);
}

bool EntryBox::Fits(int gbkBytes) const {
  const auto kept = GbkOf(text()).size() - GbkOf(selectedText()).size();
  return static_cast<int>(kept) + gbkBytes <= kEntryByteLimit;
}

void EntryBox::InsertFitting(const QString& text) {
  QString accepted;
  int bytes = 0;
  for (char32_t ch : CodePoints(text)) {
    if (!IsTypable(ch)) continue;
    const Text gbk = GbkOfChar(ch);
    if (gbk.empty()) continue;
    if (!Fits(bytes + static_cast<int>(gbk.size()))) break;
    bytes += static_cast<int>(gbk.size());
    accepted += QString::fromUcs4(&ch, 1);
  }
  if (!accepted.isEmpty()) insert(accepted);
}

void EntryBox::TypeCharacter(char32_t ch) {
  const Text gbk = GbkOfChar(ch);
  if (gbk.empty()) return;  // no GBK form: the box cannot hold it
  const auto byte = [&](std::size_t i) { return static_cast<int>(static_cast<unsigned char>(gbk[i])); };

  if (gbk.size() == 1) {
    const std::optional<int> verdict = Filter(byte(0));
    char32_t out = ch;
    if (verdict) {
      if (*verdict == 0) return;
      if (*verdict != byte(0)) {
        if (*verdict < 0x20 || *verdict >= 0x7F) return;
        out = static_cast<char32_t>(*verdict);
      }
    }
    if (Fits(1)) insert(QString::fromUcs4(&out, 1));
    return;
  }

  // Every byte is shown to the filter, even when the lead byte was
  // discarded or the character will not fit: the filter's own effects
  // (probes, lookups, status lines) happen per byte. Only the lead byte's
  // verdict decides whether the character goes in, and it goes in whole.
  const std::optional<int> leadVerdict = Filter(byte(0));
  for (std::size_t i = 1; i < gbk.size(); ++i) (void)Filter(byte(i));
  if (leadVerdict && *leadVerdict == 0) return;
  if (Fits(static_cast<int>(gbk.size()))) insert(QString::fromUcs4(&ch, 1));
}

void EntryBox::TypeCharacters(const QString& text) {
  for (char32_t ch : CodePoints(text)) {
    if (IsTypable(ch)) TypeCharacter(ch);
  }
}

void EntryBox::keyPressEvent(QKeyEvent* event) {
  const int key = event->key();
  if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Backspace) {
    const int code = key == Qt::Key_Backspace ? kBackspaceCode : kEnterCode;
    const std::optional<int> verdict = Filter(code);
    if (verdict && *verdict == 0) {
      event->accept();
      return;
    }
    QLineEdit::keyPressEvent(event);
    return;
  }
  if (event->matches(QKeySequence::Paste)) {
    if (!isReadOnly()) InsertFitting(QGuiApplication::clipboard()->text());
    event->accept();
    return;
  }
  // Text typed with Ctrl (and not AltGr) is a shortcut, not a character.
  const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
  const bool shortcut = mods == Qt::ControlModifier || mods == (Qt::ControlModifier | Qt::ShiftModifier);
  const QString text = event->text();
  bool typed = !text.isEmpty() && !shortcut && !isReadOnly();
  for (char32_t ch : CodePoints(text)) typed = typed && IsTypable(ch);
  if (typed) {
    TypeCharacters(text);
    event->accept();
    return;
  }
  // Keys without a character (arrows, Home, Delete, select-all, copy, undo)
  // are the edit box's own; the validator keeps their results in bounds.
  QLineEdit::keyPressEvent(event);
}

void EntryBox::inputMethodEvent(QInputMethodEvent* event) {
  const QString commit = event->commitString();
  if (commit.isEmpty() || isReadOnly()) {
    QLineEdit::inputMethodEvent(event);
    return;
  }
  // A composed character arrives as a commit string: end the composition,
  // then type the committed characters like keystrokes, then show whatever
  // the input method is composing next.
  QInputMethodEvent endComposition;
  QLineEdit::inputMethodEvent(&endComposition);
  TypeCharacters(commit);
  if (!event->preeditString().isEmpty()) {
    QInputMethodEvent preedit(event->preeditString(), event->attributes());
    QLineEdit::inputMethodEvent(&preedit);
  }
  event->accept();
}

void EntryBox::contextMenuEvent(QContextMenuEvent* event) {
  QMenu* menu = createStandardContextMenu();
  menu->setAttribute(Qt::WA_DeleteOnClose);
  // The menu's Paste goes through the same fitting as Ctrl+V.
  if (QAction* paste = menu->findChild<QAction*>(QStringLiteral("edit-paste"))) {
    QObject::disconnect(paste, &QAction::triggered, nullptr, nullptr);
    connect(paste, &QAction::triggered, this,
            [this] { InsertFitting(QGuiApplication::clipboard()->text()); });
  }
  menu->popup(event->globalPos());
}

void SendCharacterKey(QWidget* target, char32_t ch) {
  int key = Qt::Key_unknown;
  QString text = QString::fromUcs4(&ch, 1);
  if (ch == U'\r' || ch == U'\n') {
    key = Qt::Key_Return;
    text = QStringLiteral("\r");
  } else if (ch == U'\b') {
    key = Qt::Key_Backspace;
  } else if (ch >= 0x20 && ch < 0x7F) {
    key = QChar(static_cast<char16_t>(ch)).toUpper().unicode();  // Qt's key codes of ASCII keys
  }
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
  QCoreApplication::sendEvent(target, &press);
  QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
  QCoreApplication::sendEvent(target, &release);
}

}  // namespace zivorna::app
