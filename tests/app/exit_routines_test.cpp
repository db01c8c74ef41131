#include <gtest/gtest.h>

#include <string>

#include "app/exit_routines.h"

namespace zivorna::app {
namespace {

TEST(ExitRoutines, EachRoutineRunsOnceInOrderOfRegistration) {
  std::string ran;
  ExitRoutines routines;
  routines.Register("release", [&] { ran += "R"; });
  routines.Register("other", [&] { ran += "O"; });
  routines.Register("release", [&] { ran += "X"; });  // already registered: kept once
  routines.RunAll();
  routines.RunAll();  // the list was emptied
  EXPECT_EQ(ran, "RO");
}

}  // namespace
}  // namespace zivorna::app
