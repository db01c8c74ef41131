// The program as a whole: the real binary, run offscreen against lookup and
// probe servers on loopback, typed into with --type, its final state read
// from --print-state.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QElapsedTimer>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>

#include "local_server.h"
#include "platform/gbk.h"
#include "tests/support/raw_test_server.h"

namespace zivorna::app {
namespace {

using namespace std::chrono_literals;
using zivorna::testing::ClosedPort;

Text Gbk(const char* utf8) { return platform::Utf8ToGbk(utf8); }

std::string JpegBytes(int width, int height) {
  QImage image(width, height, QImage::Format_RGB32);
  image.fill(Qt::darkGreen);
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "JPEG");
  return bytes.toStdString();
}

// A character page with its six fields, in GBK.
std::string CharacterPage() {
  return Gbk(
      "<html><body><div><span>拼音：</span>wǔ<bR><span>字根：</span>五一丨<bR>"
      "<span>笔顺：</span>横竖折横<bR><span>86版：</span>GGHG<bR>"
      "<span>98版：</span>GGHG<bR><span>解释：</span>数目字，四加一。<bR></div></body></html>");
}

const char* kExpectedLabel =
    "五的汉语拼音：wǔ\r\n\r\n五的五笔字根：五一丨\r\n\r\n五的笔画顺序：横竖折横\r\n\r\n"
    "86版五笔输入：GGHG\r\n\r\n98版五笔输入：GGHG";
const char* kExpectedHtml =
    "<style>\r\n  p{color:red;}\r\n</style><p>五</p>的解释：<br>数目字，四加一。";
#define INITIAL_LABEL "五笔字根查询\r\n\r\n五笔拆字查询\r\n\r\nZivorna"

std::string ProbePage(bool withMarker) {
  return withMarker ? "<html><input value=\"百度一下\"></html>" : "<html>sign in first</html>";
}

// The page of 五: the HTTP layer may send the character as GBK or as UTF-8.
bool IsPagePath(const std::string& path) {
  return path == "/wubi/" + Gbk("五") + ".htm" || path == "/wubi/五.htm";
}

// A lookup server that also serves the probe page at "/".
struct LookupSite {
  bool probeMarker = true;
  bool pictureFound = true;
  // Requests for pictures of this character (GBK) never get an answer.
  Text hangingPicture;
  std::unique_ptr<testing::LocalServer> server;

  void Start() {
    server = std::make_unique<testing::LocalServer>(
        [this](const httplib::Request& req, httplib::Response& res) {
          if (req.path == "/") {
            res.set_content(ProbePage(probeMarker), "text/html; charset=utf-8");
          } else if (req.path.rfind("/wubis/", 0) == 0 && req.path.size() > 11) {
            const Text character = req.path.substr(7, req.path.size() - 11);
            if (!hangingPicture.empty() && character == hangingPicture) {
              server->HoldUntilReleased();
              return;
            }
            if (pictureFound) {
              res.set_content(JpegBytes(50, 40), "image/jpeg");
            } else {
              res.status = 404;
              res.set_content("<html>404 Not Found</html>", "text/html");
            }
          } else if (IsPagePath(req.path)) {
            res.set_content(CharacterPage(), "text/html; charset=gbk");
          } else {
            res.status = 404;
            res.set_content("not found", "text/plain");
          }
        });
  }
  [[nodiscard]] std::string Base() const { return server->Base(); }
  [[nodiscard]] int CountPaths(const std::string& path) const {
    int n = 0;
    for (const auto& p : server->Paths()) n += p == path ? 1 : 0;
    return n;
  }
  [[nodiscard]] int CountPageRequests() const {
    int n = 0;
    for (const auto& p : server->Paths()) n += IsPagePath(p) ? 1 : 0;
    return n;
  }
};

struct ProgramRun {
  bool finished = false;
  int exitCode = -100;
  QByteArray out;
  QByteArray err;
  QJsonObject state;
  std::string Describe() const { return "stderr: " + err.toStdString() + "\nstdout: " + out.toStdString(); }
};

class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(home.isValid()); }

  QProcessEnvironment Environment() const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "http_proxy", "HTTP_PROXY", "all_proxy"}) {
      env.remove(QString::fromLatin1(name));
    }
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("HOME"), home.path());
    env.insert(QStringLiteral("XDG_CACHE_HOME"), home.filePath(QStringLiteral("cache")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.path());
    return env;
  }

  void Launch(QProcess& process, const QStringList& args, const QProcessEnvironment& env) const {
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(ZIVORNA_BINARY), args);
    ASSERT_TRUE(process.waitForStarted(10000));
  }

  static ProgramRun Collect(QProcess& process, int timeoutMs) {
    ProgramRun run;
    run.finished = process.waitForFinished(timeoutMs);
    if (!run.finished) {
      process.kill();
      process.waitForFinished(5000);
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -200;
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    const QList<QByteArray> lines = run.out.trimmed().split('\n');
    run.state = QJsonDocument::fromJson(lines.last()).object();
    return run;
  }

  ProgramRun RunToIdle(QStringList args, const QProcessEnvironment& env) {
    args << QStringLiteral("--print-state") << QStringLiteral("--exit-when-idle");
    QProcess process;
    Launch(process, args, env);
    return Collect(process, 30000);
  }
  ProgramRun RunToIdle(const QStringList& args) { return RunToIdle(args, Environment()); }

  [[nodiscard]] QString ResultFile() const {
    return home.filePath(QStringLiteral("cache/zivorna/ls.html"));
  }

  QTemporaryDir home;
};

QString Utf8(const char* text) { return QString::fromUtf8(text); }

TEST_F(ProgramTest, TypedCharacterShowsItsFieldsPictureAndExplanation) {
  LookupSite site;
  site.Start();
  const QString screenshot = home.filePath(QStringLiteral("window.png"));
  const ProgramRun run = RunToIdle({"--server", QString::fromStdString(site.Base()), "--probe",
                             QString::fromStdString(site.Base() + "/"), "--type", Utf8("五"),
                             "--screenshot", screenshot});
  ASSERT_TRUE(run.finished) << run.Describe();
  EXPECT_EQ(run.exitCode, 0) << run.Describe();
  EXPECT_EQ(run.state["title"].toString(), QStringLiteral("Zivorna"));
  EXPECT_EQ(run.state["entry"].toString(), Utf8("五"));
  EXPECT_EQ(run.state["label"].toString(), Utf8(kExpectedLabel)) << run.Describe();
  EXPECT_EQ(run.state["picture"].toObject()["width"].toInt(), 50) << run.Describe();
  EXPECT_EQ(run.state["picture"].toObject()["height"].toInt(), 40);
  EXPECT_EQ(run.state["html_file"].toString(), ResultFile());
  EXPECT_EQ(run.state["html"].toString(), Utf8(kExpectedHtml));

  // Start-up fetched the sample picture; each byte of 五 started a lookup.
  const std::string picture = "/wubis/" + Gbk("五") + ".jpg";
  EXPECT_EQ(site.CountPaths("/"), 3);
  EXPECT_EQ(site.CountPaths(picture), 3);
  EXPECT_EQ(site.CountPageRequests(), 2);

  // The picture is of the client area: the outer size less whatever frame
  // the platform reports, and never smaller than the controls need.
  const QImage shot(screenshot);
  EXPECT_LE(shot.width(), 561);
  EXPECT_LE(shot.height(), 565);
  EXPECT_GE(shot.width(), 528);
  EXPECT_GE(shot.height(), 512);
}

TEST_F(ProgramTest, LookupProblemsLeaveTheWindowAsItWas) {
  struct Case {
    const char* name;
    bool probeMarker;
    bool pictureFound;
    bool serverReachable;
    const char* label;
    bool picture;
    bool html;
  };
  const Case cases[] = {
      {"picture not found", true, false, true, kExpectedLabel, false, true},
      {"lookup server unreachable", true, true, false,
       INITIAL_LABEL "\r\n\r\n网络连接成功！", false, false},
      {"probe page without its marker", false, true, true,
       INITIAL_LABEL "\r\n\r\n网络连接失败！"
       "\r\n\r\n请检查网络连接\r\n\r\n请检查网络连接",
       false, false},
  };
  for (const Case& c : cases) {
    LookupSite site;
    site.probeMarker = c.probeMarker;
    site.pictureFound = c.pictureFound;
    site.Start();
    const std::string lookupBase =
        c.serverReachable ? site.Base() : "http://127.0.0.1:" + std::to_string(ClosedPort());
    const ProgramRun run = RunToIdle({"--server", QString::fromStdString(lookupBase), "--probe",
                               QString::fromStdString(site.Base() + "/"), "--type", Utf8("五")});
    ASSERT_TRUE(run.finished) << c.name << run.Describe();
    EXPECT_EQ(run.exitCode, 0) << c.name;
    EXPECT_EQ(run.state["entry"].toString(), Utf8("五")) << c.name;
    EXPECT_EQ(run.state["label"].toString(), Utf8(c.label)) << c.name << run.Describe();
    EXPECT_EQ(run.state["picture"].isObject(), c.picture) << c.name;
    EXPECT_EQ(run.state["html"].isString(), c.html) << c.name;
    EXPECT_EQ(run.state["html_file"].isString(), c.html) << c.name;
    if (!c.probeMarker) {
      // The failed probe started no lookup.
      EXPECT_EQ(site.server->Paths(), std::vector<std::string>({"/", "/", "/"})) << c.name;
    }
  }
}

TEST_F(ProgramTest, ClosingDuringALookupEndsPromptly) {
  LookupSite site;
  site.hangingPicture = Gbk("啊");
  site.Start();
  QProcess process;
  Launch(process,
         {"--server", QString::fromStdString(site.Base()), "--probe",
          QString::fromStdString(site.Base() + "/"), "--type", Utf8("啊"), "--print-state"},
         Environment());
  ASSERT_TRUE(site.server->WaitForPath("/wubis/" + Gbk("啊") + ".jpg", 20s));

  // SIGTERM closes the window, as the close button does.
  QElapsedTimer timer;
  timer.start();
  process.terminate();
  const ProgramRun run = Collect(process, 10000);
  const qint64 elapsed = timer.elapsed();
  site.server->Release();
  ASSERT_TRUE(run.finished) << run.Describe();
  EXPECT_EQ(run.exitCode, 0) << run.Describe();
  RecordProperty("shutdown_ms", static_cast<int>(elapsed));
  EXPECT_LT(elapsed, 3000) << "took " << elapsed << " ms to end";
  EXPECT_EQ(run.state["entry"].toString(), Utf8("啊"));
  EXPECT_EQ(run.state["label"].toString(), Utf8(INITIAL_LABEL "\r\n\r\n网络连接成功！"));
}

TEST_F(ProgramTest, BundledServerAnswersWhenNoServerIsNamed) {
  const ProgramRun run = RunToIdle({"--type", Utf8("五")});
  ASSERT_TRUE(run.finished) << run.Describe();
  // The bundled server's data is built with the program, so it must start.
  ASSERT_FALSE(run.err.contains("lookup server could not start")) << run.Describe();
  EXPECT_EQ(run.exitCode, 0) << run.Describe();
  const QString label = run.state["label"].toString();
  EXPECT_TRUE(label.startsWith(Utf8("五的汉语拼音："))) << label.toStdString();
  EXPECT_TRUE(label.contains(QStringLiteral("gghg"), Qt::CaseInsensitive)) << label.toStdString();
  EXPECT_EQ(label.count(QStringLiteral("\r\n\r\n")), 4) << label.toStdString();
  EXPECT_TRUE(run.state["picture"].isObject()) << run.Describe();
  EXPECT_TRUE(run.state["html"].toString().contains(Utf8("的解释：")));
}

TEST_F(ProgramTest, NoLookupAndNoTrafficWithoutALookupServer) {
  // A named lookup server that is down still gets a probe; here the probe
  // page answers but the bundled server is replaced by nothing at all.
  LookupSite site;
  site.Start();
  const ProgramRun run = RunToIdle({"--server", QString::fromStdString("http://127.0.0.1:" + std::to_string(ClosedPort())),
                             "--probe", QString::fromStdString(site.Base() + "/"), "--type", "ab"});
  ASSERT_TRUE(run.finished) << run.Describe();
  EXPECT_EQ(run.exitCode, 0);
  // ASCII typed: discarded without a probe; only the start-up probe ran.
  EXPECT_EQ(site.CountPaths("/"), 1);
  EXPECT_EQ(run.state["entry"].toString(), QString());
}

TEST_F(ProgramTest, StartUpProblemsAreReportedWithTheirExitCodes) {
  QProcessEnvironment noDisplay = Environment();
  noDisplay.remove(QStringLiteral("QT_QPA_PLATFORM"));
  struct Case {
    const char* name;
    QStringList args;
    QProcessEnvironment env;
    int exitCode;
    const char* message;
  };
  const Case cases[] = {
      {"no display", {}, noDisplay, 255, "no display"},
      {"server not http", {"--server", "ftp://127.0.0.1/"}, Environment(), 1, "--server"},
      {"unknown option", {"--frobnicate"}, Environment(), 1, "frobnicate"},
      {"stray argument", {"stray"}, Environment(), 1, "stray"},
  };
  for (const Case& c : cases) {
    QProcess process;
    Launch(process, c.args, c.env);
    const ProgramRun run = Collect(process, 20000);
    ASSERT_TRUE(run.finished) << c.name;
    EXPECT_EQ(run.exitCode, c.exitCode) << c.name << run.Describe();
    EXPECT_TRUE(run.err.contains(c.message)) << c.name << run.Describe();
  }
  // Help needs no display.
  QProcess help;
  Launch(help, {"--help"}, noDisplay);
  const ProgramRun run = Collect(help, 20000);
  EXPECT_EQ(run.exitCode, 0) << run.Describe();
  EXPECT_TRUE(run.out.contains("--exit-when-idle"));
}

}  // namespace
}  // namespace zivorna::app
