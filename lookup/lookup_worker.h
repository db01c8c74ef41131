// The thread on which lookups run, one after another.
//
// Every qualifying keystroke queues one lookup (Start); the worker takes them
// in turn, so lookups never overlap and their results appear in the order
// they were queued. At exit the program stops the worker (Stop) before it
// releases the program state.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

#include "lookup/lookup.h"
#include "lookup/program_state.h"
#include "lookup/window_controls.h"

namespace zivorna {

class LookupWorker {
 public:
  // `state` and `controls` must outlive the worker (or its Stop()).
  LookupWorker(ProgramState& state, WindowControls& controls, LookupSettings settings);
  ~LookupWorker();  // Stop()
  LookupWorker(const LookupWorker&) = delete;
  LookupWorker& operator=(const LookupWorker&) = delete;

  // Queues one lookup of whatever the entry box holds when it runs. Returns
  // false, queuing nothing, once Stop() has begun.
  bool Start();

  // Drops the queued lookups, makes a running one end at once (in-flight
  // HTTP transfers of the process are aborted, see platform/transfers.h)
  // and joins the thread. A lookup that is stopped touches neither the window
  // nor the state after its fetch returns. Returns within about the abort
  // delay, also while a lookup waits on a server that never answers.
  // Idempotent; call it from one thread only (the UI thread at exit).
  void Stop();

  // True when no lookup is queued or running.
  [[nodiscard]] bool Idle() const;
  // Waits until Idle() or the worker is stopped; false when `timeout` passes
  // first.
  bool WaitIdle(std::chrono::milliseconds timeout);
  // `handler` runs on the worker thread each time the last queued lookup has
  // finished. It must not call Stop(); posting to another thread is fine.
  void SetIdleHandler(std::function<void()> handler);
  // Number of lookups that ran to their end (stopped ones not counted).
  [[nodiscard]] std::uint64_t FinishedCount() const;

 private:
  void Run(std::stop_token stop);

  ProgramState& state_;
  WindowControls& controls_;
  const LookupSettings settings_;

  mutable std::mutex mutex_;
  std::condition_variable_any wake_;  // work queued or stop requested
  std::condition_variable idle_;      // became idle or stopped
  std::uint64_t pending_ = 0;         // queued, not yet started
  bool running_ = false;              // a lookup is in progress
  bool stopping_ = false;
  std::uint64_t finished_ = 0;
  std::function<void()> idleHandler_;

  std::jthread thread_;  // last: started after every member above exists
};

}  // namespace zivorna
