// The lookup worker with fake fetches: lookups one after another, stopping,
// idle notification.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <random>
#include <stdexcept>
#include <thread>

#include "lookup/lookup_worker.h"
#include "pages.h"
#include "platform/transfers.h"
#include "recording_controls.h"
#include "temp_folder.h"

namespace zivorna {
namespace {

using namespace std::chrono_literals;
using testing::Bytes;
using testing::ControlEvent;
using testing::ExpectedLabel;
using testing::ExpectedPage;
using testing::PageWithFields;

// The six fields of the page served to the lookup numbered `serial`.
std::vector<std::string> FieldsOf(int serial) {
  const std::string n = std::to_string(serial);
  return {"p" + n, "r" + n, "s" + n, "c" + n, "d" + n, "explanation " + n};
}

class WorkerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitProgramState(state_);
    settings_.serverBase = "http://127.0.0.1:9";
    settings_.resultFolder = folder_.path();
  }
  void TearDown() override { platform::ResetTransfersForTesting(); }

  testing::TempFolder folder_;
  ProgramState state_;
  testing::RecordingControls controls_;
  LookupSettings settings_;
};

// Fetches that take a random short time and note whether two of them ever
// overlap.
struct SlowFakeServer {
  std::atomic<int> inFlight = 0;
  std::atomic<int> maxInFlight = 0;
  std::atomic<int> pages = 0;
  std::mutex randomLock;
  std::mt19937 random{7};

  void Pause() {
    int delay;
    {
      std::lock_guard guard(randomLock);
      delay = std::uniform_int_distribution<int>(0, 1500)(random);
    }
    std::this_thread::sleep_for(std::chrono::microseconds(delay));
  }
  ByteSet Serve(bool page) {
    const int now = ++inFlight;
    int seen = maxInFlight;
    while (now > seen && !maxInFlight.compare_exchange_weak(seen, now)) {
    }
    Pause();
    ByteSet reply = page ? Bytes(PageWithFields(FieldsOf(++pages))) : Bytes("JPEG");
    --inFlight;
    return reply;
  }
};

TEST_F(WorkerTest, ManyLookupsRunOneAfterAnotherAndTheLastOneWins) {
  SlowFakeServer server;
  settings_.fetchPicture = [&](const Text&) { return server.Serve(false); };
  settings_.fetchPage = [&](const Text&) { return server.Serve(true); };
  LookupWorker worker(state_, controls_, settings_);

  const std::vector<Text> entries = {"\xCE\xE5", "\xB0\xA1", "\xB0\xA2"};  // 五 啊 阿
  for (int i = 0; i < 200; ++i) {
    controls_.SetEntry(entries[i % entries.size()]);  // typing goes on meanwhile
    ASSERT_TRUE(worker.Start());
  }
  ASSERT_TRUE(worker.WaitIdle(60s));
  EXPECT_EQ(worker.FinishedCount(), 200u);
  EXPECT_EQ(server.maxInFlight, 1) << "two fetches overlapped";

  const Text last = entries[199 % entries.size()];
  std::vector<std::string> labels;
  for (const ControlEvent& event : controls_.Events()) {
    if (event.kind == ControlEvent::kLabel) labels.push_back(event.value);
  }
  ASSERT_EQ(labels.size(), 200u);
  EXPECT_EQ(labels.back(), ExpectedLabel(last, FieldsOf(200)));
  EXPECT_NE(labels.front().find("p1\r\n"), std::string::npos) << "results in queue order";
  const std::vector<std::string> lastFields = FieldsOf(200);
  EXPECT_EQ(testing::ReadFile(folder_.path() / "ls.html"), ExpectedPage(last, lastFields[5]));
  EXPECT_EQ(state_.FieldList, TextArray(lastFields.begin(), lastFields.end()));
}

// A fetch that waits on a server that never answers; it ends, like a real
// transfer, when the process's transfers are aborted.
ByteSet HangUntilAborted(std::atomic<bool>& entered) {
  entered = true;
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  while (!platform::TransfersAborted() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(5ms);
  }
  return {};
}

TEST_F(WorkerTest, StopEndsAHangingLookupPromptlyAndDropsTheQueue) {
  std::atomic<bool> entered = false;
  std::atomic<int> pageFetches = 0;
  settings_.fetchPicture = [&](const Text&) { return HangUntilAborted(entered); };
  settings_.fetchPage = [&](const Text&) {
    ++pageFetches;
    return Bytes(PageWithFields(FieldsOf(1)));
  };
  auto worker = std::make_unique<LookupWorker>(state_, controls_, settings_);
  for (int i = 0; i < 5; ++i) worker->Start();
  while (!entered) std::this_thread::sleep_for(1ms);

  const auto begun = std::chrono::steady_clock::now();
  worker->Stop();
  const auto took = std::chrono::steady_clock::now() - begun;
  EXPECT_LT(took, 5s) << "Stop waited for the network";
  EXPECT_FALSE(worker->Start()) << "a stopped worker takes no more lookups";
  worker.reset();  // a second Stop, from the destructor, does nothing

  EXPECT_EQ(pageFetches, 0) << "queued lookups were dropped";
  EXPECT_TRUE(controls_.Events().empty()) << "the stopped lookup showed its picture";
}

TEST_F(WorkerTest, StopWithoutARunningLookupLeavesOtherTransfersAlone) {
  LookupWorker worker(state_, controls_, settings_);
  worker.Stop();
  EXPECT_FALSE(platform::TransfersAborted());
}

TEST_F(WorkerTest, IdleIsReportedAfterTheLastQueuedLookup) {
  std::mutex gateLock;
  gateLock.lock();  // holds the first lookup until all three are queued
  settings_.fetchPicture = [&](const Text&) {
    std::lock_guard guard(gateLock);
    return ByteSet{};
  };
  settings_.fetchPage = [&](const Text&) { return ByteSet{}; };
  LookupWorker worker(state_, controls_, settings_);
  std::atomic<int> idleCalls = 0;
  std::atomic<std::uint64_t> finishedAtIdle = 0;
  worker.SetIdleHandler([&] {
    finishedAtIdle = worker.FinishedCount();
    ++idleCalls;
  });
  EXPECT_TRUE(worker.Idle());
  for (int i = 0; i < 3; ++i) worker.Start();
  EXPECT_FALSE(worker.Idle());
  EXPECT_FALSE(worker.WaitIdle(20ms));
  gateLock.unlock();
  ASSERT_TRUE(worker.WaitIdle(30s));
  worker.Stop();  // joins, so the handler has returned
  EXPECT_EQ(idleCalls, 1);
  EXPECT_EQ(finishedAtIdle, 3u);
}

TEST_F(WorkerTest, AFailingLookupDoesNotEndTheWorker) {
  std::atomic<int> calls = 0;
  settings_.fetchPicture = [](const Text&) { return ByteSet{}; };
  settings_.fetchPage = [&](const Text&) -> ByteSet {
    if (++calls == 1) throw std::runtime_error("fetch failed unexpectedly");
    return Bytes(PageWithFields(FieldsOf(2)));
  };
  controls_.SetEntry("\xCE\xE5");
  LookupWorker worker(state_, controls_, settings_);
  worker.Start();
  worker.Start();
  ASSERT_TRUE(worker.WaitIdle(30s));
  EXPECT_EQ(controls_.LabelText(), ExpectedLabel("\xCE\xE5", FieldsOf(2)));
}

}  // namespace
}  // namespace zivorna
