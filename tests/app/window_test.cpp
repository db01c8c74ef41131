// The main window: layout, fonts, texts, the entry box's byte limit, the
// label, the picture box, the HTML view and the thread-safe controls.
#include <gtest/gtest.h>

#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QImage>
#include <QKeyEvent>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <fstream>
#include <thread>

#include "app/main_window.h"
#include "local_server.h"
#include "platform/gbk.h"

namespace zivorna::app {
namespace {

Text Gbk(const char* utf8) { return platform::Utf8ToGbk(utf8); }

ByteSet Encode(const QImage& image, const char* format) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, format);
  return ByteSet(bytes.begin(), bytes.end());
}

ByteSet SolidPicture(int width, int height, QColor colour, const char* format) {
  QImage image(width, height, QImage::Format_RGB32);
  image.fill(colour);
  return Encode(image, format);
}

void Type(QWidget* target, const QString& text) {
  for (uint ch : text.toUcs4()) SendCharacterKey(target, static_cast<char32_t>(ch));
}

void PressKey(QWidget* target, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QKeyEvent press(QEvent::KeyPress, key, modifiers);
  QCoreApplication::sendEvent(target, &press);
}

class WindowTest : public ::testing::Test {
 protected:
  MainWindow window;
};

TEST_F(WindowTest, ControlsSitAtTheirPlacesWithTheirNames) {
  struct Case {
    const char* name;
    const char* className;
    QRect geometry;
  };
  const Case cases[] = {
      {"超文本浏览框1", "zivorna::app::HtmlView", {24, 216, 504, 296}},
      {"按钮1", "QPushButton", {432, 64, 88, 80}},
      {"标签1", "zivorna::app::ResultLabel", {136, 14, 256, 186}},
      {"编辑框1", "zivorna::app::EntryBox", {22, 162, 106, 40}},
      {"图片框1", "zivorna::app::PictureBox", {19, 40, 104, 104}},
  };
  for (const Case& c : cases) {
    auto* widget = window.findChild<QWidget*>(QString::fromUtf8(c.name));
    ASSERT_NE(widget, nullptr) << c.name;
    EXPECT_STREQ(widget->metaObject()->className(), c.className) << c.name;
    EXPECT_EQ(widget->geometry(), c.geometry) << c.name;
  }
  // No two controls overlap.
  const auto children = window.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
  for (qsizetype i = 0; i < children.size(); ++i) {
    for (qsizetype j = i + 1; j < children.size(); ++j) {
      EXPECT_FALSE(children[i]->geometry().intersects(children[j]->geometry()))
          << children[i]->objectName().toStdString() << " / " << children[j]->objectName().toStdString();
    }
  }
}

TEST_F(WindowTest, FrameIsFixedCentredAndHasNoMaximiseButton) {
  window.ShowCentred();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  EXPECT_EQ(window.windowTitle(), QStringLiteral("Zivorna"));
  // The offscreen platform draws no frame, so the whole outer size is client.
  EXPECT_EQ(window.frameGeometry().size(), QSize(561, 565));
  EXPECT_EQ(window.minimumSize(), window.maximumSize());
  const Qt::WindowFlags flags = window.windowFlags();
  EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
  EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
  const QRect screen = window.screen()->geometry();
  EXPECT_EQ(window.frameGeometry().topLeft(),
            QPoint((screen.width() - 561) / 2, (screen.height() - 565) / 2));
}

TEST_F(WindowTest, FontsHaveTheirPixelHeightsInTheDefaultFace) {
  struct Case {
    QWidget* widget;
    int pixels;
  };
  const Case cases[] = {{window.Button(), 19}, {window.Label(), 16}, {window.Entry(), 19}};
  for (const Case& c : cases) {
    const QFont font = c.widget->font();
    EXPECT_EQ(font.pixelSize(), c.pixels) << c.widget->objectName().toStdString();
    EXPECT_EQ(font.weight(), QFont::Normal) << c.widget->objectName().toStdString();
    EXPECT_FALSE(font.italic() || font.underline() || font.strikeOut());
    EXPECT_EQ(font.family(), QApplication::font().family());
  }
}

TEST_F(WindowTest, InitialTextsAndColours) {
  EXPECT_EQ(window.Button()->text(), QStringLiteral("查 询"));
  EXPECT_EQ(window.Label()->GbkText(), Gbk("五笔字根查询\r\n\r\n五笔拆字查询\r\n\r\nZivorna"));
  EXPECT_EQ(window.Label()->text(), QStringLiteral("五笔字根查询\n\n五笔拆字查询\n\nZivorna"));
  EXPECT_EQ(window.Controls().LabelText(), window.Label()->GbkText());
  EXPECT_TRUE(window.Entry()->text().isEmpty());
  EXPECT_FALSE(window.Picture()->HasPicture());
  EXPECT_FALSE(window.Html()->ShownHtml().has_value());
  EXPECT_TRUE(window.Html()->toPlainText().isEmpty());

  const QColor face = window.palette().color(QPalette::Button);
  EXPECT_EQ(window.palette().color(QPalette::Window), face);
  EXPECT_EQ(window.Label()->palette().color(QPalette::Window), face);
  EXPECT_EQ(window.Label()->palette().color(QPalette::WindowText), QColor(Qt::black));
  EXPECT_EQ(window.Picture()->palette().color(QPalette::Window), face);
  EXPECT_EQ(window.Entry()->palette().color(QPalette::Base), QColor(Qt::white));
  EXPECT_EQ(window.Entry()->palette().color(QPalette::Text), QColor(Qt::black));
}

TEST_F(WindowTest, ButtonDoesNothing) {
  window.show();
  const Text label = window.Controls().LabelText();
  QTest::mouseClick(window.Button(), Qt::LeftButton);
  QCoreApplication::processEvents();
  EXPECT_EQ(window.Controls().LabelText(), label);
  EXPECT_TRUE(window.Entry()->text().isEmpty());
  EXPECT_FALSE(window.Picture()->HasPicture());
}

TEST_F(WindowTest, LabelKeepsItsBytesAndShowsPlainText) {
  struct Case {
    const char* name;
    Text gbk;
    QString shown;
  };
  const Case cases[] = {
      {"CRLF pairs", Gbk("甲\r\n\r\n乙"), QStringLiteral("甲\n\n乙")},
      {"lone CR and LF", "a\rb\nc", QStringLiteral("a\nb\nc")},
      {"markup stays text", "<b>x</b>&amp;", QStringLiteral("<b>x</b>&amp;")},
      {"bytes that are not GBK", "a\x81 b", QStringLiteral("a\uFFFD b")},
  };
  for (const Case& c : cases) {
    window.Controls().SetLabelText(c.gbk);
    EXPECT_EQ(window.Controls().LabelText(), c.gbk) << c.name;
    EXPECT_EQ(window.Label()->GbkText(), c.gbk) << c.name;
    EXPECT_EQ(window.Label()->text(), c.shown) << c.name;
  }
  EXPECT_EQ(window.Label()->textFormat(), Qt::PlainText);
  EXPECT_TRUE(window.Label()->wordWrap());
  EXPECT_EQ(window.Label()->alignment(), Qt::AlignLeft | Qt::AlignTop);

  // A text far longer than the label wraps inside it and is clipped: the
  // label does not grow over its neighbours.
  Text longText;
  for (int i = 0; i < 200; ++i) longText += Gbk("很长的一行字 ");
  window.Controls().SetLabelText(longText);
  window.show();
  QCoreApplication::processEvents();
  EXPECT_EQ(window.Label()->geometry(), QRect(136, 14, 256, 186));
}

TEST_F(WindowTest, PictureBoxShowsDecodablePicturesOnly) {
  struct Case {
    const char* name;
    ByteSet bytes;
    QSize size;  // 0 x 0: no picture
  };
  const std::string notFound = "<html><body>404 Not Found</body></html>";
  const Case cases[] = {
      {"jpeg", SolidPicture(30, 20, Qt::blue, "JPEG"), {30, 20}},
      {"empty", {}, {0, 0}},
      {"an error page", ByteSet(notFound.begin(), notFound.end()), {0, 0}},
      {"png", SolidPicture(7, 9, Qt::red, "PNG"), {7, 9}},
      {"random bytes", ByteSet{0xFF, 0xD8, 0x00, 0x13, 0x37}, {0, 0}},
  };
  for (const Case& c : cases) {
    // Start from a picture so that "no picture" is a change.
    window.Controls().SetPicture(SolidPicture(5, 5, Qt::green, "PNG"));
    window.Controls().SetPicture(c.bytes);
    EXPECT_EQ(window.Picture()->HasPicture(), !c.size.isEmpty()) << c.name;
    EXPECT_EQ(window.Picture()->PictureSize(), c.size) << c.name;
  }
}

TEST_F(WindowTest, PictureIsStretchedOverTheWholeBox) {
  window.show();
  window.Controls().SetPicture(SolidPicture(3, 5, Qt::red, "PNG"));
  const QImage shown = window.Picture()->grab().toImage();
  ASSERT_EQ(shown.size(), QSize(104, 104));
  for (QPoint p : {QPoint(0, 0), QPoint(103, 0), QPoint(0, 103), QPoint(103, 103), QPoint(52, 52)}) {
    EXPECT_EQ(shown.pixelColor(p), QColor(Qt::red)) << p.x() << "," << p.y();
  }
  window.Controls().SetPicture({});
  const QImage empty = window.Picture()->grab().toImage();
  EXPECT_EQ(empty.pixelColor(52, 52), window.palette().color(QPalette::Button));
}

TEST_F(WindowTest, HtmlViewShowsTheGbkResultFile) {
  QTemporaryDir dir;
  const std::string path = dir.filePath(QStringLiteral("ls.html")).toStdString();
  const Text page = Gbk("<p>五</p>的解释：<br>数目字");
  std::ofstream(path, std::ios::binary) << page;

  window.Controls().Navigate(path);
  EXPECT_EQ(window.Html()->ShownFile(), path);
  EXPECT_EQ(window.Html()->ShownHtml(), page);
  EXPECT_TRUE(window.Html()->toPlainText().contains(QStringLiteral("的解释：")));

  // Navigating to the same path again shows the file's new content.
  const Text next = Gbk("<p>啊</p>");
  std::ofstream(path, std::ios::binary | std::ios::trunc) << next;
  window.Controls().Navigate(path);
  EXPECT_EQ(window.Html()->ShownHtml(), next);

  // A page given directly replaces the file.
  window.Controls().ShowHtml(Gbk("<p>直接</p>"));
  EXPECT_FALSE(window.Html()->ShownFile().has_value());
  EXPECT_EQ(window.Html()->toPlainText().trimmed(), QStringLiteral("直接"));

  // A file that cannot be read leaves the view empty rather than stale.
  window.Controls().Navigate(dir.filePath(QStringLiteral("missing.html")).toStdString());
  EXPECT_FALSE(window.Html()->ShownHtml().has_value());
  EXPECT_TRUE(window.Html()->toPlainText().isEmpty());
}

TEST_F(WindowTest, HtmlViewLoadsNothingAPageRefersTo) {
  testing::LocalServer server([](const httplib::Request&, httplib::Response& res) {
    res.set_content("p{color:blue}", "text/css");
  });
  QTemporaryDir dir;
  const QString secret = dir.filePath(QStringLiteral("secret.txt"));
  std::ofstream(secret.toStdString()) << "secret";
  const Text page = "<link rel=stylesheet href=\"" + server.Base() + "/style.css\">" +
                    "<img src=\"" + server.Base() + "/picture.png\">" +
                    "<img src=\"file://" + secret.toStdString() + "\"><a href=\"" +
                    server.Base() + "/next\">next</a>";
  window.show();
  window.Controls().ShowHtml(page);
  QTest::qWait(200);
  EXPECT_TRUE(server.Paths().empty());
  for (const QUrl& url : {QUrl(QString::fromStdString(server.Base() + "/picture.png")),
                          QUrl::fromLocalFile(secret)}) {
    EXPECT_FALSE(window.Html()->loadResource(QTextDocument::ImageResource, url).isValid())
        << url.toString().toStdString();
    EXPECT_FALSE(window.Html()->loadResource(QTextDocument::HtmlResource, url).isValid())
        << url.toString().toStdString();
  }
  EXPECT_FALSE(window.Html()->openLinks());
  EXPECT_FALSE(window.Html()->openExternalLinks());
}

TEST_F(WindowTest, EntryBoxHoldsAtMostThreeBytesOfWholeCharacters) {
  struct Case {
    const char* typed;
    const char* expected;
  };
  // No filter installed: every byte passes, so only the box's own limit acts.
  const Case cases[] = {
      {"abcd", "abc"},
      {"五六", "五"},   // the second character would make four bytes
      {"a五", "a五"},   // exactly three bytes
      {"ab五c", "abc"},  // a character that does not fit is refused, later ones may fit
      {"😀𠀀五", "五"},  // no GBK form: refused
      {"五\b六", "六"},
      {"ab\b\bc", "c"},
  };
  for (const Case& c : cases) {
    window.Entry()->clear();
    Type(window.Entry(), QString::fromUtf8(c.typed));
    EXPECT_EQ(window.Entry()->text(), QString::fromUtf8(c.expected)) << c.typed;
    EXPECT_EQ(window.Controls().EntryText(), Gbk(c.expected)) << c.typed;
  }
}

TEST_F(WindowTest, TypingReplacesTheSelection) {
  Type(window.Entry(), QStringLiteral("a五"));
  window.Entry()->selectAll();
  Type(window.Entry(), QStringLiteral("六"));
  EXPECT_EQ(window.Entry()->text(), QStringLiteral("六"));
}

TEST_F(WindowTest, EditingKeysWorkWithinTheLimit) {
  Type(window.Entry(), QStringLiteral("abc"));
  PressKey(window.Entry(), Qt::Key_Left);
  PressKey(window.Entry(), Qt::Key_Delete);
  EXPECT_EQ(window.Entry()->text(), QStringLiteral("ab"));
  PressKey(window.Entry(), Qt::Key_A, Qt::ControlModifier);  // select all, types nothing
  EXPECT_EQ(window.Entry()->selectedText(), QStringLiteral("ab"));
  PressKey(window.Entry(), Qt::Key_Delete);
  EXPECT_TRUE(window.Entry()->text().isEmpty());
}

TEST_F(WindowTest, PasteInsertsTheWholeCharactersThatFit) {
  struct Case {
    const char* before;
    const char* clipboard;
    const char* expected;
  };
  const Case cases[] = {
      {"", "五六七", "五"},
      {"", "a五六", "a五"},
      {"a", "五六", "a五"},
      {"ab", "五c", "ab"},  // stops at the first character that does not fit
      {"", "😀五", "五"},  // characters without a GBK form are dropped
      {"", "a\nb\tc d", "abc"},  // control characters are dropped
  };
  for (const Case& c : cases) {
    window.Entry()->setText(QString::fromUtf8(c.before));
    QGuiApplication::clipboard()->setText(QString::fromUtf8(c.clipboard));
    PressKey(window.Entry(), Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(window.Entry()->text(), QString::fromUtf8(c.expected)) << c.clipboard;
  }
}

TEST_F(WindowTest, EditsOutsideTheKeyboardCannotOverfillTheBox) {
  // Drag and drop and similar paths insert directly; the box refuses an
  // insertion that would break its limit instead of cutting a character.
  window.Entry()->insert(QStringLiteral("五六"));
  EXPECT_TRUE(window.Entry()->text().isEmpty());
  window.Entry()->insert(QStringLiteral("五"));
  EXPECT_EQ(window.Entry()->text(), QStringLiteral("五"));
}

TEST_F(WindowTest, ControlsAreUsableFromAnotherThreadWithoutBlockingIt) {
  WindowBridge& controls = window.Controls();
  const ByteSet picture = SolidPicture(8, 6, Qt::blue, "PNG");
  // The window's thread processes no events while the other thread runs: a
  // call that waited for it would hang the join.
  std::thread writer([&] {
    for (int i = 0; i < 500; ++i) {
      controls.SetLabelText("label " + std::to_string(i));
      (void)controls.LabelText();
      (void)controls.EntryText();
    }
    controls.SetPicture(picture);
    controls.ShowHtml("<p>last</p>");
  });
  writer.join();
  EXPECT_EQ(controls.LabelText(), "label 499");
  EXPECT_NE(window.Label()->GbkText(), "label 499");  // not shown yet
  QCoreApplication::processEvents();
  EXPECT_EQ(window.Label()->GbkText(), "label 499");
  EXPECT_EQ(window.Picture()->PictureSize(), QSize(8, 6));
  EXPECT_EQ(window.Html()->ShownHtml(), Text("<p>last</p>"));
}

TEST_F(WindowTest, AnEarlierWriteFromAnotherThreadNeverOverwritesALaterOne) {
  WindowBridge& controls = window.Controls();
  std::thread([&] { controls.SetLabelText("from the lookup"); }).join();
  controls.SetLabelText("from the window's thread");  // shown at once
  EXPECT_EQ(window.Label()->GbkText(), "from the window's thread");
  QCoreApplication::processEvents();  // the lookup's queued update arrives late
  EXPECT_EQ(window.Label()->GbkText(), "from the window's thread");
  EXPECT_EQ(controls.LabelText(), "from the window's thread");
}

}  // namespace
}  // namespace zivorna::app
