// End-to-end figures of the program, offscreen, against the bundled lookup
// server on loopback:
//  * keystroke to label updated: one typed character (a single lookup) until
//    the label shows its fields, beside the three HTTP round trips a lookup
//    makes (probe, picture, page) timed alone in the same run;
//  * start-up to window shown (server started, probe, sample picture);
//  * resident memory after 100 lookups.
//
//   QT_QPA_PLATFORM=offscreen build/<dir>/bench/app/bench_app
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "app/program.h"
#include "lookup/lookup.h"
#include "platform/gbk.h"
#include "web/http_get.h"
#include "web/probe.h"

namespace zivorna::app {
namespace {

// GB2312 characters whose trail byte lies below 0xB0: typing one runs one
// probe and starts one lookup.
std::vector<Text> SingleLookupCharacters(std::size_t count) {
  std::vector<Text> out;
  for (int lead = 0xB0; lead <= 0xF7 && out.size() < count; ++lead) {
    for (int trail = 0xA1; trail <= 0xAF && out.size() < count; ++trail) {
      out.push_back(Text{static_cast<char>(lead), static_cast<char>(trail)});
    }
  }
  return out;
}

double Percentile(std::vector<double> samples, double p) {
  std::sort(samples.begin(), samples.end());
  const auto index = static_cast<std::size_t>(p * static_cast<double>(samples.size() - 1) + 0.5);
  return samples[index];
}

double ResidentMegabytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
  }
  return 0;
}

// The program with its bundled server, its window shown, the result file in
// a temporary folder.
struct RunningProgram {
  QTemporaryDir folder;
  ProgramState state;
  std::unique_ptr<Program> program;

  RunningProgram() {
    InitProgramState(state);
    ProgramOptions options;
    options.resultFolder = folder.path().toStdString();
    program = std::make_unique<Program>(state, options);
  }
  ~RunningProgram() {
    program->StopLookups();
    ReleaseProgramState(state);
    program->StopServer();
  }
  bool Open() { return program->Open(nullptr); }
  [[nodiscard]] MainWindow& Window() const { return *program->Window(); }

  // Types `character` into the emptied entry box; milliseconds until the
  // label shows the lookup's result. Waits for the worker to be idle after.
  double TypeAndWait(const Text& character) {
    MainWindow& window = Window();
    window.Entry()->clear();
    const Text sentinel = "-";
    window.Controls().SetLabelText(sentinel);
    const QString typed = QString::fromStdU16String(platform::GbkToUtf16(character));
    QElapsedTimer timer;
    timer.start();
    SendCharacterKey(window.Entry(), typed.toUcs4().at(0));
    while (window.Label()->GbkText() == sentinel && timer.elapsed() < 10000) {
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    const double ms = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    while (!program->Worker()->Idle()) program->Worker()->WaitIdle(std::chrono::milliseconds(50));
    QCoreApplication::processEvents();
    return ms;
  }
};

void BM_KeystrokeToLabel(benchmark::State& state) {
  RunningProgram run;
  if (!run.Open() || run.program->Worker() == nullptr) {
    state.SkipWithError("the program could not start with its bundled server");
    return;
  }
  const Text base = run.program->LookupBaseUrl();
  const std::vector<Text> characters = SingleLookupCharacters(200);
  // One untimed pass so that both measurements find the server's pictures
  // drawn and cached.
  for (const Text& c : characters) {
    (void)HttpGetBytes(base + "/wubis/" + c + ".jpg");
  }

  std::vector<double> keystroke;
  std::vector<double> roundTrips;
  std::vector<double> probe;
  std::vector<double> pictureFetch;
  std::vector<double> pageFetch;
  for (auto _ : state) {
    for (const Text& c : characters) {
      QElapsedTimer timer;
      timer.start();
      const bool up = ProbeNetwork();
      const qint64 probed = timer.nsecsElapsed();
      const ByteSet picture = HttpGetBytes(base + "/wubis/" + c + ".jpg");
      const qint64 pictured = timer.nsecsElapsed();
      const ByteSet page = FetchPageOverHttp(base + "/wubi/" + c + ".htm");
      const qint64 paged = timer.nsecsElapsed();
      roundTrips.push_back(static_cast<double>(paged) / 1e6);
      probe.push_back(static_cast<double>(probed) / 1e6);
      pictureFetch.push_back(static_cast<double>(pictured - probed) / 1e6);
      pageFetch.push_back(static_cast<double>(paged - pictured) / 1e6);
      benchmark::DoNotOptimize(up);
      benchmark::DoNotOptimize(picture.size() + page.size());

      keystroke.push_back(run.TypeAndWait(c));
    }
  }
  state.counters["lookups"] = static_cast<double>(keystroke.size());
  state.counters["keystroke_median_ms"] = Percentile(keystroke, 0.5);
  state.counters["keystroke_p99_ms"] = Percentile(keystroke, 0.99);
  state.counters["http_median_ms"] = Percentile(roundTrips, 0.5);
  state.counters["http_p99_ms"] = Percentile(roundTrips, 0.99);
  state.counters["probe_median_ms"] = Percentile(probe, 0.5);
  state.counters["picture_median_ms"] = Percentile(pictureFetch, 0.5);
  state.counters["page_median_ms"] = Percentile(pageFetch, 0.5);
  state.counters["median_ratio"] = Percentile(keystroke, 0.5) / Percentile(roundTrips, 0.5);
}
BENCHMARK(BM_KeystrokeToLabel)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_StartUpToWindowShown(benchmark::State& state) {
  std::vector<double> samples;
  for (auto _ : state) {
    QElapsedTimer timer;
    timer.start();
    RunningProgram run;
    const bool opened = run.Open();
    samples.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
    if (!opened) state.SkipWithError("the window could not be opened");
    QCoreApplication::processEvents();
  }
  state.counters["startup_median_ms"] = Percentile(samples, 0.5);
}
BENCHMARK(BM_StartUpToWindowShown)->Iterations(10)->Unit(benchmark::kMillisecond);

void BM_ResidentMemoryAfter100Lookups(benchmark::State& state) {
  for (auto _ : state) {
    RunningProgram run;
    if (!run.Open() || run.program->Worker() == nullptr) {
      state.SkipWithError("the program could not start with its bundled server");
      return;
    }
    const double before = ResidentMegabytes();
    const std::vector<Text> characters = SingleLookupCharacters(100);
    for (const Text& c : characters) run.TypeAndWait(c);
    state.counters["rss_after_start_mb"] = before;
    state.counters["rss_after_100_lookups_mb"] = ResidentMegabytes();
    // The same hundred characters again: growth here would be a leak rather
    // than caches filling (fonts, the server's pictures).
    for (const Text& c : characters) run.TypeAndWait(c);
    state.counters["rss_after_200_lookups_mb"] = ResidentMegabytes();
    state.counters["lookups_finished"] = static_cast<double>(run.program->Worker()->FinishedCount());
  }
}
BENCHMARK(BM_ResidentMemoryAfter100Lookups)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace zivorna::app

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
