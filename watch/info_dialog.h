// The Info dialog: product, version and maker, and which interface types
// and channels have a running kernel.
//
// The presence events are read once, when the dialog is made; an open
// dialog does not follow later changes. The indicators only show: a set
// event checks and enables its indicator, any other state leaves it
// unchecked and disabled.
#pragma once

#include <QDialog>
#include <array>

#include "watch/presence_indicators.h"

class QCheckBox;
class QLabel;

namespace vantor::watch {

class InfoDlg : public QDialog {
  Q_OBJECT

 public:
  explicit InfoDlg(QWidget* parent = nullptr);

  // Object names of the controls, for whoever needs to find them.
  static QString IndicatorObjectName(int controlId);

 private:
  void ShowReading(const PresenceReading& reading);
  // A click on the icon shows the credit line, a second one hides it again.
  void ToggleCreditLine();

  std::array<QCheckBox*, kPresenceIndicatorCount> indicators_{};
  QLabel* creditLine_ = nullptr;
  bool creditShown_ = false;
};

}  // namespace vantor::watch
