#include "watch/info_dialog.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QPixmap>
#include <QToolButton>
#include <algorithm>
#include <array>
#include <optional>
#include <vector>

#include "common/kernel_object_names.h"
#include "platform/os/named_objects.h"
#include "watch/tests/qt_test_application.h"
#include "watch/watch_texts.h"

namespace vantor::watch {
namespace {

using testing::ProcessEventsUntil;

QString FromText(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Sets the presence events of the given indicators while it lives.
class RunningKernels {
 public:
  explicit RunningKernels(std::initializer_list<int> controlIds) {
    for (const PresenceIndicator& indicator : kPresenceIndicators) {
      if (std::find(controlIds.begin(), controlIds.end(), indicator.controlId) ==
          controlIds.end()) {
        continue;
      }
      auto event = os::Event::CreateOrOpen(common::KernelObjectName(indicator.nameIndex),
                                           os::EventReset::Manual, true);
      EXPECT_TRUE(event) << indicator.controlId;
      if (event) events_.push_back(event.take());
    }
  }

 private:
  std::vector<os::Event> events_;
};

QCheckBox* Indicator(const InfoDlg& dialog, int controlId) {
  return dialog.findChild<QCheckBox*>(InfoDlg::IndicatorObjectName(controlId));
}

TEST(InfoDlgTest, IndicatorsAreCheckedAndEnabledOnlyWhereAKernelRuns) {
  const std::vector<std::vector<int>> cases = {
      {},
      {1009, 1010, 1011, 1012, 1013, 1014, 1015, 1016},
      {1011, 1013},
      {1009, 1012},
      {1010, 1014, 1015, 1016},
      {1016},
  };
  for (const std::vector<int>& running : cases) {
    std::vector<os::Event> events;
    for (const PresenceIndicator& indicator : kPresenceIndicators) {
      const bool set =
          std::find(running.begin(), running.end(), indicator.controlId) != running.end();
      // Indicators that are not set still have an event half the time: an
      // event that exists but is not set shows nothing either.
      if (!set && indicator.controlId % 2 == 0) continue;
      auto event = os::Event::CreateOrOpen(common::KernelObjectName(indicator.nameIndex),
                                           os::EventReset::Manual, set);
      ASSERT_TRUE(event);
      events.push_back(event.take());
    }
    const std::uint32_t objectsBefore = os::TakeNamespaceCensus().objects;
    {
      InfoDlg dialog;
      for (const PresenceIndicator& indicator : kPresenceIndicators) {
        const bool set =
            std::find(running.begin(), running.end(), indicator.controlId) != running.end();
        QCheckBox* box = Indicator(dialog, indicator.controlId);
        ASSERT_NE(box, nullptr) << indicator.controlId;
        EXPECT_EQ(box->text(), FromText(indicator.text));
        EXPECT_EQ(box->isChecked(), set) << indicator.controlId;
        EXPECT_EQ(box->isEnabled(), set) << indicator.controlId;
      }
    }
    EXPECT_EQ(os::TakeNamespaceCensus().objects, objectsBefore);
  }
  EXPECT_EQ(os::TakeNamespaceCensus().objects, 0u);
}

TEST(InfoDlgTest, ReadsOncePerOpening) {
  std::optional<RunningKernels> kernels(std::in_place, std::initializer_list<int>{1011, 1013});
  InfoDlg first;
  kernels.reset();
  EXPECT_TRUE(Indicator(first, 1013)->isChecked());
  InfoDlg second;
  EXPECT_FALSE(Indicator(second, 1013)->isChecked());
  EXPECT_FALSE(Indicator(second, 1011)->isEnabled());
}

TEST(InfoDlgTest, ShowsItsTextsAndTheIconTogglesTheCreditLine) {
  InfoDlg dialog;
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Info"));
  EXPECT_EQ(dialog.findChild<QLabel*>("productText")->text(), "Vantor CAN-CNC-Control");
  EXPECT_EQ(dialog.findChild<QLabel*>("versionText")->text(), "01.70.00.13");
  EXPECT_EQ(dialog.findChild<QGroupBox*>("interfaceGroup")->title(), "Can Interface");
  EXPECT_EQ(dialog.findChild<QGroupBox*>("portGroup")->title(), "Can Port");
  for (std::size_t i = 0; i < kPresenceIndicators.size(); ++i) {
    const char* group = i < kInterfaceIndicatorCount ? "interfaceGroup" : "portGroup";
    EXPECT_EQ(Indicator(dialog, kPresenceIndicators[i].controlId)->parentWidget(),
              dialog.findChild<QGroupBox*>(group))
        << kPresenceIndicators[i].controlId;
  }

  auto* credit = dialog.findChild<QLabel*>("creditLine");
  auto* icon = dialog.findChild<QToolButton*>("creditIcon");
  ASSERT_NE(credit, nullptr);
  ASSERT_NE(icon, nullptr);
  EXPECT_TRUE(credit->text().isEmpty());
  icon->click();
  EXPECT_EQ(credit->text(), FromText(kCreditLine));
  icon->click();
  EXPECT_TRUE(credit->text().isEmpty());
}

// Leaves a picture of the dialog in the build folder for a person to look at.
TEST(InfoDlgTest, ScreenshotForReview) {
  const RunningKernels kernels{1011, 1013, 1014};
  InfoDlg dialog;
  dialog.findChild<QToolButton*>("creditIcon")->click();
  dialog.show();
  ASSERT_TRUE(ProcessEventsUntil([&dialog] { return dialog.isVisible(); }));
  const QPixmap picture = dialog.grab();
  dialog.close();
  ASSERT_FALSE(picture.isNull());
  ASSERT_TRUE(QDir().mkpath(QStringLiteral(VANTOR_WATCH_SCREENSHOT_DIR)));
  const QString path = QStringLiteral(VANTOR_WATCH_SCREENSHOT_DIR "/vigilo_info_dialog.png");
  EXPECT_TRUE(picture.save(path, "PNG")) << path.toStdString();
  EXPECT_GT(QFileInfo(path).size(), 0);
}

}  // namespace
}  // namespace vantor::watch
