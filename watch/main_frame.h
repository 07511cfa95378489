// The watching program's main frame: never shown, it owns the notification
// icon, takes the commands posted to the program's endpoint and opens the
// Info dialog when the icon is clicked.
//
// Where the desktop has no notification area the frame runs without icon;
// presence and the exit command work the same.
#pragma once

#include <QMainWindow>
#include <QSystemTrayIcon>
#include <functional>

#include "platform/os/message_loop.h"

class QCloseEvent;

namespace vantor::watch {

class InfoDlg;

class MainFrame : public QMainWindow {
  Q_OBJECT

 public:
  // `onClose` runs once, on the close path, after an open Info dialog was
  // dismissed: it withdraws the program's presence and ends the event loop.
  explicit MainFrame(std::function<void()> onClose, QWidget* parent = nullptr);
  ~MainFrame() override;

  // A command posted to the program's endpoint: the exit command closes the
  // frame, anything else is ignored.
  void HandleCommand(const os::Command& command);

  // The notification icon's callback: a left or right click opens the Info
  // dialog modally; a click while it is open and other notifications are
  // ignored.
  void HandleNotifyIconActivation(QSystemTrayIcon::ActivationReason reason);

  bool hasNotifyIcon() const { return notifyIcon_ != nullptr; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void AddNotifyIcon();
  void ShowInfoDialog();

  std::function<void()> onClose_;
  QSystemTrayIcon* notifyIcon_ = nullptr;
  InfoDlg* openInfoDialog_ = nullptr;
  bool closed_ = false;
};

}  // namespace vantor::watch
