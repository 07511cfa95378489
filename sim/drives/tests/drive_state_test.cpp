#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "sim/drives/tests/drive_harness.h"

namespace vantor::sim::drives {
namespace {

using canopen::SdoAbortCode;
using drivetest::DriveHarness;
using drivetest::Frame;
using drivetest::kMs;

// The kernel's enable sequence, written from its table: the controlwords
// it sends for the state it finds, and a fault reset with its wait.
bool RunKernelEnableSequence(DriveHarness& harness) {
  switch (harness.State()) {
    case 0x07:
      harness.Controlword(0x0000);
      break;
    case 0x21:
      harness.Controlword(0x0007);
      harness.Controlword(0x000F);
      return harness.State() == 0x27;
    case 0x23:
      harness.Controlword(0x000F);
      return harness.State() == 0x27;
    case 0x27:
      return true;
    case 0x2F:
      harness.Controlword(0x0000);
      harness.Controlword(0x0080);
      harness.Advance(100 * kMs);
      break;
    case 0x60:
      break;
    default:
      return false;
  }
  harness.Controlword(0x0006);
  harness.Controlword(0x0007);
  harness.Controlword(0x000F);
  return harness.State() == 0x27;
}

struct StartState {
  const char* name;
  std::vector<std::uint16_t> controlwords;  // that bring the drive there
  std::uint16_t expected;
};

void PrintTo(const StartState& state, std::ostream* out) { *out << state.name; }

class EnableSequenceTest : public ::testing::TestWithParam<StartState> {};

TEST_P(EnableSequenceTest, ReachesOperationEnabled) {
  DriveHarness harness;
  const StartState& start = GetParam();
  for (const std::uint16_t word : start.controlwords) harness.Controlword(word);
  if (start.expected == 0x2F) harness.Drive().InjectFault(0x5530);
  ASSERT_EQ(harness.State(), start.expected);
  EXPECT_TRUE(RunKernelEnableSequence(harness));
  EXPECT_EQ(harness.Drive().State(), DriveState::kOperationEnabled);
}

INSTANTIATE_TEST_SUITE_P(
    FromEveryState, EnableSequenceTest,
    ::testing::Values(StartState{"SwitchOnDisabled", {}, 0x60},
                      StartState{"ReadyToSwitchOn", {0x0006}, 0x21},
                      StartState{"SwitchedOn", {0x0006, 0x0007}, 0x23},
                      StartState{"OperationEnabled", {0x0006, 0x0007, 0x000F}, 0x27},
                      StartState{"QuickStopActive", {0x0006, 0x0007, 0x000F, 0x0002}, 0x07},
                      StartState{"Fault", {0x0006, 0x0007, 0x000F}, 0x2F}),
    [](const auto& info) { return std::string(info.param.name); });

// The firmware takes enable operation from ready to switch on in one
// command; a drive without that leniency needs it twice, and the kernel's
// enable sequence works either way.
TEST(DriveStateTest, EnableFromReadyToSwitchOnIsALeniencyOfItsOwn) {
  for (const bool lenient : {true, false}) {
    DriveConfig config;
    config.behaviour.enableFromReadyToSwitchOn = lenient;
    DriveHarness harness(config);
    harness.Controlword(0x0006);
    harness.Controlword(0x000F);
    EXPECT_EQ(harness.State(), lenient ? 0x27 : 0x23) << lenient;
    harness.Controlword(0x000F);
    EXPECT_EQ(harness.State(), 0x27) << lenient;

    DriveHarness strict(config);
    EXPECT_TRUE(RunKernelEnableSequence(strict)) << lenient;
  }
}

TEST(DriveStateTest, DisableFromOperationEnabledReadsSwitchOnDisabled) {
  DriveHarness harness;
  harness.Enable();
  harness.Controlword(0x0000);
  EXPECT_EQ(harness.State(), 0x60);
}

TEST(DriveStateTest, FaultSendsEmergencyAndLeavesOnlyOnRisingFaultReset) {
  DriveHarness harness;
  harness.Enable();
  harness.Node().sent.clear();
  harness.Drive().InjectFault(0x7305);
  const auto frames = harness.Node().Take();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].identifier, 0x080 + harness.Node().Id());
  EXPECT_EQ(frames[0].data[0], 0x05);
  EXPECT_EQ(frames[0].data[1], 0x73);
  EXPECT_EQ(harness.State(), 0x2F);
  EXPECT_EQ(harness.Upload(0x1003, 1), 0x7305u);

  // Enable commands do nothing in the fault.
  harness.Controlword(0x000F);
  EXPECT_EQ(harness.State(), 0x2F);
  harness.Controlword(0x0080);
  EXPECT_EQ(harness.State(), 0x60);
  EXPECT_EQ(harness.Upload(0x1001, 0), 0u);

  // A level held high is no new edge.
  harness.Drive().InjectFault(0x7305);
  harness.Controlword(0x0080);
  EXPECT_EQ(harness.State(), 0x2F);
  harness.Controlword(0x0000);
  harness.Controlword(0x0080);
  EXPECT_EQ(harness.State(), 0x60);
}

TEST(DriveStateTest, QuickStopHoldsUntilEnabledAgain) {
  DriveHarness harness;
  harness.Enable();
  harness.Controlword(0x0002);
  EXPECT_EQ(harness.State(), 0x07);
  harness.Controlword(0x000F);
  EXPECT_EQ(harness.State(), 0x27);
}

TEST(DriveStateTest, RefusedEnableStaysSwitchedOn) {
  DriveHarness harness;
  harness.Drive().SetEnableRefused(true);
  harness.Controlword(0x0006);
  harness.Controlword(0x0007);
  harness.Controlword(0x000F);
  EXPECT_EQ(harness.State(), 0x23);
}

TEST(DriveStateTest, SilentDriveAnswersNothing) {
  DriveHarness harness;
  harness.Drive().SetSilent(true);
  EXPECT_THAT(harness.Node().Sdo({0x40, 0x41, 0x60, 0, 0, 0, 0, 0}), ::testing::IsEmpty());
}

TEST(DriveStateTest, UnusableConfigurationKeepsTheDriveInFault) {
  canopen::nodetest::NodeHarness node;
  DriveModel drive(node.Core(), DriveConfig{}, "option 'index_spacing' must be above 0");
  node.Core().SetApplication(&drive);
  node.Boot();
  node.StartNode();
  EXPECT_EQ(drive.State(), DriveState::kFault);
  node.Sdo({0x2B, 0x40, 0x60, 0, 0x80, 0, 0, 0});
  EXPECT_EQ(drive.State(), DriveState::kFault);
}

// The sizes the kernel uses on every download; a wrong size is refused.
struct SizedObject {
  std::uint16_t index;
  std::uint8_t sub;
  int size;
  std::uint32_t value;
};

TEST(DriveObjectTest, KernelSizesAreTakenAndOthersRefused) {
  const std::vector<SizedObject> objects = {
      {0x6040, 0, 2, 0x0006}, {0x6060, 0, 1, 7},    {0x607A, 0, 4, 100},    {0x6083, 0, 4, 1000},
      {0x6081, 0, 4, 1000},   {0x6082, 0, 4, 0},    {0x60FF, 0, 4, 0},      {0x6093, 1, 4, 1},
      {0x6093, 2, 4, 1},      {0x607C, 0, 4, 5},    {0x6098, 0, 1, 33},     {0x6099, 1, 4, 100},
      {0x6099, 2, 4, 10},     {0x609A, 0, 4, 1000}, {0x60C0, 0, 2, 0xFFFF}, {0x60C2, 1, 2, 2048},
      {0x60C2, 2, 1, 0xFA},   {0x60C4, 2, 1, 4},    {0x60FB, 6, 1, 0},      {0x60FB, 4, 1, 0},
      {0x60FE, 0, 1, 1},      {0x6510, 7, 1, 0},    {0x2043, 1, 1, 2},      {0x2043, 2, 1, 5},
      {0x2043, 4, 1, 0},      {0x2043, 9, 4, 1},    {0x2043, 15, 1, 1},     {0x2047, 0, 1, 1},
      {0x2054, 0, 1, 1},      {0x2055, 12, 1, 0},   {0x2055, 20, 1, 0},     {0x2056, 2, 4, 7},
      {0x2056, 1, 1, 0},      {0x2058, 0, 1, 0},    {0x205C, 11, 1, 0},     {0x205D, 18, 1, 0},
      {0x205D, 3, 2, 1},      {0x205D, 4, 4, 100},  {0x607D, 1, 4, 0},      {0x100C, 0, 2, 100},
      {0x100D, 0, 1, 3}};
  DriveHarness harness;
  for (const SizedObject& object : objects) {
    SCOPED_TRACE(::testing::Message() << std::hex << object.index << ":" << int{object.sub});
    EXPECT_EQ(harness.Download(object.index, object.sub, object.value, object.size),
              SdoAbortCode::kNone);
    const int wrong = object.size == 4 ? 2 : object.size + 1;
    EXPECT_NE(harness.Download(object.index, object.sub, object.value, wrong), SdoAbortCode::kNone);
  }
}

// The kernel's start-up read-out: every value arrives with the size it
// expects, and the values it checks for zero are usable.
TEST(DriveObjectTest, StartUpParametersUploadWithTheirSizes) {
  struct Read {
    std::uint16_t index;
    std::uint8_t sub;
    int size;
    bool nonZero;
  };
  const std::vector<Read> reads = {
      {0x607F, 0, 4, true},   {0x60C5, 0, 4, true},  {0x2040, 0, 4, true},   {0x6083, 0, 4, false},
      {0x60FF, 0, 4, false},  {0x6081, 0, 4, false}, {0x6082, 0, 4, false},  {0x60FB, 6, 1, false},
      {0x60FB, 5, 2, true},   {0x6093, 1, 4, true},  {0x6093, 2, 4, true},   {0x2041, 0, 1, false},
      {0x608A, 0, 1, false},  {0x607C, 0, 4, false}, {0x6098, 0, 1, true},   {0x6099, 1, 4, true},
      {0x6099, 2, 4, true},   {0x609A, 0, 4, true},  {0x6510, 13, 4, false}, {0x607E, 0, 1, false},
      {0x6041, 0, 2, true},   {0x6062, 0, 4, false}, {0x60FD, 0, 1, false},  {0x6510, 7, 1, false},
      {0x6510, 10, 1, false}, {0x6510, 18, 1, true}, {0x6510, 20, 1, false}, {0x6510, 21, 1, true},
      {0x2043, 1, 1, false},  {0x2043, 14, 1, true}, {0x2047, 0, 1, false},  {0x2047, 1, 1, false},
      {0x2055, 1, 1, false},  {0x2056, 1, 1, false}, {0x205C, 1, 1, true},   {0x205C, 12, 2, false},
      {0x205C, 5, 4, false},  {0x205D, 1, 1, true},  {0x205D, 17, 4, false}, {0x1003, 1, 4, false},
      {0x100C, 0, 2, false},  {0x100D, 0, 1, false}};
  DriveHarness harness;
  for (const Read& read : reads) {
    SCOPED_TRACE(::testing::Message() << std::hex << read.index << ":" << int{read.sub});
    const auto answer =
        harness.SdoAnswer({0x40, static_cast<std::uint8_t>(read.index),
                           static_cast<std::uint8_t>(read.index >> 8), read.sub, 0, 0, 0, 0});
    ASSERT_EQ(answer.size(), 1u);
    ASSERT_EQ(answer[0].data[0] & 0xE3, 0x43);
    EXPECT_EQ(4 - ((answer[0].data[0] >> 2) & 3), read.size);
    if (read.nonZero) {
      EXPECT_NE(DriveHarness::Word(answer[0], 4), 0u);
    }
  }
}

TEST(DriveObjectTest, ValuesTheDriveCannotRunWithAreRefused) {
  DriveHarness harness;
  EXPECT_EQ(harness.Download(0x6060, 0, 5, 1), SdoAbortCode::kValueRange);
  EXPECT_EQ(harness.Download(0x6098, 0, 7, 1), SdoAbortCode::kValueRange);
  EXPECT_EQ(harness.Download(0x2043, 1, 3, 1), SdoAbortCode::kValueRange);
  EXPECT_EQ(harness.Download(0x60C2, 1, 0, 2), SdoAbortCode::kValueRange);
  EXPECT_EQ(harness.Download(0x6041, 0, 0, 2), SdoAbortCode::kReadOnly);
}

// The drive's microsecond clock is the time stamp's source: read-only, and
// a remote-only transmit PDO carrying it answers each poll with the time
// of the poll.
TEST(DriveObjectTest, ClockAnswersARemoteOnlyTransmitPdo) {
  DriveHarness harness;
  EXPECT_NE(harness.Download(0x2053, 0, 1, 4), SdoAbortCode::kNone);
  harness.Write(0x1801, 1, 0x285, 4);
  harness.Write(0x1A01, 0, 0, 1);
  harness.Write(0x1A01, 1, 0x20530020, 4);
  harness.Write(0x1A01, 0, 1, 1);
  harness.Write(0x1801, 2, 0xFD, 1);
  for (const SimTime later : {3 * kMs, 10 * kMs}) {
    harness.Node().AdvanceTo(harness.Now() + later);
    const auto expected = static_cast<std::uint32_t>(harness.Now() / 1000);
    const std::vector<CanFrame> answer = harness.Node().Exchange(canopen::nodetest::Remote(0x285));
    ASSERT_EQ(answer.size(), 1u);
    EXPECT_EQ(answer[0].identifier, 0x285);
    ASSERT_EQ(answer[0].length, 4);
    const std::uint32_t value = answer[0].data[0] | (answer[0].data[1] << 8) |
                                (answer[0].data[2] << 16) |
                                (static_cast<std::uint32_t>(answer[0].data[3]) << 24);
    EXPECT_EQ(value, expected);
  }
}

TEST(DriveVariantTest, CompactFirmwareLacksTheNewerObjects) {
  DriveConfig config;
  config.variant = DriveVariant::kCompact;
  DriveHarness harness(config);
  for (const auto& [index, sub] : std::vector<std::pair<std::uint16_t, std::uint8_t>>{
           {0x60FB, 6}, {0x2055, 1}, {0x205C, 1}, {0x205D, 1}, {0x2056, 1}, {0x6510, 20}}) {
    EXPECT_FALSE(harness.Upload(index, sub).has_value()) << std::hex << index;
  }
  EXPECT_TRUE(harness.Upload(0x60FB, 4).has_value());
  EXPECT_TRUE(harness.Upload(0x2043, 1).has_value());
}

TEST(DriveVariantTest, DualPowerStageTextNeedsASegmentedUpload) {
  DriveConfig config;
  config.variant = DriveVariant::kDual;
  canopen::nodetest::NodeHarness node;
  DriveModel drive(node.Core(), config);
  node.Core().SetApplication(&drive);
  node.Objects().Add({0x100A, 0, canopen::DataType::kVisibleString, canopen::Access::kConst, false,
                      0, ModuleText(config.variant), ModuleText(config.variant).size()});
  node.Boot();
  const auto answer = node.Sdo({0x40, 0x0A, 0x10, 0, 0, 0, 0, 0});
  ASSERT_EQ(answer.size(), 1u);
  EXPECT_EQ(answer[0].data[0], 0x41);  // segmented, size indicated
  EXPECT_GT(DriveHarness::Word(answer[0], 4), 49u);
  EXPECT_EQ(node.Objects().Unsigned(0x6510, 10), 1u);
}

TEST(DriveResetTest, HomedMarkKeepsTheZeroAcrossResetNode) {
  DriveConfig config;
  config.startPosition = 1000;
  for (const bool marked : {false, true}) {
    SCOPED_TRACE(marked);
    DriveHarness harness(config);
    harness.Write(0x2056, 2, 400, 4);
    harness.Write(0x2056, 1, 1, 1);
    ASSERT_EQ(harness.Position(), 600);
    harness.Write(0x2047, 0, marked ? 1 : 0, 1);
    harness.Node().Nmt(0x81, harness.Node().Id());
    harness.Node().Boot();
    EXPECT_EQ(harness.Position(), marked ? 600 : 1000);
    EXPECT_EQ(harness.State(), 0x60);
  }
}

TEST(DriveResetTest, StoredPositionFactorSurvivesResetNode) {
  DriveConfig config;
  config.positionFactorNumerator = 3;
  config.positionFactorDivisor = 10;
  DriveHarness harness(config);
  harness.Write(0x6093, 1, 7, 4);
  harness.Node().Nmt(0x81, harness.Node().Id());
  harness.Node().Boot();
  EXPECT_EQ(harness.Upload(0x6093, 1), 3u);
  EXPECT_EQ(harness.Upload(0x6093, 2), 10u);
}

TEST(DriveHomeShiftTest, ShiftAppliesOnlyOnARisingTrigger) {
  DriveHarness harness;
  harness.Write(0x2056, 2, 250, 4);
  harness.Write(0x2056, 1, 1, 1);
  EXPECT_EQ(harness.Position(), -250);
  harness.Write(0x2056, 1, 1, 1);
  EXPECT_EQ(harness.Position(), -250);
  harness.Write(0x2056, 1, 0, 1);
  harness.Write(0x2056, 1, 1, 1);
  EXPECT_EQ(harness.Position(), -500);
}

}  // namespace
}  // namespace vantor::sim::drives
