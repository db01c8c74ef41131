// The window's handlers with fake probe, picture fetch and lookup start:
// what each typed byte does, and what typing whole characters into the
// window does through them.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>
#include <QInputMethodEvent>
#include <QSignalSpy>

#include <deque>
#include <string>
#include <vector>

#include "app/handlers.h"
#include "app/main_window.h"
#include "platform/gbk.h"

namespace zivorna::app {
namespace {

Text Gbk(const char* utf8) { return platform::Utf8ToGbk(utf8); }

// Records every call the handlers make to the outside world.
struct FakeWorld {
  bool networkUp = true;
  ByteSet samplePicture;
  int probes = 0;
  int lookups = 0;
  std::vector<Text> pictureUrls;
  // Runs inside each probe.
  std::function<void()> onProbe;

  HandlerServices Services() {
    HandlerServices services;
    services.probe = [this] {
      ++probes;
      if (onProbe) onProbe();
      return networkUp;
    };
    services.fetchPicture = [this](const Text& url) {
      pictureUrls.push_back(url);
      return samplePicture;
    };
    services.startLookup = [this] { ++lookups; };
    services.lookupBaseUrl = "http://lookup.test:81";
    return services;
  }
};

ByteSet SmallPicture() {
  QImage image(1, 1, QImage::Format_RGB32);
  image.fill(Qt::black);
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return ByteSet(bytes.begin(), bytes.end());
}

TEST(MainWindowCreated, ProbeDecidesStatusAndSamplePicture) {
  struct Case {
    const char* name;
    bool networkUp;
    ByteSet sample;
    Text status;
    bool picture;
    int fetches;
  };
  const Case cases[] = {
      {"network up", true, SmallPicture(), Gbk("\r\n\r\n网络连接成功！"), true, 1},
      {"network up, sample missing", true, {}, Gbk("\r\n\r\n网络连接成功！"), false, 1},
      {"network down", false, SmallPicture(), Gbk("\r\n\r\n网络连接失败！"), false, 0},
  };
  for (const Case& c : cases) {
    MainWindow window;
    FakeWorld world;
    world.networkUp = c.networkUp;
    world.samplePicture = c.sample;
    WindowHandlers handlers(window.Controls(), world.Services());
    handlers.OnMainWindowCreated();
    EXPECT_EQ(window.Controls().LabelText(), InitialLabelText() + c.status) << c.name;
    EXPECT_EQ(window.Picture()->HasPicture(), c.picture) << c.name;
    EXPECT_EQ(world.probes, 1) << c.name;
    ASSERT_EQ(world.pictureUrls.size(), static_cast<std::size_t>(c.fetches)) << c.name;
    if (c.fetches == 1) {
      EXPECT_EQ(world.pictureUrls[0], "http://lookup.test:81/wubis/\xCE\xE5.jpg") << c.name;
    }
    EXPECT_EQ(world.lookups, 0) << c.name;
  }
}

TEST(EntryCharInput, EachCodeIsPassedDiscardedOrProbed) {
  struct Case {
    int code;
    bool networkUp;
    std::optional<int> verdict;
    int probes;
    int lookups;
    int statusLines;
  };
  const Case cases[] = {
      {13, true, 13, 0, 0, 0},            // Enter passes unchanged
      {8, true, 8, 0, 0, 0},              // Backspace passes unchanged
      {'a', true, 0, 0, 0, 0},            // ASCII is discarded without a probe
      {'0', false, 0, 0, 0, 0},
      {0x80, true, 0, 0, 0, 0},           // 128..175 likewise
      {0xA1, true, 0, 0, 0, 0},
      {0xAF, true, 0, 0, 0, 0},
      {0xB0, true, std::nullopt, 1, 1, 0},  // the first Chinese lead byte
      {0xFE, true, std::nullopt, 1, 1, 0},
      {0xB0, false, std::nullopt, 1, 0, 1},  // probe fails: status line, byte still passes
  };
  for (const Case& c : cases) {
    MainWindow window;
    FakeWorld world;
    world.networkUp = c.networkUp;
    WindowHandlers handlers(window.Controls(), world.Services());
    EXPECT_EQ(handlers.OnEntryCharInput(c.code), c.verdict) << "code " << c.code;
    EXPECT_EQ(world.probes, c.probes) << "code " << c.code;
    EXPECT_EQ(world.lookups, c.lookups) << "code " << c.code;
    Text expectedLabel = InitialLabelText();
    for (int i = 0; i < c.statusLines; ++i) expectedLabel += Gbk("\r\n\r\n请检查网络连接");
    EXPECT_EQ(window.Controls().LabelText(), expectedLabel) << "code " << c.code;
  }
}

// The window with its handlers, typed into through key events.
class TypingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    handlers = std::make_unique<WindowHandlers>(window.Controls(), world.Services());
    window.Entry()->SetCharFilter([this](int code) { return handlers->OnEntryCharInput(code); });
  }
  void Type(const char* utf8) {
    for (uint ch : QString::fromUtf8(utf8).toUcs4()) {
      SendCharacterKey(window.Entry(), static_cast<char32_t>(ch));
    }
  }
  Text StatusLines(int count) const {
    Text text = InitialLabelText();
    for (int i = 0; i < count; ++i) text += Gbk("\r\n\r\n请检查网络连接");
    return text;
  }

  MainWindow window;
  FakeWorld world;
  std::unique_ptr<WindowHandlers> handlers;
};

TEST_F(TypingTest, CharactersReachTheFilterAsGbkBytes) {
  struct Case {
    const char* typed;
    const char* entry;
    int probes;  // equals the lookups started, the network being up
  };
  const Case cases[] = {
      {"a1 Z", "", 0},   // ASCII: discarded, no probe
      {"五", "五", 2},   // CE E5: both bytes of 176 or more
      {"啊", "啊", 1},   // B0 A1: the trail byte is below 176 but the character goes in whole
      {"阿", "阿", 1},   // B0 A2
      {"，", "", 0},     // A3 AC: lead byte below 176, discarded whole
      {"丂", "", 0},     // 81 40
      {"😀", "", 0},     // no GBK form: refused before the filter
      {"五六", "五", 4},  // the second character does not fit, its bytes still ran
      {"五\b", "", 2},   // Backspace passes and starts no probe
      {"a啊b", "啊", 1},
  };
  for (const Case& c : cases) {
    window.Entry()->clear();
    world.probes = world.lookups = 0;
    Type(c.typed);
    EXPECT_EQ(window.Entry()->text(), QString::fromUtf8(c.entry)) << c.typed;
    EXPECT_EQ(window.Controls().EntryText(), Gbk(c.entry)) << c.typed;
    EXPECT_EQ(world.probes, c.probes) << c.typed;
    EXPECT_EQ(world.lookups, c.probes) << c.typed;
    EXPECT_EQ(window.Controls().LabelText(), InitialLabelText()) << c.typed;
  }
}

TEST_F(TypingTest, ProbeRunsBeforeTheCharacterReachesTheBox) {
  std::vector<QString> seen;
  world.onProbe = [&] { seen.push_back(window.Entry()->text()); };
  Type("五");
  EXPECT_EQ(seen, (std::vector<QString>{QString(), QString()}));
  EXPECT_EQ(window.Entry()->text(), QStringLiteral("五"));
}

TEST_F(TypingTest, EnterReachesTheBoxWithoutAProbe) {
  QSignalSpy returnPressed(window.Entry(), &QLineEdit::returnPressed);
  Type("\r");
  EXPECT_EQ(returnPressed.count(), 1);
  EXPECT_EQ(world.probes, 0);
}

TEST_F(TypingTest, UnreachableNetworkAddsOneStatusLinePerQualifyingByte) {
  world.networkUp = false;
  struct Case {
    const char* typed;
    const char* entry;
    int lines;
  };
  const Case cases[] = {
      {"五", "五", 2},  // the typed character still reaches the box
      {"啊", "啊", 1},
      {"ab", "", 0},
  };
  int total = 0;
  for (const Case& c : cases) {
    window.Entry()->clear();
    Type(c.typed);
    total += c.lines;
    EXPECT_EQ(window.Entry()->text(), QString::fromUtf8(c.entry)) << c.typed;
    EXPECT_EQ(window.Controls().LabelText(), StatusLines(total)) << c.typed;
  }
  EXPECT_EQ(world.lookups, 0);
}

TEST_F(TypingTest, InputMethodCommitsGoThroughTheFilter) {
  QInputMethodEvent compose(QStringLiteral("wu"), {});
  QCoreApplication::sendEvent(window.Entry(), &compose);
  QInputMethodEvent commit;
  commit.setCommitString(QStringLiteral("五"));
  QCoreApplication::sendEvent(window.Entry(), &commit);
  EXPECT_EQ(window.Entry()->text(), QStringLiteral("五"));
  EXPECT_EQ(world.probes, 2);
  EXPECT_EQ(world.lookups, 2);

  QInputMethodEvent commitAscii;
  commitAscii.setCommitString(QStringLiteral("x"));
  QCoreApplication::sendEvent(window.Entry(), &commitAscii);
  EXPECT_EQ(window.Entry()->text(), QStringLiteral("五"));
}

}  // namespace
}  // namespace zivorna::app
