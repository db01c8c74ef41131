// Start-up, the wiring of window, handlers, lookups and lookup server, and
// the orderly end of the program.
#pragma once

#include <atomic>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include <QObject>
#include <QString>
#include <QStringList>

#include "app/handlers.h"
#include "app/main_window.h"
#include "lookup/lookup_worker.h"
#include "lookup/program_state.h"

namespace zivorna::server {
class LookupServer;
}

namespace zivorna::app {

struct ProgramOptions {
  // Lookup server base address; none: start the bundled server in-process.
  std::optional<std::string> serverUrl;
  // Probe page; none: the bundled server's "/" page, or with --server the
  // default public probe page.
  std::optional<std::string> probeUrl;
  // Text (UTF-8) typed into the entry box after start-up.
  std::optional<std::string> typeText;
  bool exitWhenIdle = false;
  bool printState = false;
  std::optional<std::string> screenshotPath;
  // Folder of the result file; empty: the default per-user folder.
  std::filesystem::path resultFolder;
  // The bundled server's data file; empty: the one built with the program.
  std::string serverDataPath;
};

// The outcome of reading the command line.
struct ParsedCommandLine {
  ProgramOptions options;
  // Set when the program should end at once with this code (help, version,
  // or an error already printed).
  std::optional<int> exitCode;
};

// Reads the command line (arguments()[0] is the program). Prints help,
// version or errors itself.
[[nodiscard]] ParsedCommandLine ParseCommandLine(const QStringList& arguments);
// The text --help prints.
[[nodiscard]] QString HelpText();

// The GBK status line shown when the bundled lookup server cannot start.
[[nodiscard]] const Text& StatusNoLookupServer();

// One run of the program: the window, its handlers, the lookup worker and,
// unless another lookup server is named, the bundled server.
class Program : public QObject {
  Q_OBJECT

 public:
  // `state` must outlive the program.
  Program(ProgramState& state, ProgramOptions options);
  ~Program() override;

  // Creates the window, runs its created handler and shows it; then types
  // the --type text and watches for idle. False (with `*error`) when the
  // window cannot be made.
  bool Open(QString* error);

  // Ends every activity that could still touch the window or the state:
  // stops the worker (aborting transfers in flight) and brings the widgets
  // up to date. Idempotent.
  void StopLookups();
  // Stops the bundled server. Idempotent.
  void StopServer();

  // The state --print-state prints: one JSON object, texts in UTF-8.
  [[nodiscard]] QByteArray StateJson() const;

  [[nodiscard]] MainWindow* Window() const { return window_.get(); }
  [[nodiscard]] LookupWorker* Worker() const { return worker_.get(); }
  [[nodiscard]] const Text& LookupBaseUrl() const { return baseUrl_; }

 signals:
  // Start-up, the typed text and every lookup it started have finished.
  void Idle();

 private:
  void TypeNext();
  void QueueLookup();
  void CheckIdle();

  ProgramState& state_;
  ProgramOptions options_;
  std::unique_ptr<server::LookupServer> server_;
  Text baseUrl_;
  bool serverFailed_ = false;
  std::unique_ptr<MainWindow> window_;
  std::unique_ptr<LookupWorker> worker_;
  std::unique_ptr<WindowHandlers> handlers_;
  std::u32string toType_;
  std::size_t typed_ = 0;
  bool typingDone_ = false;
  int queuedStarts_ = 0;
  bool idleReported_ = false;
};

// The program: reads the command line, creates the program state, opens the
// window, runs the event loop until the window closes, then stops the
// lookups, releases the state and returns 0; -1 when the window cannot be
// made. Call from main with its arguments.
int StartProgram(int argc, char** argv);

}  // namespace zivorna::app
