#include "interface/init_file_reader.h"

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <numbers>
#include <optional>

#include "paramfile/paramfile.h"

namespace vantor::interface {
namespace {

namespace pf = paramfile;
namespace hw = common::can_hardware_parameters;
namespace cir = common::cnc_init_record;

std::mutex messageMutex;
std::string readerMessage = "OK\n";

void SetMessage(std::string text) {
  std::lock_guard lock(messageMutex);
  readerMessage = std::move(text);
}

std::string FormatWithText(const char* format, std::string_view text) {
  const std::string value(text);
  const int length = std::snprintf(nullptr, 0, format, value.c_str());
  if (length <= 0) return format;
  std::string message(static_cast<std::size_t>(length) + 1, '\0');
  std::snprintf(message.data(), message.size(), format, value.c_str());
  message.resize(static_cast<std::size_t>(length));
  return message;
}

std::string MissingKeyMessage(std::string_view key) {
  return "Fehler: Variable " + std::string(key) + " nicht gefunden oder fehlerhaft.\n";
}

// The user's file and the default list; a key is looked up in the first
// and, failing that, in the second.
struct Sources {
  const pf::ParameterList* user = nullptr;
  const pf::ParameterList* defaults = nullptr;
};

// Flags are stored as bool in the file but travel as words: a bool value
// reads as 0 or 1, any integer value as itself.
std::optional<std::int32_t> ReadWord(const pf::ParameterList& list, std::string_view group,
                                     std::string_view key) {
  bool flag = false;
  const auto asBool = pf::GetParameterBool(list, group, key, flag);
  if (asBool == pf::AccessResult::Ok) return flag ? 1 : 0;
  if (asBool == pf::AccessResult::Missing) return std::nullopt;
  std::int32_t value = 0;
  if (pf::GetParameterLong(list, group, key, value) == pf::AccessResult::Ok) return value;
  return std::nullopt;
}

std::optional<std::int16_t> ReadShort(const pf::ParameterList& list, std::string_view group,
                                      std::string_view key) {
  std::int16_t value = 0;
  if (pf::GetParameterShort(list, group, key, value) == pf::AccessResult::Ok) return value;
  return std::nullopt;
}

std::optional<std::uint8_t> ReadByte(const pf::ParameterList& list, std::string_view group,
                                     std::string_view key) {
  std::uint8_t value = 0;
  if (pf::GetParameterByte(list, group, key, value) == pf::AccessResult::Ok) return value;
  return std::nullopt;
}

std::optional<double> ReadDouble(const pf::ParameterList& list, std::string_view group,
                                 std::string_view key) {
  double value = 0;
  if (pf::GetParameterDouble(list, group, key, value) == pf::AccessResult::Ok) return value;
  return std::nullopt;
}

std::optional<std::string> ReadText(const pf::ParameterList& list, std::string_view group,
                                    std::string_view key) {
  std::string value;
  if (pf::GetParameterString(list, group, key, value) == pf::AccessResult::Ok) return value;
  return std::nullopt;
}

template <typename Reader>
auto Lookup(const Sources& sources, std::string_view group, std::string_view key, Reader read)
    -> decltype(read(*sources.user, group, key)) {
  if (auto value = read(*sources.user, group, key)) return value;
  return read(*sources.defaults, group, key);
}

// Reads a key from both sources; on failure sets the message and makes the
// reading stop with the reader's key error.
class KeyReader {
 public:
  explicit KeyReader(const Sources& sources) : sources_(sources) {}

  bool failed() const { return failed_; }

  std::uint32_t Word(std::string_view group, std::string_view key) {
    return static_cast<std::uint32_t>(Take(Lookup(sources_, group, key, ReadWord), key));
  }
  std::int16_t Short(std::string_view group, std::string_view key) {
    return Take(Lookup(sources_, group, key, ReadShort), key);
  }
  std::uint8_t Byte(std::string_view group, std::string_view key) {
    return Take(Lookup(sources_, group, key, ReadByte), key);
  }
  double Double(std::string_view group, std::string_view key) {
    return Take(Lookup(sources_, group, key, ReadDouble), key);
  }
  std::string Text(std::string_view group, std::string_view key, std::string_view message) {
    auto value = Lookup(sources_, group, key, ReadText);
    if (!value) Fail(std::string(message));
    return value.value_or(std::string());
  }

  void Fail(std::string message) {
    if (failed_) return;
    failed_ = true;
    SetMessage(std::move(message));
  }

 private:
  template <typename T>
  T Take(const std::optional<T>& value, std::string_view key) {
    if (!value) {
      Fail(MissingKeyMessage(key));
      return T{};
    }
    return *value;
  }

  const Sources& sources_;
  bool failed_ = false;
};

struct LoadedFiles {
  std::optional<pf::ParameterList> user;
  pf::ParameterList defaults;
};

std::optional<pf::ParameterList> LoadUserFile(std::string_view path) {
  pf::LoadError error = pf::LoadError::None;
  return pf::LoadParameterFile(std::filesystem::path(std::string(path)),
                               pf::SchemaEdition::InterfaceLibrary, &error);
}

pf::ParameterList LoadDefaultList() {
  return pf::CreateDefaultParameterList(
      pf::InitialisationFileSchema(pf::SchemaEdition::InterfaceLibrary), false);
}

bool CheckUserFile(const pf::ParameterList& user) {
  const auto check = pf::CheckParameterFile(user);
  if (!check.faultFound) return true;
  SetMessage(check.message);
  return false;
}

double AngleToRadianFactorOfType(std::int32_t type, bool& fixed) {
  fixed = true;
  switch (type) {
    case 0:
      return std::numbers::pi / 648000.0;  // arc seconds
    case 1:
      return std::numbers::pi / 10800.0;  // arc minutes
    case 2:
      return std::numbers::pi / 180.0;  // degrees
    default:
      fixed = false;
      return 0.0;
  }
}

std::string Numbered(std::string_view key, int n) { return std::string(key) + std::to_string(n); }

// The keys of one list entry come from the user's file alone.
class ListReader {
 public:
  explicit ListReader(const pf::ParameterList& user) : user_(user) {}
  bool failed() const { return failed_; }

  std::uint32_t Word(std::string_view group, const std::string& key, const char* format) {
    auto value = ReadWord(user_, group, key);
    if (!value) Fail(FormatWithText(format, key));
    return static_cast<std::uint32_t>(value.value_or(0));
  }
  double Double(std::string_view group, const std::string& key, const char* format) {
    auto value = ReadDouble(user_, group, key);
    if (!value) Fail(FormatWithText(format, key));
    return value.value_or(0.0);
  }
  void Fail(std::string message) {
    if (failed_) return;
    failed_ = true;
    SetMessage(std::move(message));
  }

 private:
  const pf::ParameterList& user_;
  bool failed_ = false;
};

constexpr const char* kMissingWithPeriod = "Fehler: Variable %s nicht gefunden.\n";
constexpr const char* kMissingWithoutPeriod = "Fehler: Variable %s nicht gefunden\n";
constexpr const char* kMissingHandlingKey = "Fehler: Variable Handlingachse-%s nicht gefunden\n";

common::StatusCode ReadCoordinatesAndAxes(const pf::ParameterList& user, CncInitImage& image) {
  namespace ce = common::coordinate_entry;
  namespace ae = common::axis_entry;
  ListReader reader(user);
  for (int n = 1; n <= cir::kMaxCoordinates && !reader.failed(); ++n) {
    auto& entry = image.coordinates[static_cast<std::size_t>(n - 1)];
    entry = CoordinateEntry{};
    entry.Set(ce::kLinearCoor, static_cast<std::int32_t>(reader.Word(
                                   "Coordinates", Numbered("LinearCoor", n), kMissingWithPeriod)));
    entry.Set(ce::kPathCoor, static_cast<std::int32_t>(reader.Word(
                                 "Coordinates", Numbered("PathCoor", n), kMissingWithPeriod)));
    entry.Set(ce::kSweEnable, static_cast<std::int32_t>(reader.Word(
                                  "Coordinates", Numbered("SweEnable", n), kMissingWithPeriod)));
    entry.Set(ce::kPosSwe, reader.Double("Coordinates", Numbered("PosSwe", n), kMissingWithPeriod));
    entry.Set(ce::kNegSwe,
              reader.Double("Coordinates", Numbered("NegSwe", n), kMissingWithoutPeriod));
  }
  for (int n = 1; n <= cir::kMaxAxes && !reader.failed(); ++n) {
    auto& entry = image.axes[static_cast<std::size_t>(n - 1)];
    entry = AxisEntry{};
    entry.Set(ae::kCanNodeNo, static_cast<std::int32_t>(reader.Word(
                                  "Axis", Numbered("CanNodeNo", n), kMissingWithoutPeriod)));
    const bool gantry = reader.Word("Axis", Numbered("Gantry", n), kMissingWithPeriod) != 0;
    entry.Set(ae::kGantry, gantry ? 1 : 0);
    if (gantry) {
      entry.Set(ae::kSlaveCanNodeNo,
                static_cast<std::int32_t>(
                    reader.Word("Axis", Numbered("SlaveCanNodeNo", n), kMissingWithoutPeriod)));
    }
  }
  return reader.failed() ? common::kFileReaderKeyInvalid : common::kFileReaderSuccess;
}

common::StatusCode ReadHandlingAxes(const pf::ParameterList& user, CncInitImage& image) {
  namespace he = common::handling_axis_entry;
  ListReader reader(user);
  const auto count = ReadWord(user, "HandlingAxis", "AxisNo");
  if (!count) {
    SetMessage(FormatWithText(kMissingWithoutPeriod, "Anzahl der Handling-Achsen"));
    return common::kFileReaderKeyInvalid;
  }
  int entries = 0;
  const int declared = std::min<std::int32_t>(*count, cir::kMaxHandlingAxes);
  for (int k = 1; k <= declared && !reader.failed(); ++k) {
    const bool serial =
        reader.Word("HandlingAxis", Numbered("Serial", k), kMissingHandlingKey) != 0;
    if (serial || reader.failed()) continue;
    auto& entry = image.handlingAxes[static_cast<std::size_t>(entries)];
    entry = HandlingAxisEntry{};
    entry.Set(he::kCanNodeNo, static_cast<std::int32_t>(reader.Word(
                                  "HandlingAxis", Numbered("CanNodeNo", k), kMissingHandlingKey)));
    const auto deviceType =
        reader.Word("HandlingAxis", Numbered("DeviceType", k), kMissingHandlingKey);
    entry.Set(he::kDeviceTypeFlag, deviceType == 1 ? 1 : 0);
    ++entries;
  }
  image.record.Set(cir::kHandlingAxisNo, entries);
  return reader.failed() ? common::kFileReaderKeyInvalid : common::kFileReaderSuccess;
}

}  // namespace

std::string ReaderMessage() {
  std::lock_guard lock(messageMutex);
  return readerMessage;
}

common::StatusCode ReadCanInitSection(std::string_view path, CanInitSettings& settings) {
  const pf::ParameterList defaults = LoadDefaultList();
  if (defaults.empty()) {
    SetMessage("pstdefault == NULL !\n");
    return common::kFileReaderNotLoaded;
  }
  const auto user = LoadUserFile(path);
  if (!user) {
    SetMessage(FormatWithText("pst == NULL oder Fehler: Datei %s nicht gefunden.\n", path));
    return common::kFileReaderNotLoaded;
  }
  if (!CheckUserFile(*user)) return common::kFileReaderNotLoaded;

  const Sources sources{&*user, &defaults};
  KeyReader read(sources);
  CanInitSettings result = settings;
  auto& hardware = result.hardware;
  result.declareMode = read.Word("CANInit", "DeclareMode");
  if (!read.failed()) result.kernelShared = read.Word("CANInit", "KernelShared");
  if (!read.failed()) result.popupMenuActive = read.Word("CANInit", "PopupMenuActive");
  if (!read.failed()) hardware.Set(hw::kCanInterface, read.Byte("", "CanInterface"));
  if (!read.failed()) hardware.Set(hw::kBaudRateForCan, read.Byte("", "BaudRateForCan"));
  if (!read.failed()) hardware.Set(hw::kKernelModus, read.Byte("", "KernelModus"));
  if (!read.failed()) hardware.Set(hw::kMeasureLatenzTime, read.Word("", "MeasureLatenzTime"));
  if (!read.failed()) {
    hardware.Set(hw::kLookAheadDesPosiMaxNo, read.Short("", "LookAheadDesPosiMaxNo"));
  }
  if (!read.failed()) hardware.Set(hw::kInterruptCycle, read.Word("", "InterruptCycle"));
  if (!read.failed()) {
    hardware.Set(hw::kTimeForGlobalSynPeriod, read.Word("", "TimeForGlobalSynPeriod"));
  }
  if (!read.failed()) hardware.Set(hw::kSynMaxWaitTime, read.Word("", "SynMaxWaitTime"));
  std::uint32_t timerEnable = 0;
  std::uint32_t timerResolution = 0;
  std::uint32_t pathTimerEnable = 0;
  std::uint32_t pathTimerResolution = 0;
  if (!read.failed()) timerEnable = read.Word("", "WindowsTimerResEnable");
  if (!read.failed()) timerResolution = read.Word("", "WindowsTimerRes");
  if (!read.failed()) pathTimerEnable = read.Word("", "PathWindowsTimerResEnable");
  if (!read.failed()) pathTimerResolution = read.Word("", "PathWindowsTimerRes");
  if (!read.failed()) {
    result.realTimeThreadIntWaitTime = read.Word("", "RealTimeThreadIntWaitTime");
  }
  if (read.failed()) return common::kFileReaderKeyInvalid;

  result.windowsTimerRes = timerEnable != 0 ? timerResolution : 0;
  result.pathWindowsTimerRes = pathTimerEnable != 0 ? pathTimerResolution : 0;
  settings = std::move(result);
  return common::kFileReaderSuccess;
}

common::StatusCode ReadCncInitSections(std::string_view path, CncInitImage& image) {
  const auto user = LoadUserFile(path);
  if (!user) {
    SetMessage(FormatWithText("pst == NULL oder Error: Datei %s nicht gefunden !\n", path));
    return common::kFileReaderNotLoaded;
  }
  const pf::ParameterList defaults = LoadDefaultList();
  if (defaults.empty()) {
    SetMessage("pstdefault == NULL !\n");
    return common::kFileReaderNotLoaded;
  }
  if (!CheckUserFile(*user)) return common::kFileReaderNotLoaded;

  const Sources sources{&*user, &defaults};
  KeyReader read(sources);
  CncInitImage result = image;
  auto& record = result.record;
  // Each step reads one key; the first key that is found nowhere ends the
  // reading, so later keys are not even looked at.
  const auto word = [&](auto field, std::string_view group, std::string_view key) {
    using Value = typename decltype(field)::Type;
    if (!read.failed()) record.Set(field, static_cast<Value>(read.Word(group, key)));
  };
  const auto real = [&](auto field, std::string_view key) {
    if (!read.failed()) record.Set(field, read.Double("", key));
  };
  const auto shortValue = [&](auto field, std::string_view key) {
    if (!read.failed()) record.Set(field, read.Short("", key));
  };

  word(cir::kStartUpMode, "CNCInit", "StartUpMode");
  word(cir::kDeclareMode, "CNCInit", "DeclareMode");
  word(cir::kCncKernelShared, "", "CncKernelShared");
  word(cir::kCoor32BitFormat, "", "Coor32BitFormat");
  word(cir::kMeasureCncCheckTime, "", "MeasureCncCheckTime");
  word(cir::kCoorNo, "", "CoorNo");
  word(cir::kInterAxisNo, "", "InterAxisNo");
  word(cir::kAxisNo, "Axis", "AxisNo");
  real(cir::kLinearTeachInVel, "LinearTeachInVel");
  real(cir::kRotationTeachInVel, "RotationTeachInVel");
  real(cir::kLinearFastVel, "LinearFastVel");
  real(cir::kRotationFastVel, "RotationFastVel");
  real(cir::kLinearProcessVel, "LinearProcessVel");
  real(cir::kRotationProcessVel, "RotationProcessVel");
  real(cir::kCircleVelFac, "CircleVelFac");
  real(cir::kRadiusRoundingError, "RadiusRoundingError");
  real(cir::kAngleRoundingError, "AngleRoundingError");
  real(cir::kRadiusError, "RadiusError");
  real(cir::kPathError, "PathError");
  word(cir::kPathSmooth, "", "PathSmooth");
  real(cir::kPathVelFac, "PathVelFac");
  real(cir::kCarryAxisVelFac, "CarryAxisVelFac");
  real(cir::kMaxOverride, "MaxOverride");
  word(cir::kDllPathPufVecMaxNo, "", "DllPathPufVecMaxNo");
  shortValue(cir::kTeachInLookAheadDesPosiMaxNo, "TeachInLookAheadDesPosiMaxNo");
  shortValue(cir::kTeachInAmplifyMaxNoBufferedDesCoor, "TeachInAmplifyMaxNoBufferedDesCoor");
  if (read.failed()) return common::kFileReaderKeyInvalid;

  const auto angleType = ReadWord(*user, "TechPara", "AngleToRadianFacTyp");
  if (!angleType) {
    SetMessage("Fehler: Variable AngleToRadianFacTyp nicht gefunden\n");
    return common::kFileReaderKeyInvalid;
  }
  bool fixedFactor = false;
  const double factor = AngleToRadianFactorOfType(*angleType, fixedFactor);
  if (fixedFactor) {
    record.Set(cir::kAngleToRadianFac, factor);
  } else {
    real(cir::kAngleToRadianFac, "AngleToRadianFac");
  }

  real(cir::kNoMoveVel, "NoMoveVel");
  real(cir::kMoveEndMaxWaitTime, "MoveEndMaxWaitTime");
  real(cir::kMaxTimeForCalAverageVel, "MaxTimeForCalAverageVel");
  word(cir::kCalFollowError, "", "CalFollowError");
  real(cir::kFollowErrorSafetyFac, "FollowErrorSafetyFac");
  real(cir::kSafetyDistance, "SafetyDistance");
  shortValue(cir::kAmplifyMaxNoBufferedDesCoor, "AmplifyMaxNoBufferedDesCoor");
  word(cir::kMaxNoBufferedPathVec, "", "MaxNoBufferedPathVec");
  real(cir::kCanMsgMaxWaitTime, "CanMsgMaxWaitTime");
  real(cir::kResetNodeDelayTime, "ResetNodeDelayTime");
  word(cir::kSynNodeNo, "", "SynNodeNo");
  word(cir::kCartesianCoor, "", "CartesianCoor");
  if (!read.failed()) {
    const auto text = read.Text("", "CanMCDLL", MissingKeyMessage("CanMCDLL"));
    if (!read.failed() && !record.SetText(cir::kCanMCDLL, text)) {
      read.Fail(MissingKeyMessage("CanMCDLL"));
    }
  }
  if (!read.failed()) {
    constexpr std::string_view kMessage =
        "Fehler: Variable Axis->AxisCorrectionFile nicht gefunden oder fehlerhaft.\n";
    const auto text = read.Text("Axis", "AxisCorrectionFile", kMessage);
    if (!read.failed() && !record.SetText(cir::kAxisCorrectionFile, text)) {
      read.Fail(std::string(kMessage));
    }
  }
  if (!read.failed()) {
    const auto value = Lookup(sources, "Axis", "AxisCorrectionEnable", ReadWord);
    if (value) {
      record.Set(cir::kAxisCorrectionEnable, static_cast<std::uint32_t>(*value));
    } else {
      read.Fail("Fehler: Variable Axis->AxisCorrectionEnable nicht gefunden oder fehlerhaft.\n");
    }
  }
  if (read.failed()) return common::kFileReaderKeyInvalid;

  if (ReadCoordinatesAndAxes(*user, result) != common::kFileReaderSuccess ||
      ReadHandlingAxes(*user, result) != common::kFileReaderSuccess) {
    return common::kFileReaderKeyInvalid;
  }

  const auto handwheelActive = Lookup(sources, "Handwheel", "HandwheelActive", ReadWord);
  const auto handwheelNode = Lookup(sources, "Handwheel", "HandwheelCanNodeNo", ReadWord);
  const auto inhibitTime = Lookup(sources, "Handwheel", "HandwheelInhibitTime", ReadShort);
  const auto guardTime = Lookup(sources, "Handwheel", "HandwheelGuardTime", ReadShort);
  const auto modell = Lookup(sources, "Handwheel", "HandwheelModell", ReadText);
  const auto fail = [&](std::string message) {
    read.Fail(std::move(message));
    return common::kFileReaderKeyInvalid;
  };
  if (!handwheelActive) return fail(MissingKeyMessage("HandwheelActive"));
  if (!handwheelNode) return fail(MissingKeyMessage("HandwheelCanNodeNo"));
  if (!inhibitTime) return fail(MissingKeyMessage("HandwheelInhibitTime"));
  if (!guardTime) return fail(MissingKeyMessage("HandwheelGuardTime"));
  if (!modell || !record.SetText(cir::kHandwheelModell, *modell)) {
    return fail("Fehler: Variable Handwheel->HandwheelModell nicht gefunden oder fehlerhaft.\n");
  }
  record.Set(cir::kHandwheelActive, *handwheelActive != 0 ? 1u : 0u);
  record.Set(cir::kHandwheelCanNodeNo, *handwheelNode);
  record.Set(cir::kHandwheelInhibitTime, *inhibitTime);
  record.Set(cir::kHandwheelGuardTime, *guardTime);

  image = std::move(result);
  return common::kFileReaderSuccess;
}

}  // namespace vantor::interface
