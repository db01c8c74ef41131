#include "lookup/lookup_worker.h"

#include <utility>

#include "platform/transfers.h"

namespace zivorna {

LookupWorker::LookupWorker(ProgramState& state, WindowControls& controls, LookupSettings settings)
    : state_(state),
      controls_(controls),
      settings_(std::move(settings)),
      thread_([this](std::stop_token stop) { Run(std::move(stop)); }) {}

LookupWorker::~LookupWorker() { Stop(); }

bool LookupWorker::Start() {
  {
    std::lock_guard guard(mutex_);
    if (stopping_) return false;
    ++pending_;
  }
  wake_.notify_one();
  return true;
}

void LookupWorker::Stop() {
  bool lookupRunning = false;
  {
    std::lock_guard guard(mutex_);
    if (stopping_ && !thread_.joinable()) return;
    stopping_ = true;
    pending_ = 0;
    lookupRunning = running_;
  }
  // The stop request comes first, so that a fetch ended by the abort below
  // finds its lookup already stopped and returns without showing anything.
  thread_.request_stop();
  // Once `stopping_` is set no new lookup starts, so without one running
  // there is no transfer of ours to end, and other transfers of the process
  // are left alone.
  if (lookupRunning) platform::AbortAllTransfers();
  if (thread_.joinable()) thread_.join();
  idle_.notify_all();
}

bool LookupWorker::Idle() const {
  std::lock_guard guard(mutex_);
  return pending_ == 0 && !running_;
}

bool LookupWorker::WaitIdle(std::chrono::milliseconds timeout) {
  std::unique_lock guard(mutex_);
  return idle_.wait_for(guard, timeout,
                        [this] { return stopping_ || (pending_ == 0 && !running_); }) &&
         pending_ == 0 && !running_;
}

void LookupWorker::SetIdleHandler(std::function<void()> handler) {
  std::lock_guard guard(mutex_);
  idleHandler_ = std::move(handler);
}

std::uint64_t LookupWorker::FinishedCount() const {
  std::lock_guard guard(mutex_);
  return finished_;
}

void LookupWorker::Run(std::stop_token stop) {
  std::unique_lock guard(mutex_);
  while (true) {
    wake_.wait(guard, stop, [this] { return pending_ > 0 || stopping_; });
    if (stopping_ || stop.stop_requested()) break;
    --pending_;
    running_ = true;
    guard.unlock();

    try {
      LookupCharacter(state_, controls_, settings_, stop);
    } catch (...) {
      // A lookup that fails in an unexpected way (out of memory, a throwing
      // fetch) ends without a result; the worker goes on with the next one.
    }

    guard.lock();
    running_ = false;
    if (!stop.stop_requested()) ++finished_;
    if (pending_ == 0 && !stopping_) {
      std::function<void()> handler = idleHandler_;
      idle_.notify_all();
      if (handler) {
        guard.unlock();
        handler();
        guard.lock();
      }
    }
  }
  running_ = false;
}

}  // namespace zivorna
