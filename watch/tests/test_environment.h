// Every test process works in a namespace of its own, so that tests run in
// parallel without meeting, and shows its windows on no screen.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <string>

namespace vantor::watch::testing {

inline const bool kTestEnvironmentReady = [] {
  const std::string name = "watch-test-" + std::to_string(::getpid());
  ::setenv("VANTOR_NAMESPACE", name.c_str(), 1);
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  return true;
}();

}  // namespace vantor::watch::testing
