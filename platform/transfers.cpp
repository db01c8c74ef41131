#include "platform/transfers.h"

#include <atomic>
#include <mutex>
#include <unordered_set>

#include "platform/curl_transfer.h"

namespace zivorna::platform {
namespace {

std::atomic<bool> g_aborted{false};

// The multi handles whose transfers are running. A handle is registered for
// as long as a transfer may wait on it, and it is only woken under the lock,
// so a wake-up never reaches a handle that has been returned or destroyed.
struct InFlight {
  std::mutex mutex;
  std::unordered_set<CURLM*> multis;
};

InFlight& Registry() {
  // Never destroyed: worker threads may still finish transfers while the
  // process exits.
  static InFlight* registry = new InFlight;
  return *registry;
}

}  // namespace

void AbortAllTransfers() {
  InFlight& registry = Registry();
  std::lock_guard lock(registry.mutex);
  g_aborted.store(true);
  // Each transfer checks the flag before every wait; the wake-up ends a wait
  // already begun, so a transfer notices within one poll round.
  for (CURLM* multi : registry.multis) curl_multi_wakeup(multi);
}

bool TransfersAborted() { return g_aborted.load(); }

void ResetTransfersForTesting() { g_aborted.store(false); }

namespace internal {

void RegisterInFlight(CURLM* multi) {
  InFlight& registry = Registry();
  std::lock_guard lock(registry.mutex);
  registry.multis.insert(multi);
}

void UnregisterInFlight(CURLM* multi) {
  InFlight& registry = Registry();
  std::lock_guard lock(registry.mutex);
  registry.multis.erase(multi);
}

}  // namespace internal
}  // namespace zivorna::platform
