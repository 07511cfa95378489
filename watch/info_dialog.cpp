#include "watch/info_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>
#include <span>

#include "watch/watch_icon.h"
#include "watch/watch_texts.h"

namespace vantor::watch {

namespace {

QString FromText(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QLabel* MakeStatic(const char* objectName, std::string_view text, QWidget* parent) {
  auto* label = new QLabel(FromText(text), parent);
  label->setObjectName(QString::fromLatin1(objectName));
  return label;
}

QGroupBox* MakeIndicatorGroup(const char* objectName, std::string_view title,
                              std::span<QCheckBox* const> indicators, QWidget* parent) {
  auto* group = new QGroupBox(FromText(title), parent);
  group->setObjectName(QString::fromLatin1(objectName));
  auto* layout = new QVBoxLayout(group);
  for (QCheckBox* indicator : indicators) layout->addWidget(indicator);
  layout->addStretch();
  return group;
}

}  // namespace

QString InfoDlg::IndicatorObjectName(int controlId) {
  return QStringLiteral("indicator%1").arg(controlId);
}

InfoDlg::InfoDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(FromText(kInfoTitle));

  auto* creditIcon = new QToolButton(this);
  creditIcon->setObjectName(QStringLiteral("creditIcon"));
  creditIcon->setIcon(WatchIcon());
  creditIcon->setIconSize(QSize(32, 32));
  creditIcon->setAutoRaise(true);
  creditIcon->setFocusPolicy(Qt::NoFocus);
  connect(creditIcon, &QToolButton::clicked, this, [this] { ToggleCreditLine(); });

  auto* texts = new QVBoxLayout;
  texts->addWidget(MakeStatic("productText", kProductText, this));
  texts->addWidget(MakeStatic("versionText", kVersionText, this));
  texts->addWidget(MakeStatic("makerNotice", kMakerNotice, this));
  creditLine_ = MakeStatic("creditLine", {}, this);
  texts->addWidget(creditLine_);

  auto* heading = new QHBoxLayout;
  heading->addWidget(creditIcon, 0, Qt::AlignTop);
  heading->addLayout(texts, 1);

  for (std::size_t i = 0; i < kPresenceIndicators.size(); ++i) {
    auto* indicator = new QCheckBox(FromText(kPresenceIndicators[i].text), this);
    indicator->setObjectName(IndicatorObjectName(kPresenceIndicators[i].controlId));
    // Indicators show what runs; nobody may tick them.
    indicator->setAttribute(Qt::WA_TransparentForMouseEvents);
    indicator->setFocusPolicy(Qt::NoFocus);
    indicators_[i] = indicator;
  }
  const std::span<QCheckBox* const> all(indicators_);
  auto* groups = new QHBoxLayout;
  groups->addWidget(MakeIndicatorGroup("interfaceGroup", kInterfaceGroupTitle,
                                       all.first(kInterfaceIndicatorCount), this));
  groups->addWidget(MakeIndicatorGroup("portGroup", kPortGroupTitle,
                                       all.subspan(kInterfaceIndicatorCount), this));

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  buttons->button(QDialogButtonBox::Ok)->setText(FromText(kOkText));
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(heading);
  layout->addLayout(groups);
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  ShowReading(ReadPresenceIndicators());
}

void InfoDlg::ShowReading(const PresenceReading& reading) {
  for (std::size_t i = 0; i < indicators_.size(); ++i) {
    indicators_[i]->setChecked(reading[i]);
    indicators_[i]->setEnabled(reading[i]);
  }
}

void InfoDlg::ToggleCreditLine() {
  creditShown_ = !creditShown_;
  creditLine_->setText(creditShown_ ? FromText(kCreditLine) : QString());
}

}  // namespace vantor::watch
