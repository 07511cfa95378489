// A stand-in watching program for the start tests: it announces itself the
// way the real one does (its presence event), only when and if told to.
//
//   fake_watch <command line the library passes>
//
// VANTOR_FAKE_WATCH_MODE  "stall": announce once the event named
//                         "fake-watch-go" is set (by the test)
//                         "die":   end with exit code 3, announcing nothing
//                         "never": never announce; only wait to be killed
// Every wait ends after kLongestLifeMs, so a forgotten fake does not stay.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "common/kernel_object_names.h"
#include "platform/os/named_objects.h"
#include "platform/os/wait.h"

namespace {

using namespace vantor;

constexpr std::uint32_t kLongestLifeMs = 120000;

bool WaitForGo() {
  auto go = os::Event::CreateOrOpen("fake-watch-go", os::EventReset::Manual, false);
  return go && os::WaitForOne(*go, kLongestLifeMs).kind == os::WaitKind::Signalled;
}

// Lives on with the presence set, as a running watching program does.
int Announce() {
  auto presence = os::Event::CreateOrOpen(common::KernelObjectName(common::kWatchEventIndex),
                                          os::EventReset::Manual, false);
  if (!presence || !presence->Set()) return 4;
  auto never = os::Event::CreateUnnamed(os::EventReset::Manual, false);
  if (never) os::WaitForOne(*never, kLongestLifeMs);
  return 0;
}

}  // namespace

int main() {
  const char* value = std::getenv("VANTOR_FAKE_WATCH_MODE");
  const std::string_view mode = value == nullptr ? "" : value;
  if (mode == "die") return 3;
  if (mode == "stall") return WaitForGo() ? Announce() : 5;
  // "never" and anything else: alive, silent.
  auto never = os::Event::CreateUnnamed(os::EventReset::Manual, false);
  if (never) os::WaitForOne(*never, kLongestLifeMs);
  return 0;
}
