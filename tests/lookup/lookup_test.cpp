// Showing a lookup's result, the result file, and one lookup with recording
// fetches.
#include "lookup/lookup.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <optional>
#include <thread>

#include "lookup/fields.h"
#include "lookup/result_file.h"
#include "pages.h"
#include "recording_controls.h"
#include "temp_folder.h"

namespace zivorna {
namespace {

using testing::Bytes;
using testing::ControlEvent;
using testing::ExpectedLabel;
using testing::ExpectedPage;
using testing::PageWithFields;
using testing::ReadFile;

const std::string kWu = "\xCE\xE5";  // 五
const std::vector<std::string> kSix = {"wu3",  "GGHG", "\xBA\xE1\xA1\xA2\xCA\xFA",
                                       "gghg", "gghg", "<b>five</b>\r\nline two"};

class ShowResultTest : public ::testing::Test {
 protected:
  void SetUp() override { InitProgramState(state_); }
  void Show(const std::string& body) {
    ShowLookupResult(state_, controls_, folder_.path(), Bytes(body));
  }
  std::filesystem::path ResultPath() const { return folder_.path() / "ls.html"; }

  testing::TempFolder folder_;
  ProgramState state_;
  testing::RecordingControls controls_;
};

TEST_F(ShowResultTest, SixFieldsSetTheLabelWriteTheFileAndNavigateToIt) {
  controls_.SetEntry(kWu);
  Show(PageWithFields(kSix));

  const std::vector<ControlEvent> expected = {
      {ControlEvent::kLabel, ExpectedLabel(kWu, kSix)},
      {ControlEvent::kNavigate, ResultPath().string()},
  };
  EXPECT_EQ(controls_.Events(), expected);
  EXPECT_EQ(ReadFile(ResultPath()), ExpectedPage(kWu, kSix[5]));
  EXPECT_EQ(state_.PageText, PageWithFields(kSix));
  EXPECT_EQ(state_.FieldList, TextArray(kSix.begin(), kSix.end()));
  ASSERT_EQ(state_.MatchList.size(), 6u);
  EXPECT_EQ(SearchResultText(state_.MatchList[1], state_.PageText), "\xA3\xBA</span>GGHG<bR>");
  EXPECT_EQ(std::filesystem::directory_iterator(folder_.path())->path(), ResultPath())
      << "no temporary file is left behind";
}

TEST_F(ShowResultTest, EntryTextIsReadAnewForEachUse) {
  // The entry box changes while the result is built: each of the three label
  // parts and the page show the text as it was when that part was built.
  controls_.ScriptEntryReads({"A", "B", "C", "D"});
  Show(PageWithFields(kSix));
  ASSERT_FALSE(controls_.Events().empty());
  EXPECT_EQ(controls_.Events()[0].value, ExpectedLabel("A", "B", "C", kSix));
  EXPECT_EQ(testing::ReadFile(ResultPath()), ExpectedPage("D", kSix[5]));
}

TEST_F(ShowResultTest, OtherFieldCountsChangeNothingVisible) {
  struct Case {
    const char* name;
    std::string body;
    std::size_t fields;
  };
  const std::vector<Case> cases = {
      {"empty body (failed fetch)", "", 0},
      {"five fields", PageWithFields({"a", "b", "c", "d", "e"}), 5},
      {"seven fields", PageWithFields({"a", "b", "c", "d", "e", "f", "g"}), 7},
      {"only lower-case <br>", "\xA3\xBA</span>a<br>\xA3\xBA</span>b<br>", 0},
      {"UTF-8 page", "<span>\xEF\xBC\x9A</span>wu3<bR>", 0},
  };
  controls_.SetEntry(kWu);
  testing::WriteFile(ResultPath(), "earlier result");
  for (const Case& c : cases) {
    Show(c.body);
    EXPECT_TRUE(controls_.Events().empty()) << "case: " << c.name;
    EXPECT_EQ(state_.FieldList.size(), c.fields) << "case: " << c.name;
    EXPECT_EQ(state_.MatchList.size(), c.fields) << "case: " << c.name;
    EXPECT_EQ(state_.PageText, c.body) << "case: " << c.name;
    EXPECT_EQ(ReadFile(ResultPath()), "earlier result") << "case: " << c.name;
  }
}

TEST_F(ShowResultTest, ALaterLookupReplacesTheStateOfTheEarlierOne) {
  Show(PageWithFields({"a", "b", "c", "d", "e", "f", "g"}));
  Show("");
  EXPECT_TRUE(state_.PageText.empty());
  EXPECT_TRUE(state_.MatchList.empty());
  EXPECT_TRUE(state_.FieldList.empty());
}

TEST_F(ShowResultTest, UnwritableResultFileShowsThisLookupsPageInstead) {
  // Root may write anywhere, so the folders are made unusable by their shape.
  struct Case {
    const char* name;
    std::function<std::filesystem::path(const std::filesystem::path&)> make;
  };
  const std::vector<Case> cases = {
      {"folder is a file",
       [](const std::filesystem::path& base) {
         testing::WriteFile(base / "file", "x");
         return base / "file";
       }},
      {"parent is a file",
       [](const std::filesystem::path& base) {
         testing::WriteFile(base / "file2", "x");
         return base / "file2" / "cache";
       }},
      {"ls.html is a folder holding a stale result",
       [](const std::filesystem::path& base) {
         std::filesystem::create_directories(base / "d" / "ls.html");
         testing::WriteFile(base / "d" / "ls.html" / "index.html", "stale");
         return base / "d";
       }},
  };
  for (const Case& c : cases) {
    testing::RecordingControls controls;
    controls.SetEntry(kWu);
    const std::filesystem::path folder = c.make(folder_.path());
    ShowLookupResult(state_, controls, folder, Bytes(PageWithFields(kSix)));
    const std::vector<ControlEvent> expected = {
        {ControlEvent::kLabel, ExpectedLabel(kWu, kSix)},
        {ControlEvent::kShowHtml, ExpectedPage(kWu, kSix[5])},
    };
    EXPECT_EQ(controls.Events(), expected) << "case: " << c.name;
  }
  // No temporary file was left in the folder that exists.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder_.path() / "d"), {}), 1);
}

TEST_F(ShowResultTest, ReleasedStateIsEmptyAndLeftAlone) {
  controls_.SetEntry(kWu);
  Show(PageWithFields(kSix));
  ReleaseProgramState(state_);
  EXPECT_TRUE(state_.PageText.empty());
  EXPECT_TRUE(state_.MatchList.empty());
  EXPECT_TRUE(state_.FieldList.empty());
  EXPECT_TRUE(state_.FieldPattern.empty());
  ReleaseProgramState(state_);  // a second release does nothing

  Show(PageWithFields(kSix));
  EXPECT_EQ(controls_.Events().size(), 2u) << "a lookup after release shows nothing";
  EXPECT_TRUE(state_.FieldList.empty());
}

TEST(ResultFile, ReadersSeeTheOldOrTheNewContentNeverAPart) {
  testing::TempFolder folder;
  const ByteSet first(1 << 20, 'a');
  const ByteSet second(1 << 20, 'b');
  ASSERT_TRUE(WriteResultFile(folder.path(), first));
  std::atomic<bool> done = false;
  std::atomic<int> torn = 0;
  std::thread reader([&] {
    while (!done) {
      const std::string content = ReadFile(folder.path() / "ls.html");
      if (content != std::string(first.begin(), first.end()) &&
          content != std::string(second.begin(), second.end())) {
        ++torn;
      }
    }
  });
  for (int i = 0; i < 40; ++i) ASSERT_TRUE(WriteResultFile(folder.path(), i % 2 ? first : second));
  done = true;
  reader.join();
  EXPECT_EQ(torn, 0);
}

TEST(ResultFile, CreatesAMissingPrivateFolder) {
  testing::TempFolder folder;
  const std::filesystem::path nested = folder.path() / "cache" / "zivorna";
  const auto written = WriteResultFile(nested, Bytes("page"));
  ASSERT_TRUE(written);
  EXPECT_EQ(*written, nested / "ls.html");
  EXPECT_EQ(ReadFile(*written), "page");
  EXPECT_EQ(std::filesystem::status(nested).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_all);
}

TEST(ResultFile, RefusesAFolderOwnedBySomeoneElse) {
  // Another user could swap the file between writing and showing (a folder
  // made in a shared temporary folder ahead of us, for instance).
  testing::TempFolder folder;
  const std::filesystem::path theirs = folder.path() / "zivorna-theirs";
  std::filesystem::create_directory(theirs);
  if (::chown(theirs.c_str(), 65534, 65534) != 0) GTEST_SKIP() << "needs root to give a folder away";
  EXPECT_FALSE(WriteResultFile(theirs, Bytes("page")));
  EXPECT_TRUE(std::filesystem::is_empty(theirs));
}

TEST(ResultFile, DefaultFolderIsThePerUserCache) {
  struct Case {
    const char* name;
    std::optional<std::string> xdg;
    std::optional<std::string> home;
    std::string folder;
  };
  const std::string temp = std::filesystem::temp_directory_path().string();
  const std::vector<Case> cases = {
      {"XDG cache home", "/x/cache", "/home/u", "/x/cache/zivorna"},
      {"relative XDG value is ignored", "rel/cache", "/home/u", "/home/u/.cache/zivorna"},
      {"empty XDG value is ignored", "", "/home/u", "/home/u/.cache/zivorna"},
      {"home only", std::nullopt, "/home/u", "/home/u/.cache/zivorna"},
      {"neither", std::nullopt, std::nullopt,
       (std::filesystem::path(temp) / ("zivorna-" + std::to_string(::geteuid()))).string()},
  };
  auto saved = [](const char* name) -> std::optional<std::string> {
    const char* value = std::getenv(name);
    return value ? std::optional<std::string>(value) : std::nullopt;
  };
  auto put = [](const char* name, const std::optional<std::string>& value) {
    if (value) {
      ::setenv(name, value->c_str(), 1);
    } else {
      ::unsetenv(name);
    }
  };
  const auto xdg = saved("XDG_CACHE_HOME");
  const auto home = saved("HOME");
  for (const Case& c : cases) {
    put("XDG_CACHE_HOME", c.xdg);
    put("HOME", c.home);
    EXPECT_EQ(DefaultResultFolder().string(), c.folder) << "case: " << c.name;
  }
  put("XDG_CACHE_HOME", xdg);
  put("HOME", home);
}

// --- One lookup with recording fetches ---

struct RecordingFetch {
  std::vector<Text> urls;
  ByteSet reply;
  FetchFunction Function() {
    return [this](const Text& url) {
      urls.push_back(url);
      return reply;
    };
  }
};

class LookupCharacterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitProgramState(state_);
    settings_.serverBase = "http://127.0.0.1:9";
    settings_.resultFolder = folder_.path();
    picture_.reply = Bytes("JPEG bytes");
    page_.reply = Bytes(PageWithFields(kSix));
    settings_.fetchPicture = picture_.Function();
    settings_.fetchPage = page_.Function();
  }

  testing::TempFolder folder_;
  ProgramState state_;
  testing::RecordingControls controls_;
  LookupSettings settings_;
  RecordingFetch picture_;
  RecordingFetch page_;
};

TEST_F(LookupCharacterTest, FetchesPictureAndPageOfTheEntryAndShowsThem) {
  controls_.SetEntry(kWu);
  LookupCharacter(state_, controls_, settings_);
  EXPECT_EQ(picture_.urls, std::vector<Text>{"http://127.0.0.1:9/wubis/" + kWu + ".jpg"});
  EXPECT_EQ(page_.urls, std::vector<Text>{"http://127.0.0.1:9/wubi/" + kWu + ".htm"});
  const std::vector<ControlEvent> expected = {
      {ControlEvent::kPicture, "JPEG bytes"},
      {ControlEvent::kLabel, ExpectedLabel(kWu, kSix)},
      {ControlEvent::kNavigate, (folder_.path() / "ls.html").string()},
  };
  EXPECT_EQ(controls_.Events(), expected);
}

TEST_F(LookupCharacterTest, RequestAddresses) {
  struct Case {
    const char* name;
    Text base;
    std::deque<Text> entryReads;
    Text pictureUrl;
    Text pageUrl;
  };
  const std::vector<Case> cases = {
      {"empty entry box", "http://h", {""}, "http://h/wubis/.jpg", "http://h/wubi/.htm"},
      {"entry read again for the page",
       "http://h",
       {"\xB0\xA1", kWu},
       "http://h/wubis/\xB0\xA1.jpg",
       "http://h/wubi/" + kWu + ".htm"},
      {"final slash of the base",
       "http://h:8/",
       {kWu},
       "http://h:8/wubis/" + kWu + ".jpg",
       "http://h:8/wubi/" + kWu + ".htm"},
  };
  for (const Case& c : cases) {
    picture_.urls.clear();
    page_.urls.clear();
    settings_.serverBase = c.base;
    controls_.ScriptEntryReads(c.entryReads);
    LookupCharacter(state_, controls_, settings_);
    EXPECT_EQ(picture_.urls, std::vector<Text>{c.pictureUrl}) << "case: " << c.name;
    EXPECT_EQ(page_.urls, std::vector<Text>{c.pageUrl}) << "case: " << c.name;
  }
}

TEST_F(LookupCharacterTest, FailedFetchesLeaveLabelAndViewAlone) {
  picture_.reply = {};
  page_.reply = {};
  controls_.SetEntry(kWu);
  LookupCharacter(state_, controls_, settings_);
  const std::vector<ControlEvent> expected = {{ControlEvent::kPicture, ""}};
  EXPECT_EQ(controls_.Events(), expected);
  EXPECT_TRUE(state_.FieldList.empty());
  EXPECT_FALSE(std::filesystem::exists(folder_.path() / "ls.html"));
}

TEST_F(LookupCharacterTest, StopDuringAFetchEndsTheLookupWithoutShowingAnything) {
  std::stop_source stop;
  settings_.fetchPicture = [&](const Text&) {
    stop.request_stop();  // the program ends while the picture is on its way
    return Bytes("JPEG bytes");
  };
  LookupCharacter(state_, controls_, settings_, stop.get_token());
  EXPECT_TRUE(controls_.Events().empty());
  EXPECT_TRUE(page_.urls.empty());
}

}  // namespace
}  // namespace zivorna
