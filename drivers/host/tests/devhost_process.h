// The devhost program started by a test in a namespace of its own, with its
// diagnostics read back; its control endpoint is reached with ControlClient.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "drivers/host/tests/child_process.h"
#include "drivers/host/tests/control_client.h"

extern char** environ;

namespace vantor::host::testing {

// The devhost program in the namespace `nameSpace`, with `arguments`.
class DevhostProcess : public ChildProcess {
 public:
  // `launcher`, when given, starts the program in its place with the
  // program's path and arguments as its own.
  bool Start(const std::string& nameSpace, const std::vector<std::string>& arguments,
             const char* launcher = nullptr) {
    std::vector<std::string> environment{"VANTOR_NAMESPACE=" + nameSpace};
    for (char** entry = environ; *entry != nullptr; ++entry) {
      if (std::strncmp(*entry, "VANTOR_NAMESPACE=", 17) != 0) environment.emplace_back(*entry);
    }
    std::vector<std::string> argv{DEVHOST_PROGRAM};
    if (launcher != nullptr) argv.insert(argv.begin(), launcher);
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<char*> argPointers;
    for (auto& argument : argv) argPointers.push_back(argument.data());
    argPointers.push_back(nullptr);
    std::vector<char*> environmentPointers;
    for (auto& entry : environment) environmentPointers.push_back(entry.data());
    environmentPointers.push_back(nullptr);
    return Spawn(launcher != nullptr ? launcher : DEVHOST_PROGRAM, argPointers.data(),
                 environmentPointers.data());
  }
};

}  // namespace vantor::host::testing
