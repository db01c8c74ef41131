// Process-wide control over in-flight HTTP transfers, used at shutdown.
#pragma once

namespace zivorna::platform {

// Aborts every transfer in flight (within about 100 ms) and makes every later
// one fail at once. Used when the program exits so that no worker waits on
// the network.
void AbortAllTransfers();
// Whether AbortAllTransfers() has been called.
[[nodiscard]] bool TransfersAborted();
// Undoes AbortAllTransfers() (for tests that exercise it).
void ResetTransfersForTesting();

}  // namespace zivorna::platform
