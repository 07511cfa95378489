#include "watch/main_frame.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QThread>
#include <QTimer>
#include <array>
#include <thread>
#include <vector>

#include "watch/endpoint_bridge.h"
#include "watch/info_dialog.h"
#include "watch/tests/qt_test_application.h"

namespace vantor::watch {
namespace {

using testing::ProcessEventsUntil;

int VisibleInfoDialogs() {
  int count = 0;
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (qobject_cast<InfoDlg*>(widget) != nullptr && widget->isVisible()) ++count;
  }
  return count;
}

void DismissInfoDialogs() {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (auto* dialog = qobject_cast<InfoDlg*>(widget)) dialog->reject();
  }
}

// Runs `action` and returns how many Info dialogs were on screen while it
// ran; a dialog that `action` opened modally is dismissed so that it
// returns. `inside` runs while the dialog is open.
int InfoDialogsDuring(const std::function<void()>& action,
                      const std::function<void()>& inside = {}) {
  int seen = -1;
  QTimer::singleShot(0, [&seen, &inside] {
    seen = VisibleInfoDialogs();
    if (inside) inside();
    DismissInfoDialogs();
  });
  action();
  EXPECT_TRUE(ProcessEventsUntil([&seen] { return seen >= 0; }));
  return seen;
}

TEST(MainFrameTest, LeftOrRightPressOpensTheInfoDialogOtherNotificationsDoNot) {
  struct Case {
    QSystemTrayIcon::ActivationReason reason;
    int dialogs;
  };
  const std::array<Case, 5> cases = {{
      {QSystemTrayIcon::Trigger, 1},
      {QSystemTrayIcon::Context, 1},
      {QSystemTrayIcon::DoubleClick, 0},
      {QSystemTrayIcon::MiddleClick, 0},
      {QSystemTrayIcon::Unknown, 0},
  }};
  MainFrame frame([] {});
  for (const Case& c : cases) {
    EXPECT_EQ(InfoDialogsDuring([&] { frame.HandleNotifyIconActivation(c.reason); }), c.dialogs)
        << "reason " << c.reason;
  }
}

TEST(MainFrameTest, SecondPressWhileTheDialogIsOpenIsIgnored) {
  MainFrame frame([] {});
  int openWhenPressesReturned = -1;
  const int dialogs = InfoDialogsDuring(
      [&] { frame.HandleNotifyIconActivation(QSystemTrayIcon::Trigger); },
      [&] {
        // Were the presses not ignored, they would block in a second modal
        // dialog; this queued dismissal frees them again, and the first
        // dialog would be gone by the time they return.
        QTimer::singleShot(0, [] { DismissInfoDialogs(); });
        frame.HandleNotifyIconActivation(QSystemTrayIcon::Context);
        frame.HandleNotifyIconActivation(QSystemTrayIcon::Trigger);
        openWhenPressesReturned = VisibleInfoDialogs();
      });
  EXPECT_EQ(dialogs, 1);
  EXPECT_EQ(openWhenPressesReturned, 1);
  QCoreApplication::processEvents();
  // Closed, it opens again.
  EXPECT_EQ(InfoDialogsDuring([&] { frame.HandleNotifyIconActivation(QSystemTrayIcon::Trigger); }),
            1);
}

TEST(MainFrameTest, OnlyTheExitCommandClosesAndTheClosePathRunsOnce) {
  int closings = 0;
  MainFrame frame([&closings] { ++closings; });
  for (const std::uint32_t code : {0u, 0x401u, 0xE140u, 0xE142u, 0x0001E141u}) {
    frame.HandleCommand(os::Command{code, 0});
  }
  EXPECT_EQ(closings, 0);
  frame.HandleCommand(os::Command{os::kExitCommand, 0});
  EXPECT_EQ(closings, 1);
  frame.HandleCommand(os::Command{os::kExitCommand, 0});
  frame.close();
  EXPECT_EQ(closings, 1);
  // A closed frame opens no dialog any more.
  EXPECT_EQ(InfoDialogsDuring([&] { frame.HandleNotifyIconActivation(QSystemTrayIcon::Trigger); }),
            0);
}

TEST(MainFrameTest, FileMenuExitTakesTheClosePath) {
  int closings = 0;
  MainFrame frame([&closings] { ++closings; });
  QAction* exitAction = nullptr;
  for (QAction* action : frame.findChildren<QAction*>()) {
    if (action->text() == QStringLiteral("&Beenden")) exitAction = action;
  }
  ASSERT_NE(exitAction, nullptr);
  exitAction->trigger();
  EXPECT_EQ(closings, 1);
}

TEST(MainFrameTest, ExitCommandWhileTheDialogIsOpenDismissesIt) {
  int closings = 0;
  MainFrame frame([&closings] { ++closings; });
  int dialogsAfterExit = -1;
  InfoDialogsDuring([&] { frame.HandleNotifyIconActivation(QSystemTrayIcon::Trigger); },
                    [&] {
                      frame.HandleCommand(os::Command{os::kExitCommand, 0});
                      QTimer::singleShot(0, [&] { dialogsAfterExit = VisibleInfoDialogs(); });
                    });
  ASSERT_TRUE(ProcessEventsUntil([&] { return dialogsAfterExit >= 0; }));
  EXPECT_EQ(dialogsAfterExit, 0);
  EXPECT_EQ(closings, 1);
}

TEST(EndpointBridgeTest, PostedCommandsReachTheGuiThreadInOrder) {
  QObject context;
  std::vector<os::Command> received;
  bool allOnGuiThread = true;
  os::EndpointToken token = os::kNoEndpoint;
  {
    EndpointBridge bridge;
    ASSERT_EQ(bridge.Open(), os::OsError::Ok);
    token = bridge.token();
    ASSERT_NE(token, os::kNoEndpoint);
    // Posted before the bridge starts: kept, and handled first.
    ASSERT_EQ(os::PostCommand(token, {1, 10}), os::OsError::Ok);
    bridge.Start(&context, [&](const os::Command& command) {
      allOnGuiThread = allOnGuiThread && QThread::currentThread() == context.thread();
      received.push_back(command);
    });
    std::thread poster([token] {
      for (std::uint32_t code = 2; code <= 5; ++code) {
        EXPECT_EQ(os::PostCommand(token, {code, code * 10}), os::OsError::Ok);
      }
    });
    poster.join();
    ASSERT_TRUE(ProcessEventsUntil([&] { return received.size() == 5; }));
    bridge.Stop();
    bridge.Stop();
  }
  for (std::uint32_t i = 0; i < received.size(); ++i) {
    EXPECT_EQ(received[i].code, i + 1);
    EXPECT_EQ(received[i].parameter, (i + 1) * 10);
  }
  EXPECT_TRUE(allOnGuiThread);
  // The bridge is gone: so is its token.
  EXPECT_EQ(os::PostCommand(token, {os::kExitCommand, 0}), os::OsError::NotFound);
}

}  // namespace
}  // namespace vantor::watch
