#include "watch/watch_app.h"

#include <QApplication>
#include <QTimer>
#include <cstddef>
#include <span>

#include "platform/os/debug_output.h"
#include "watch/endpoint_bridge.h"
#include "watch/main_frame.h"
#include "watch/watch_command_line.h"
#include "watch/watch_lifetime.h"
#include "watch/watch_presence.h"

namespace vantor::watch {

namespace {

WatchExitCode Refuse(WatchExitCode code, std::string_view reason) {
  os::OutputDebugText(reason);
  return code;
}

// True when the toolkit has somewhere to show windows: a platform chosen
// by the environment or a display to connect to.
bool HasDisplay() {
  for (const char* variable : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
    if (!qEnvironmentVariableIsEmpty(variable)) return true;
  }
  return false;
}

}  // namespace

WatchExitCode RunWatch(int argc, char** argv) {
  // Checked before the toolkit sees the command line, since it takes away
  // the options that it knows.
  const std::span<const char* const> arguments(argv, static_cast<std::size_t>(argc));
  if (!IsWatchCommandLine(arguments)) {
    return Refuse(WatchExitCode::RefusedCommandLine, "Vigilo: not started by the library");
  }

  // Without any display the toolkit would abort, and the library would take
  // the missing presence for a failed start of the whole channel. Presence
  // and the exit command need no screen, so the program then runs on none.
  if (!HasDisplay()) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  // The frame stays hidden; closing the Info dialog must not end the program.
  QApplication::setQuitOnLastWindowClosed(false);

  EndpointBridge bridge;
  if (bridge.Open() != os::OsError::Ok) {
    return Refuse(WatchExitCode::StartFailed, "Vigilo: no endpoint");
  }
  WatchPresence presence;
  switch (presence.Publish(bridge.token())) {
    case PresenceStart::Published:
      break;
    case PresenceStart::AnotherWatchRuns:
      return Refuse(WatchExitCode::AnotherWatchRuns, "Vigilo: another watching program runs");
    case PresenceStart::MappingFailed:
      return Refuse(WatchExitCode::StartFailed, "Vigilo: window-handle mapping failed");
    case PresenceStart::EventFailed:
      return Refuse(WatchExitCode::StartFailed, "Vigilo: presence event failed");
  }

  MainFrame frame([&presence] {
    presence.Withdraw();
    QCoreApplication::quit();
  });
  // Commands posted since the token was published are waiting in the
  // endpoint and come now.
  bridge.Start(&frame, [&frame](const os::Command& command) { frame.HandleCommand(command); });

  WatchLifetime lifetime;
  QTimer lifetimeCheck;
  if (lifetime.Open()) {
    QObject::connect(&lifetimeCheck, &QTimer::timeout, [&lifetime, &presence] {
      if (lifetime.EndIfNothingLeft([&presence] { presence.Withdraw(); })) {
        QCoreApplication::quit();
      }
    });
    lifetimeCheck.start(static_cast<int>(kLifetimeCheckPeriodMs));
  }
  QApplication::exec();
  bridge.Stop();
  presence.Withdraw();
  return WatchExitCode::Ended;
}

}  // namespace vantor::watch
