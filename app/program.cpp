#include "app/program.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QCommandLineParser>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QPixmap>
#include <QSocketNotifier>
#include <QTimer>
#include <QWindow>

#include "app/exit_routines.h"
#include "platform/gbk.h"
#include "server/lookup_server.h"
#include "web/http_get.h"
#include "web/probe.h"

#ifndef ZIVORNA_VERSION
#define ZIVORNA_VERSION "0"
#endif

namespace zivorna::app {

const Text& StatusNoLookupServer() {
  // "\r\n\r\n查询服务器未能启动" (the lookup server could not start)
  static const Text text =
      "\r\n\r\n\xB2\xE9\xD1\xAF\xB7\xFE\xCE\xF1\xC6\xF7\xCE\xB4\xC4\xDC\xC6\xF4\xB6\xAF";
  return text;
}

namespace {

struct CommandLineOptions {
  QCommandLineOption server{QStringLiteral("server"),
                            QStringLiteral("Use the lookup server at URL (scheme and host, e.g. "
                                           "http://127.0.0.1:8786) instead of starting the "
                                           "bundled one."),
                            QStringLiteral("URL")};
  QCommandLineOption probe{QStringLiteral("probe"),
                           QStringLiteral("Probe the network with the page at URL. Default: the "
                                          "bundled server's \"/\" page; with --server, the "
                                          "public probe page."),
                           QStringLiteral("URL")};
  QCommandLineOption type{QStringLiteral("type"),
                          QStringLiteral("After start-up, type TEXT into the entry box one "
                                         "character at a time, as if from the keyboard."),
                          QStringLiteral("TEXT")};
  QCommandLineOption exitWhenIdle{QStringLiteral("exit-when-idle"),
                                  QStringLiteral("Quit once start-up, the typed text and every "
                                                 "lookup it started have finished.")};
  QCommandLineOption printState{QStringLiteral("print-state"),
                                QStringLiteral("At exit, print the window's state as one JSON "
                                               "object on standard output.")};
  QCommandLineOption screenshot{QStringLiteral("screenshot"),
                                QStringLiteral("When idle, save a PNG picture of the window "
                                               "to FILE."),
                                QStringLiteral("FILE")};
};

void SetUpParser(QCommandLineParser& parser, const CommandLineOptions& o) {
  parser.setApplicationDescription(QStringLiteral(
      "Zivorna: look up how a Chinese character is typed with the Wubi input method.\n"
      "Type one character into the entry box to see its pinyin, Wubi radicals, stroke\n"
      "order, Wubi 86 and 98 codes, a picture and an explanation."));
  parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
  parser.addHelpOption();
  parser.addVersionOption();
  parser.addOptions({o.server, o.probe, o.type, o.exitWhenIdle, o.printState, o.screenshot});
}

bool IsHttpUrl(const QString& url) {
  return url.startsWith(QStringLiteral("http://"), Qt::CaseInsensitive) ||
         url.startsWith(QStringLiteral("https://"), Qt::CaseInsensitive);
}

// Whether a window system can be reached at all; without one Qt would end
// the process with its own fatal error instead of letting us report it.
bool HasWindowSystem(int argc, char** argv) {
  for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return true;
  }
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-platform") == 0) return true;
  }
  return false;
}

bool AsksForInformation(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    for (const char* flag : {"-h", "--help", "-help", "-?", "--help-all", "-v", "--version"}) {
      if (std::strcmp(argv[i], flag) == 0) return true;
    }
  }
  return false;
}

// Closing the window on SIGINT and SIGTERM, so that a terminal's Ctrl+C or
// a service manager ends the program through its normal path. The handler
// only writes a byte to a socket that the event loop watches.
int g_signalSockets[2] = {-1, -1};

void OnQuitSignal(int /*signal*/) {
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = ::write(g_signalSockets[0], &byte, 1);
}

void CloseOnQuitSignals(QWidget* window) {
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalSockets) != 0) return;
  auto* notifier = new QSocketNotifier(g_signalSockets[1], QSocketNotifier::Read, window);
  QObject::connect(notifier, &QSocketNotifier::activated, window, [window] {
    char byte = 0;
    [[maybe_unused]] const ssize_t read = ::read(g_signalSockets[1], &byte, 1);
    window->close();
  });
  struct sigaction action {};
  action.sa_handler = OnQuitSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

}  // namespace

QString HelpText() {
  QCommandLineParser parser;
  CommandLineOptions options;
  SetUpParser(parser, options);
  return parser.helpText();
}

ParsedCommandLine ParseCommandLine(const QStringList& arguments) {
  ParsedCommandLine result;
  QCommandLineParser parser;
  CommandLineOptions o;
  SetUpParser(parser, o);
  const auto fail = [&result](const QString& message) {
    std::fprintf(stderr, "zivorna: %s\nTry 'zivorna --help'.\n", qUtf8Printable(message));
    result.exitCode = 1;
    return result;
  };
  if (!parser.parse(arguments)) return fail(parser.errorText());
  if (parser.isSet(QStringLiteral("help"))) {
    std::fputs(qUtf8Printable(parser.helpText()), stdout);
    result.exitCode = 0;
    return result;
  }
  if (parser.isSet(QStringLiteral("version"))) {
    std::printf("zivorna %s\n", ZIVORNA_VERSION);
    result.exitCode = 0;
    return result;
  }
  if (!parser.positionalArguments().isEmpty()) {
    return fail(QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()));
  }
  ProgramOptions& options = result.options;
  if (parser.isSet(o.server)) {
    QString url = parser.value(o.server);
    if (!IsHttpUrl(url)) return fail(QStringLiteral("--server needs an http:// or https:// URL"));
    while (url.endsWith(QLatin1Char('/'))) url.chop(1);
    options.serverUrl = url.toStdString();
  }
  if (parser.isSet(o.probe)) {
    const QString url = parser.value(o.probe);
    if (!IsHttpUrl(url)) return fail(QStringLiteral("--probe needs an http:// or https:// URL"));
    options.probeUrl = url.toStdString();
  }
  if (parser.isSet(o.type)) options.typeText = parser.value(o.type).toStdString();
  if (parser.isSet(o.screenshot)) {
    const QString file = parser.value(o.screenshot);
    if (file.isEmpty()) return fail(QStringLiteral("--screenshot needs a file name"));
    options.screenshotPath = file.toStdString();
  }
  options.exitWhenIdle = parser.isSet(o.exitWhenIdle);
  options.printState = parser.isSet(o.printState);
  return result;
}

Program::Program(ProgramState& state, ProgramOptions options)
    : state_(state), options_(std::move(options)) {
  if (options_.serverUrl) {
    baseUrl_ = *options_.serverUrl;
  } else {
    std::string error;
    server::ServerOptions serverOptions;
    serverOptions.dataPath = options_.serverDataPath;
    server_ = server::LookupServer::Start(serverOptions, &error);
    if (server_) {
      baseUrl_ = server_->BaseUrl();
    } else {
      serverFailed_ = true;
      std::fprintf(stderr, "zivorna: the bundled lookup server could not start: %s\n",
                   error.c_str());
    }
  }
  if (options_.probeUrl) {
    SetProbeUrl(*options_.probeUrl);
  } else if (server_) {
    SetProbeUrl(baseUrl_ + "/");
  }
}

Program::~Program() {
  StopLookups();
  StopServer();
}

bool Program::Open(QString* error) {
  window_ = std::make_unique<MainWindow>();
  // Creates the native window now (it is shown later), so that a window
  // system that refuses it is noticed before anything else runs.
  (void)window_->winId();
  if (window_->windowHandle() == nullptr || window_->windowHandle()->handle() == nullptr) {
    if (error != nullptr) *error = QStringLiteral("The main window could not be created.");
    window_.reset();
    return false;
  }
  WindowBridge& controls = window_->Controls();

  if (!serverFailed_) {
    worker_ = std::make_unique<LookupWorker>(
        state_, controls, LookupSettings{baseUrl_, options_.resultFolder, {}, {}});
    // Runs on the worker's thread: only posts to this object's thread.
    worker_->SetIdleHandler([this] {
      QMetaObject::invokeMethod(this, &Program::CheckIdle, Qt::QueuedConnection);
    });
  }

  HandlerServices services;
  if (serverFailed_ && !options_.probeUrl) {
    // Nothing to look up, and no probe page of our own: report the network
    // as unreachable rather than reach out to the public probe page.
    services.probe = [] { return false; };
  } else {
    services.probe = [] { return ProbeNetwork(); };
  }
  services.fetchPicture = [](const Text& url) { return HttpGetBytes(url); };
  services.startLookup = [this] { QueueLookup(); };
  services.lookupBaseUrl = baseUrl_;
  handlers_ = std::make_unique<WindowHandlers>(controls, std::move(services));
  window_->Entry()->SetCharFilter([this](int code) { return handlers_->OnEntryCharInput(code); });

  handlers_->OnMainWindowCreated();
  if (serverFailed_) controls.SetLabelText(ConcatText(controls.LabelText(), StatusNoLookupServer()));

  window_->ShowCentred();
  window_->activateWindow();
  window_->Entry()->setFocus();

  if (options_.typeText) {
    const QList<uint> ucs4 = QString::fromStdString(*options_.typeText).toUcs4();
    for (uint c : ucs4) toType_.push_back(static_cast<char32_t>(c));
  }
  QTimer::singleShot(0, this, &Program::TypeNext);
  return true;
}

void Program::TypeNext() {
  if (!window_) return;
  if (typed_ >= toType_.size()) {
    typingDone_ = true;
    CheckIdle();
    return;
  }
  SendCharacterKey(window_->Entry(), toType_[typed_++]);
  QTimer::singleShot(0, this, &Program::TypeNext);
}

void Program::QueueLookup() {
  if (!worker_) return;
  // The filter runs before its character reaches the entry box; the lookup
  // is queued once the key has been handled, so that it reads the entry box
  // with the new character in it.
  ++queuedStarts_;
  QMetaObject::invokeMethod(
      this,
      [this] {
        --queuedStarts_;
        if (worker_) worker_->Start();
        CheckIdle();
      },
      Qt::QueuedConnection);
}

void Program::CheckIdle() {
  if (idleReported_ || !window_ || !typingDone_ || queuedStarts_ > 0) return;
  if (worker_ && !worker_->Idle()) return;
  idleReported_ = true;
  window_->Controls().ApplyPending();
  if (options_.screenshotPath) {
    const QString path = QString::fromStdString(*options_.screenshotPath);
    if (!window_->grab().save(path, "PNG")) {
      std::fprintf(stderr, "zivorna: could not save the screenshot to %s\n", qUtf8Printable(path));
    }
  }
  emit Idle();
  if (options_.exitWhenIdle) window_->close();
}

void Program::StopLookups() {
  if (worker_) worker_->Stop();
  if (window_) window_->Controls().ApplyPending();
}

void Program::StopServer() {
  if (server_) server_->Stop();
}

QByteArray Program::StateJson() const {
  QJsonObject state;
  if (window_) {
    const QString title = window_->windowTitle();
    state.insert(QStringLiteral("title"), title);
    state.insert(QStringLiteral("entry"), window_->Entry()->text());
    state.insert(QStringLiteral("label"),
                 QString::fromStdString(platform::GbkToUtf8(window_->Controls().LabelText())));
    if (window_->Picture()->HasPicture()) {
      const QSize size = window_->Picture()->PictureSize();
      state.insert(QStringLiteral("picture"),
                   QJsonObject{{QStringLiteral("width"), size.width()},
                               {QStringLiteral("height"), size.height()}});
    } else {
      state.insert(QStringLiteral("picture"), QJsonValue::Null);
    }
    const HtmlView* html = window_->Html();
    state.insert(QStringLiteral("html_file"),
                 html->ShownFile() ? QJsonValue(QString::fromStdString(*html->ShownFile()))
                                   : QJsonValue(QJsonValue::Null));
    state.insert(QStringLiteral("html"),
                 html->ShownHtml()
                     ? QJsonValue(QString::fromStdString(platform::GbkToUtf8(*html->ShownHtml())))
                     : QJsonValue(QJsonValue::Null));
  }
  return QJsonDocument(state).toJson(QJsonDocument::Compact);
}

int StartProgram(int argc, char** argv) {
  if (!HasWindowSystem(argc, argv)) {
    if (AsksForInformation(argc, argv)) {
      qputenv("QT_QPA_PLATFORM", "offscreen");  // help and version need no display
    } else {
      std::fputs("zivorna: cannot open the window: no display (DISPLAY is not set).\n", stderr);
      return -1;
    }
  }
  QApplication::setApplicationName(QStringLiteral("zivorna"));
  QApplication::setApplicationVersion(QStringLiteral(ZIVORNA_VERSION));
  QApplication app(argc, argv);
  const ParsedCommandLine parsed = ParseCommandLine(QApplication::arguments());
  if (parsed.exitCode) return *parsed.exitCode;

  ProgramState state;
  InitProgramState(state);
  ExitRoutines exitRoutines;
  exitRoutines.Register("ReleaseProgramState", [&state] { ReleaseProgramState(state); });

  int exitCode = 0;
  Program program(state, parsed.options);
  QString error;
  if (program.Open(&error)) {
    CloseOnQuitSignals(program.Window());
    QApplication::exec();
  } else {
    QMessageBox::critical(nullptr, QStringLiteral("Zivorna"), error);
    exitCode = -1;
  }
  // No lookup may touch the state once it is released: stop them first.
  program.StopLookups();
  exitRoutines.RunAll();
  if (exitCode == 0 && parsed.options.printState) {
    const QByteArray json = program.StateJson();
    std::fwrite(json.constData(), 1, static_cast<std::size_t>(json.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
  }
  program.StopServer();
  return exitCode;
}

}  // namespace zivorna::app
