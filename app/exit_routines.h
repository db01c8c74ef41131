// Routines run once at exit, on the thread that runs them, in the order they
// were registered.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace zivorna::app {

class ExitRoutines {
 public:
  // Registers `routine` under `name`; a name that is already registered is
  // kept once, at its first place.
  void Register(std::string name, std::function<void()> routine) {
    for (const auto& entry : routines_) {
      if (entry.first == name) return;
    }
    routines_.emplace_back(std::move(name), std::move(routine));
  }

  // Runs every registered routine once, in order of registration, and then
  // empties the list, so a second call runs nothing.
  void RunAll() {
    auto routines = std::exchange(routines_, {});
    for (auto& entry : routines) entry.second();
  }

 private:
  std::vector<std::pair<std::string, std::function<void()>>> routines_;
};

}  // namespace zivorna::app
