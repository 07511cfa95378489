#include "interface/init_file_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

#include "common/kernel_link_records.h"

namespace vantor::interface {
namespace {

namespace hw = common::can_hardware_parameters;

const std::filesystem::path kSampleFile =
    std::filesystem::path(VANTOR_INTERFACE_TEST_DATA) / "machine.ini";

std::string ReadSample() {
  std::ifstream in(kSampleFile, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// A copy of the sample with one text replaced, in the test's own folder.
class SampleVariant {
 public:
  SampleVariant(std::string_view from, std::string_view to) {
    std::string text = ReadSample();
    const auto at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    path_ = std::filesystem::temp_directory_path() /
            (std::string("linkora_") + info->name() + "_" + std::to_string(::getpid()) + ".ini");
    std::ofstream(path_, std::ios::binary) << text;
  }
  ~SampleVariant() { std::filesystem::remove(path_); }
  std::string path() const { return path_.string(); }

 private:
  std::filesystem::path path_;
};

// Writes little-endian values at literal offsets: the image is built
// without the record accessors it checks.
class ImageBuilder {
 public:
  explicit ImageBuilder(std::size_t size) : bytes_(size, 0) {}
  template <typename T>
  void Put(std::size_t offset, T value) {
    ASSERT_LE(offset + sizeof(T), bytes_.size());
    std::memcpy(bytes_.data() + offset, &value, sizeof(T));
  }
  void PutText(std::size_t offset, std::string_view text) {
    std::memcpy(bytes_.data() + offset, text.data(), text.size());
  }
  const std::vector<std::uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
};

std::vector<std::uint8_t> ExpectedCncPayloadOfSample() {
  ImageBuilder image(880 + 3 * 32 + 4 * 12 + 2 * 8);
  image.Put<std::uint32_t>(0, 0);    // DeclareMode
  image.Put<std::uint32_t>(4, 1);    // CncKernelShared
  image.Put<std::uint32_t>(8, 1);    // Coor32BitFormat
  image.Put<std::uint32_t>(12, 0);   // StartUpMode
  image.Put<std::uint32_t>(16, 25);  // DllPathPufVecMaxNo
  image.Put<std::uint32_t>(20, 0);   // MeasureCncCheckTime
  image.Put<std::uint32_t>(24, 0);   // PathSmooth
  image.Put<std::int32_t>(28, 3);    // CoorNo
  image.Put<std::int32_t>(32, 3);    // InterAxisNo
  image.Put<std::int32_t>(36, 4);    // AxisNo
  image.Put<std::int32_t>(40, 2);    // CAN handling axes
  const double velocities[] = {20000.0, 40000.0, 50000.0, 100000.0, 20000.0, 40000.0};
  for (std::size_t i = 0; i < 6; ++i) image.Put<double>(48 + 8 * i, velocities[i]);
  image.Put<double>(96, 1.0);                           // CircleVelFac
  image.Put<double>(104, 10.0);                         // RadiusRoundingError
  image.Put<double>(112, 1.0e-06);                      // AngleRoundingError
  image.Put<double>(120, 100.0);                        // RadiusError
  image.Put<double>(128, 0.75);                         // PathVelFac
  image.Put<double>(136, 1.0);                          // CarryAxisVelFac
  image.Put<double>(144, 100.0);                        // PathError
  image.Put<double>(152, 1.4);                          // MaxOverride
  image.Put<double>(160, std::numbers::pi / 648000.0);  // arc seconds
  image.Put<double>(168, 10.0);                         // NoMoveVel
  image.Put<double>(176, 3000000.0);                    // MoveEndMaxWaitTime
  image.Put<double>(184, 50000.0);                      // MaxTimeForCalAverageVel
  image.Put<std::uint32_t>(192, 0);                     // CalFollowError
  image.Put<double>(200, 2.0);                          // FollowErrorSafetyFac
  image.Put<double>(208, 500.0);                        // SafetyDistance
  image.Put<std::int16_t>(216, 10);                     // TeachInLookAheadDesPosiMaxNo
  image.Put<std::int16_t>(218, 16);                     // AmplifyMaxNoBufferedDesCoor
  image.Put<std::int16_t>(220, 6);                      // TeachInAmplifyMaxNoBufferedDesCoor
  image.Put<std::uint32_t>(224, 50);                    // MaxNoBufferedPathVec
  image.Put<double>(232, 40000.0);                      // CanMsgMaxWaitTime
  image.Put<double>(240, 100000.0);                     // ResetNodeDelayTime
  image.Put<std::int32_t>(248, 1);                      // SynNodeNo
  image.Put<std::uint16_t>(252, 8275);                  // fixed values
  image.Put<std::uint8_t>(254, 0);
  image.Put<std::uint16_t>(256, 2431);
  image.Put<std::uint16_t>(258, 39);
  image.Put<std::uint16_t>(260, 0x4000);
  image.Put<std::uint8_t>(262, 11);
  image.Put<std::uint8_t>(263, 8);
  image.Put<std::uint8_t>(264, 8);
  image.Put<std::uint8_t>(265, 8);
  image.Put<std::uint32_t>(268, 1);    // HandwheelActive
  image.Put<std::int32_t>(272, 65);    // HandwheelCanNodeNo
  image.Put<std::int32_t>(276, 25);    // HandwheelInhibitTime
  image.Put<std::int32_t>(280, 500);   // HandwheelGuardTime
  image.PutText(284, "VANTOR_WPN23");  // HandwheelModell
  image.Put<std::uint32_t>(336, 1);    // CartesianCoor
  image.Put<std::uint32_t>(340, 0);    // AxisCorrectionEnable
  // Three coordinates from 0x3B4 - 0x44 = 880: linear path coordinates.
  for (std::size_t n = 0; n < 3; ++n) {
    const std::size_t entry = 880 + 32 * n;
    image.Put<std::uint32_t>(entry + 0, 1);
    image.Put<std::uint32_t>(entry + 4, 1);
    image.Put<std::uint32_t>(entry + 8, 0);
    image.Put<double>(entry + 16, 2000000.0);
    image.Put<double>(entry + 24, -2000000.0);
  }
  // Four axes; the second one drives a gantry slave on node 8.
  const std::uint32_t axes[4][3] = {{1, 0, 0}, {2, 1, 8}, {3, 0, 0}, {4, 0, 0}};
  for (std::size_t a = 0; a < 4; ++a) {
    for (std::size_t w = 0; w < 3; ++w) image.Put<std::uint32_t>(976 + 12 * a + 4 * w, axes[a][w]);
  }
  // Handling axes 1 and 3 (axis 2 is serial): node 1 of device type 1,
  // node 3 of device type 0.
  image.Put<std::uint32_t>(1024, 1);
  image.Put<std::uint32_t>(1028, 1);
  image.Put<std::uint32_t>(1032, 3);
  image.Put<std::uint32_t>(1036, 0);
  return image.bytes();
}

TEST(InitFileReaderTest, CanSectionOfTheSampleFillsTheStartRecordByteForByte) {
  CanInitSettings settings;
  ASSERT_EQ(ReadCanInitSection(kSampleFile.string(), settings), common::kFileReaderSuccess)
      << ReaderMessage();
  EXPECT_EQ(settings.declareMode, 0u);
  EXPECT_EQ(settings.kernelShared, 1u);
  EXPECT_EQ(settings.popupMenuActive, 1u);
  // The sample has no WindowsTimerRes: the default list's 2 stands in.
  EXPECT_EQ(settings.windowsTimerRes, 2u);
  EXPECT_EQ(settings.pathWindowsTimerRes, 8u);
  EXPECT_EQ(settings.realTimeThreadIntWaitTime, 1500u);

  ImageBuilder hardware(24);
  hardware.Put<std::uint8_t>(0, 2);         // PCI card
  hardware.Put<std::uint8_t>(1, 2);         // channel CanTwo
  hardware.Put<std::uint8_t>(2, 5);         // 500 kbit/s
  hardware.Put<std::uint32_t>(4, 0);        // MeasureLatenzTime
  hardware.Put<std::int16_t>(8, 40);        // LookAheadDesPosiMaxNo
  hardware.Put<std::uint32_t>(12, 3000);    // InterruptCycle
  hardware.Put<std::uint32_t>(16, 300000);  // TimeForGlobalSynPeriod
  hardware.Put<std::uint32_t>(20, 1000);    // SynMaxWaitTime
  const auto bytes = settings.hardware.Bytes();
  EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin(), bytes.end()), hardware.bytes());
}

TEST(InitFileReaderTest, CncSectionsOfTheSamplePackToTheHandBuiltImage) {
  CncInitImage image;
  ASSERT_EQ(ReadCncInitSections(kSampleFile.string(), image), common::kFileReaderSuccess)
      << ReaderMessage();
  common::cnc_init_record::SetFixedRequestTemplates(image.record);
  const auto payload = PackCncInitPayload(image);
  ASSERT_TRUE(payload);
  const auto expected = ExpectedCncPayloadOfSample();
  ASSERT_EQ(payload->size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    ASSERT_EQ((*payload)[i], expected[i]) << "first difference at byte " << i;
  }
}

struct TimerCase {
  const char* from;
  const char* to;
  std::uint32_t windowsTimerRes;
  std::uint32_t pathWindowsTimerRes;
};

TEST(InitFileReaderTest, TimerResolutionsFollowTheirEnableFlags) {
  const TimerCase cases[] = {
      {"WindowsTimerResEnable = true", "WindowsTimerResEnable = false", 0, 8},
      {"PathWindowsTimerResEnable = true", "PathWindowsTimerResEnable = false", 2, 0},
      {"WindowsTimerResEnable = true ; (bool)",
       "WindowsTimerResEnable = true ; (bool)\nWindowsTimerRes = 5 ; (short)", 5, 8},
  };
  for (const auto& c : cases) {
    SampleVariant file(c.from, c.to);
    CanInitSettings settings;
    ASSERT_EQ(ReadCanInitSection(file.path(), settings), common::kFileReaderSuccess)
        << c.to << ReaderMessage();
    EXPECT_EQ(settings.windowsTimerRes, c.windowsTimerRes) << c.to;
    EXPECT_EQ(settings.pathWindowsTimerRes, c.pathWindowsTimerRes) << c.to;
  }
}

TEST(InitFileReaderTest, AngleFactorTypeChoosesAFixedFactorOrTheFileValue) {
  const std::pair<const char*, double> cases[] = {
      {"AngleToRadianFacTyp = 0 ;", std::numbers::pi / 648000.0},
      {"AngleToRadianFacTyp = 1 ;", std::numbers::pi / 10800.0},
      {"AngleToRadianFacTyp = 2 ;", 0.017453292519943295},
      {"AngleToRadianFacTyp = 3 ;", 4.8481368110953598e-06},
  };
  for (const auto& [line, factor] : cases) {
    SampleVariant file("AngleToRadianFacTyp = 0 ;", line);
    CncInitImage image;
    ASSERT_EQ(ReadCncInitSections(file.path(), image), common::kFileReaderSuccess) << line;
    EXPECT_EQ(image.record.Get(common::cnc_init_record::kAngleToRadianFac), factor) << line;
  }
}

TEST(InitFileReaderTest, ThePositionOptionGoesIntoItsRecordWordAsZeroOrOne) {
  const std::pair<const char*, std::int32_t> cases[] = {
      {"PathSmooth = false ;", 0},
      {"PathSmooth = true ;", 1},
  };
  for (const auto& [line, word] : cases) {
    SampleVariant file("PathSmooth = false ;", line);
    CncInitImage image;
    image.record.Set(common::cnc_init_record::kPathSmooth, std::int32_t{7});
    ASSERT_EQ(ReadCncInitSections(file.path(), image), common::kFileReaderSuccess) << line;
    EXPECT_EQ(image.record.Get(common::cnc_init_record::kPathSmooth), word) << line;
  }
}

struct FaultCase {
  const char* from;
  const char* to;
  common::StatusCode code;
  const char* message;
};

TEST(InitFileReaderTest, MissingListKeysStopTheReadingWithTheirMessage) {
  const FaultCase cases[] = {
      // Every coordinate is read, even beyond CoorNo (3 in the sample).
      {"LinearCoor3 = true ; (bool)", "", common::kFileReaderKeyInvalid,
       "Fehler: Variable LinearCoor3 nicht gefunden.\n"},
      {"LinearCoor8 = false ; (bool)", "", common::kFileReaderKeyInvalid,
       "Fehler: Variable LinearCoor8 nicht gefunden.\n"},
      {"NegSwe2 = -2000000.0 ; (double)\n\n; Z coordinate", "; Z coordinate",
       common::kFileReaderKeyInvalid, "Fehler: Variable NegSwe2 nicht gefunden\n"},
      {"SlaveCanNodeNo2 = 8 ; (int)", "", common::kFileReaderKeyInvalid,
       "Fehler: Variable SlaveCanNodeNo2 nicht gefunden\n"},
      {"AngleToRadianFacTyp = 0 ; (int)", "", common::kFileReaderKeyInvalid,
       "Fehler: Variable AngleToRadianFacTyp nicht gefunden\n"},
      {"AxisNo = 3 ; (int) Anzahl der Handling-Achsen", "", common::kFileReaderKeyInvalid,
       "Fehler: Variable Anzahl der Handling-Achsen nicht gefunden\n"},
      {"DeviceType3 = 0 ; (int)", "", common::kFileReaderKeyInvalid,
       "Fehler: Variable Handlingachse-DeviceType3 nicht gefunden\n"},
  };
  for (const auto& c : cases) {
    SampleVariant file(c.from, c.to);
    CncInitImage image;
    EXPECT_EQ(ReadCncInitSections(file.path(), image), c.code) << c.from;
    EXPECT_EQ(ReaderMessage(), c.message) << c.from;
  }
}

TEST(InitFileReaderTest, NonListKeysFallBackToTheDefaultList) {
  // A slave node without gantry is not read at all, and a key missing from
  // the user's file takes the default.
  SampleVariant file("SlaveCanNodeNo1 = 7 ; (int)\n", "");
  CncInitImage image;
  ASSERT_EQ(ReadCncInitSections(file.path(), image), common::kFileReaderSuccess) << ReaderMessage();
  SampleVariant noFactor("PathVelFac = 0.75 ; (double)\n", "");
  ASSERT_EQ(ReadCncInitSections(noFactor.path(), image), common::kFileReaderSuccess)
      << ReaderMessage();
  EXPECT_EQ(image.record.Get(common::cnc_init_record::kPathVelFac), 0.5);
}

TEST(InitFileReaderTest, UnreadableFilesAreReportedWithThePath) {
  CanInitSettings settings;
  EXPECT_EQ(ReadCanInitSection("/nonexistent/machine.ini", settings), common::kFileReaderNotLoaded);
  EXPECT_EQ(ReaderMessage(),
            "pst == NULL oder Fehler: Datei /nonexistent/machine.ini nicht gefunden.\n");
  CncInitImage image;
  EXPECT_EQ(ReadCncInitSections("/nonexistent/machine.ini", image), common::kFileReaderNotLoaded);
  EXPECT_EQ(ReaderMessage(),
            "pst == NULL oder Error: Datei /nonexistent/machine.ini nicht gefunden !\n");
}

TEST(InitFileReaderTest, AFileThatFailsTheCheckIsRefused) {
  SampleVariant file("BaudRateForCan = 5 ;", "BaudRateForCan = 500 ;");
  CanInitSettings settings;
  EXPECT_EQ(ReadCanInitSection(file.path(), settings), common::kFileReaderNotLoaded);
  EXPECT_NE(ReaderMessage(), "OK\n");
}

TEST(InitRecordsTest, DeviceNamesFollowInterfaceAndChannel) {
  EXPECT_EQ(DeviceNameFor(0, 1), "Ravund");
  EXPECT_EQ(DeviceNameFor(1, 0), "Pelmar104");
  EXPECT_EQ(DeviceNameFor(2, 1), "tarnis1");
  EXPECT_EQ(DeviceNameFor(2, 4), "tarnis4");
  EXPECT_FALSE(DeviceNameFor(2, 0));
  EXPECT_FALSE(DeviceNameFor(2, 5));
  EXPECT_FALSE(DeviceNameFor(3, 1));
}

TEST(InitRecordsTest, PackingRefusesCountsBeyondTheLists) {
  const std::array<std::array<int, 3>, 5> cases = {
      {{9, 0, 0}, {0, 9, 0}, {0, 0, 7}, {-1, 0, 0}, {8, 8, 6}}};
  for (const auto& counts : cases) {
    CncInitImage image;
    image.record.Set(common::cnc_init_record::kCoorNo, counts[0]);
    image.record.Set(common::cnc_init_record::kAxisNo, counts[1]);
    image.record.Set(common::cnc_init_record::kHandlingAxisNo, counts[2]);
    const bool fits = counts[0] >= 0 && counts[0] <= 8 && counts[1] <= 8 && counts[2] <= 6;
    EXPECT_EQ(PackCncInitPayload(image).has_value(), fits);
  }
}

}  // namespace
}  // namespace vantor::interface
