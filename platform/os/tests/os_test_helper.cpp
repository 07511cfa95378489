// Helper process for the multi-process tests: one small role per command.
// Each role reports that it is ready by setting the named event given to
// it, then does its part; roles that hold something wait to be killed.
//
//   hold-event <event> <ready>            create a presence event, set
//   hold-mutex <mutex> <ready>            own a mutex
//   hold-mapping-note <mapping> <file>    own a mapping, then write the file
//                                         (for a parent outside the namespace)
//   release-semaphore <sem> <n> <ready>   add n counts
//   add-take-semaphore <sem> <add> <take> <ready>  add counts, then take some
//   wait-all-pair <m1> <m2> <waiting> <acquired>  wait-all of m1 and m2
//   serve-loop <mapping> <ready>          run a loop, token in the mapping
//   set-events <low> <high>              set two existing events
//   probe-event <event>                   exit 0 when the event exists
//   census                                exit code = objects in the table
//   exit-with <code>                      end at once with that code
//   print-args <file> <args...>           write the arguments, one a line
//   stress <seconds> <id>                 contend on shared objects
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/os/message_loop.h"
#include "platform/os/named_objects.h"
#include "platform/os/tests/stress_roles.h"
#include "platform/os/timing.h"
#include "platform/os/wait.h"

namespace os = vantor::os;

namespace {

constexpr int kUsage = 64;
constexpr int kFailed = 65;
// A helper that is never killed ends by itself after this long, so that a
// failing test leaves nothing running.
constexpr std::uint32_t kOrphanLifetimeMs = 60'000;

bool SignalReady(const char* name) {
  auto ready = os::Event::CreateOrOpen(name, os::EventReset::Manual, false);
  return ready && ready->Set();
}

int HoldEvent(const char* name, const char* ready) {
  auto event = os::Event::CreateOrOpen(name, os::EventReset::Manual, true);
  if (!event || !SignalReady(ready)) return kFailed;
  os::Sleep(kOrphanLifetimeMs);
  return 0;
}

int HoldMutex(const char* name, const char* ready) {
  auto mutex = os::Mutex::CreateOrOpen(name, false);
  if (!mutex || !os::WaitForOne(*mutex, 10'000).acquired() || !SignalReady(ready)) return kFailed;
  os::Sleep(kOrphanLifetimeMs);
  return 0;
}

int HoldMappingNote(const char* name, const char* file) {
  auto mapping = os::Mapping::CreateOrOpen(name, 4096);
  if (!mapping) return kFailed;
  std::FILE* out = std::fopen(file, "w");
  if (out == nullptr) return kFailed;
  std::fclose(out);
  os::Sleep(kOrphanLifetimeMs);
  return 0;
}

int ReleaseSemaphore(const char* name, const char* count, const char* ready) {
  auto semaphore = os::Semaphore::Open(name);
  if (!semaphore || semaphore->Release(std::atoi(count)) != os::OsError::Ok ||
      !SignalReady(ready)) {
    return kFailed;
  }
  os::Sleep(kOrphanLifetimeMs);
  return 0;
}

int AddTakeSemaphore(const char* name, const char* add, const char* take, const char* ready) {
  auto semaphore = os::Semaphore::Open(name);
  if (!semaphore) return kFailed;
  const int added = std::atoi(add);
  if (added > 0 && semaphore->Release(added) != os::OsError::Ok) return kFailed;
  for (int taken = std::atoi(take); taken > 0; --taken) {
    if (os::WaitForOne(*semaphore, 0).kind != os::WaitKind::Signalled) return kFailed;
  }
  if (!SignalReady(ready)) return kFailed;
  os::Sleep(kOrphanLifetimeMs);
  return 0;
}

int WaitAllPair(const char* first, const char* second, const char* waiting,
                const char* acquired) {
  auto a = os::Mutex::Open(first);
  auto b = os::Mutex::Open(second);
  if (!a || !b || !SignalReady(waiting)) return kFailed;
  if (!os::WaitForAll({&*a, &*b}, 10'000).acquired() || !SignalReady(acquired)) return kFailed;
  os::Sleep(kOrphanLifetimeMs);
  return 0;
}

int ServeLoop(const char* mappingName, const char* ready) {
  auto mapping = os::Mapping::CreateOrOpen(mappingName, 4096);
  auto loop = os::MessageLoop::Create();
  if (!mapping || !loop) return kFailed;
  const os::EndpointToken token = loop->token();
  std::memcpy(mapping->data(), &token, sizeof token);
  if (!SignalReady(ready)) return kFailed;
  std::uint32_t handled = 0;
  const std::uint32_t code = loop->Run([&](const os::Command& command) {
    if (command.code == os::kExitCommand) {
      loop->Quit(100 + handled);
      return;
    }
    ++handled;
    // Echo what arrived, so the sender sees it ran on this loop.
    std::memcpy(mapping->data() + 4, &command.code, 4);
    std::memcpy(mapping->data() + 8, &command.parameter, 4);
  });
  return static_cast<int>(code);
}

int SetEvents(const char* low, const char* high) {
  auto lowEvent = os::Event::Open(low);
  auto highEvent = os::Event::Open(high);
  if (!lowEvent || !highEvent) return kFailed;
  return highEvent->Set() && lowEvent->Set() ? 0 : kFailed;
}

int ProbeEvent(const char* name) { return os::Event::Open(name) ? 0 : 1; }

int Census() {
  const os::NamespaceCensus census = os::TakeNamespaceCensus();
  return census.processes == 1 ? static_cast<int>(census.objects) : kFailed;
}

int PrintArgs(const char* file, int count, char** arguments) {
  std::FILE* out = std::fopen(file, "w");
  if (out == nullptr) return kFailed;
  for (int i = 0; i < count; ++i) std::fprintf(out, "%s\n", arguments[i]);
  std::fclose(out);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return kUsage;
  const std::string_view role = argv[1];
  if (role == "hold-event" && argc == 4) return HoldEvent(argv[2], argv[3]);
  if (role == "hold-mutex" && argc == 4) return HoldMutex(argv[2], argv[3]);
  if (role == "hold-mapping-note" && argc == 4) return HoldMappingNote(argv[2], argv[3]);
  if (role == "release-semaphore" && argc == 5) return ReleaseSemaphore(argv[2], argv[3], argv[4]);
  if (role == "add-take-semaphore" && argc == 6) {
    return AddTakeSemaphore(argv[2], argv[3], argv[4], argv[5]);
  }
  if (role == "wait-all-pair" && argc == 6) return WaitAllPair(argv[2], argv[3], argv[4], argv[5]);
  if (role == "serve-loop" && argc == 4) return ServeLoop(argv[2], argv[3]);
  if (role == "set-events" && argc == 4) return SetEvents(argv[2], argv[3]);
  if (role == "probe-event" && argc == 3) return ProbeEvent(argv[2]);
  if (role == "census" && argc == 2) return Census();
  if (role == "exit-with" && argc == 3) return std::atoi(argv[2]);
  if (role == "print-args" && argc >= 3) return PrintArgs(argv[2], argc - 3, argv + 3);
  if (role == "stress" && argc == 4) {
    return vantor::os::testing::RunStressProcess(std::atoi(argv[2]), std::atoi(argv[3]));
  }
  return kUsage;
}
