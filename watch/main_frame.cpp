#include "watch/main_frame.h"

#include <QAction>
#include <QCloseEvent>
#include <QMenu>
#include <QMenuBar>
#include <utility>

#include "watch/info_dialog.h"
#include "watch/watch_icon.h"
#include "watch/watch_texts.h"

namespace vantor::watch {

namespace {

QString FromText(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

MainFrame::MainFrame(std::function<void()> onClose, QWidget* parent)
    : QMainWindow(parent), onClose_(std::move(onClose)) {
  QMenu* fileMenu = menuBar()->addMenu(FromText(kFileMenuText));
  QAction* exitAction = fileMenu->addAction(FromText(kExitMenuText));
  connect(exitAction, &QAction::triggered, this,
          [this] { HandleCommand(os::Command{os::kExitCommand, 0}); });
  AddNotifyIcon();
}

MainFrame::~MainFrame() {
  if (notifyIcon_ != nullptr) notifyIcon_->hide();
}

void MainFrame::AddNotifyIcon() {
  if (!QSystemTrayIcon::isSystemTrayAvailable()) return;
  notifyIcon_ = new QSystemTrayIcon(WatchIcon(), this);
  notifyIcon_->setToolTip(FromText(kNotifyIconTip));
  connect(notifyIcon_, &QSystemTrayIcon::activated, this,
          [this](QSystemTrayIcon::ActivationReason reason) {
            HandleNotifyIconActivation(reason);
          });
  notifyIcon_->show();
}

void MainFrame::HandleCommand(const os::Command& command) {
  if (command.code == os::kExitCommand) close();
}

void MainFrame::HandleNotifyIconActivation(QSystemTrayIcon::ActivationReason reason) {
  const bool buttonPress =
      reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::Context;
  if (!buttonPress || openInfoDialog_ != nullptr || closed_) return;
  ShowInfoDialog();
}

void MainFrame::ShowInfoDialog() {
  InfoDlg dialog;
  dialog.setWindowIcon(WatchIcon());
  openInfoDialog_ = &dialog;
  dialog.exec();
  openInfoDialog_ = nullptr;
}

void MainFrame::closeEvent(QCloseEvent* event) {
  event->accept();
  if (closed_) return;
  closed_ = true;
  // The modal dialog's own loop returns once we are back in it.
  if (openInfoDialog_ != nullptr) openInfoDialog_->reject();
  if (notifyIcon_ != nullptr) notifyIcon_->hide();
  if (onClose_) onClose_();
}

}  // namespace vantor::watch
