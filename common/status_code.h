// Result codes of every export, kernel command and driver request.
//
// A StatusCode is laid out like the operating system's status words:
// bits 31-30 severity (0 success, 3 error), bits 27-16 the facility,
// bits 15-0 the number. Each component reports under its own facility, and
// users see a code as "0xC9140002 (3-2324-2)" followed by its text.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vantor::common {

using StatusCode = std::uint32_t;

// Facilities. Shown to users in decimal: 0x910 is 2320, 0x913 is 2323, ...
inline constexpr std::uint32_t kFacilityDriver = 0x910;      // CAN interface drivers
inline constexpr std::uint32_t kFacilityKernel = 0x913;      // kernel process
inline constexpr std::uint32_t kFacilityLibrary = 0x914;     // interface library
inline constexpr std::uint32_t kFacilityFileReader = 0x915;  // library-internal file reader

inline constexpr std::uint32_t kSeveritySuccess = 0;
inline constexpr std::uint32_t kSeverityError = 3;

constexpr std::uint32_t StatusSeverity(StatusCode code) noexcept { return code >> 30; }
constexpr std::uint32_t StatusFacility(StatusCode code) noexcept { return (code >> 16) & 0xFFFu; }
constexpr std::uint32_t StatusNumber(StatusCode code) noexcept { return code & 0xFFFFu; }
constexpr bool IsSuccess(StatusCode code) noexcept {
  return StatusSeverity(code) == kSeveritySuccess;
}

constexpr StatusCode MakeStatusCode(std::uint32_t severity, std::uint32_t facility,
                                    std::uint32_t number) noexcept {
  return ((severity & 0x3u) << 30) | ((facility & 0xFFFu) << 16) | (number & 0xFFFFu);
}

constexpr StatusCode SuccessCode(std::uint32_t facility) noexcept {
  return MakeStatusCode(kSeveritySuccess, facility, 0);
}
constexpr StatusCode ErrorCode(std::uint32_t facility, std::uint32_t number) noexcept {
  return MakeStatusCode(kSeverityError, facility, number);
}

// ---- Success words -------------------------------------------------------
inline constexpr StatusCode kDriverSuccess = 0x09100000;
inline constexpr StatusCode kKernelSuccess = 0x09130000;
inline constexpr StatusCode kLibrarySuccess = 0x09140000;
inline constexpr StatusCode kFileReaderSuccess = 0x09150000;

// ---- CAN interface drivers (facility 2320) -------------------------------
inline constexpr StatusCode kDriverNoIsaBus = 0xC9100001;
inline constexpr StatusCode kDriverOutOfMemory = 0xC9100002;
inline constexpr StatusCode kDriverClaimedByOther = 0xC9100003;
inline constexpr StatusCode kDriverHardwareConflict = 0xC9100004;
inline constexpr StatusCode kDriverBaseDeviceMissing = 0xC9100005;
inline constexpr StatusCode kDriverBaseDeviceInUse = 0xC9100006;
inline constexpr StatusCode kDriverInterruptConnectFailed = 0xC9100007;
inline constexpr StatusCode kDriverNoController = 0xC9100008;
inline constexpr StatusCode kDriverRunNotStopped = 0xC9100009;
inline constexpr StatusCode kDriverNoRun = 0xC910000A;
inline constexpr StatusCode kDriverInvalidRunRecord = 0xC910000B;
inline constexpr StatusCode kDriverRunActive = 0xC910000C;
inline constexpr StatusCode kDriverNotOwner = 0xC910000D;
inline constexpr StatusCode kDriverBufferedRunRefused = 0xC910000E;
inline constexpr StatusCode kDriverBusOff = 0xC910000F;
inline constexpr StatusCode kDriverLatencyNotMeasured = 0xC9100010;
inline constexpr std::uint32_t kDriverHighestNumber = 0x10;

// ---- Kernel (facility 2323) ----------------------------------------------
inline constexpr StatusCode kKernelWrongFunctionNumber = 0xC9130001;
inline constexpr StatusCode kKernelOutOfResources = 0xC9130002;
inline constexpr StatusCode kKernelDriverMissing = 0xC9130003;
inline constexpr StatusCode kKernelCanOperationInactive = 0xC9130004;
inline constexpr StatusCode kKernelCanBusDisturbed = 0xC9130005;
inline constexpr StatusCode kKernelCanMessageTimeout = 0xC9130006;
inline constexpr StatusCode kKernelCanMessageInvalid = 0xC9130007;
inline constexpr StatusCode kKernelPdoParameterInvalid = 0xC9130008;
inline constexpr StatusCode kKernelNmtError = 0xC9130009;
inline constexpr StatusCode kKernelCncNotInitialized = 0xC913000A;
inline constexpr StatusCode kKernelInitParameterInvalid = 0xC913000B;
inline constexpr StatusCode kKernelSyncObjectFailed = 0xC913000C;
inline constexpr StatusCode kKernelOperationFailed = 0xC913000D;
inline constexpr StatusCode kKernelOperationFailedSeriously = 0xC913000E;
inline constexpr StatusCode kKernelNodeWasInErrorState = 0xC913000F;
inline constexpr StatusCode kKernelNodeInErrorState = 0xC9130010;
inline constexpr StatusCode kKernelExternalNodeControlForbidden = 0xC9130011;
inline constexpr StatusCode kKernelNodeParameterInvalid = 0xC9130012;
inline constexpr StatusCode kKernelNodeAnswerUnknown = 0xC9130013;
inline constexpr StatusCode kKernelHomingInternalError = 0xC9130014;
inline constexpr StatusCode kKernelHomingBroken = 0xC9130015;
inline constexpr StatusCode kKernelHomingActive = 0xC9130016;
inline constexpr StatusCode kKernelStopModeActive = 0xC9130017;
inline constexpr StatusCode kKernelBreakModeActive = 0xC9130018;
inline constexpr StatusCode kKernelTeachInModeActive = 0xC9130019;
inline constexpr StatusCode kKernelManualModeActive = 0xC913001A;
inline constexpr StatusCode kKernelTestModeActive = 0xC913001B;
inline constexpr StatusCode kKernelLimitSwitchBridgeActive = 0xC913001C;
inline constexpr StatusCode kKernelLimitSwitchMoveOutActive = 0xC913001D;
inline constexpr StatusCode kKernelQuickStopActive = 0xC913001E;
inline constexpr StatusCode kKernelSoftwareLimitViolated = 0xC913001F;
inline constexpr StatusCode kKernelAxisLimitExceeded = 0xC9130020;
inline constexpr StatusCode kKernelMovementDataInvalid = 0xC9130021;
inline constexpr StatusCode kKernelPathBufferError = 0xC9130022;
inline constexpr StatusCode kKernelSegmentMotionAlreadyActive = 0xC9130023;
inline constexpr StatusCode kKernelMovementSegmentActive = 0xC9130024;
inline constexpr StatusCode kKernelPathModeError = 0xC9130025;
inline constexpr StatusCode kKernelPathCoordinateCountInvalid = 0xC9130026;
inline constexpr StatusCode kKernelAxisNumberInvalid = 0xC9130027;
inline constexpr StatusCode kKernelVelocityInvalid = 0xC9130028;
inline constexpr StatusCode kKernelPeripheryPdoInvalid = 0xC9130029;
inline constexpr StatusCode kKernelGearRatioUnavailable = 0xC913002A;
inline constexpr StatusCode kKernelGearRatioInvalid = 0xC913002B;
inline constexpr StatusCode kKernelRampParameterInvalid = 0xC913002C;
inline constexpr StatusCode kKernelCylinderModeActive = 0xC913002D;
inline constexpr StatusCode kKernelCylinderParameterInvalid = 0xC913002E;
inline constexpr StatusCode kKernelSoftwareLimitParameterInvalid = 0xC913002F;
inline constexpr StatusCode kKernelHandlingSubModeInvalid = 0xC9130030;
inline constexpr StatusCode kKernelResetNotDone = 0xC9130031;
inline constexpr StatusCode kKernelGantryCompensationFailed = 0xC9130032;
inline constexpr StatusCode kKernelDriveFirmwareWrong = 0xC9130033;
inline constexpr StatusCode kKernelAdConverterNotInitialized = 0xC9130034;
inline constexpr StatusCode kKernelAdConverterActive = 0xC9130035;
inline constexpr StatusCode kKernelDistanceControlDataInvalid = 0xC9130036;
inline constexpr StatusCode kKernelDistanceControlAreaNotSet = 0xC9130037;
inline constexpr StatusCode kKernelDistanceControlActive = 0xC9130038;
inline constexpr StatusCode kKernelTimeLimitationOutOfRange = 0xC9130039;
inline constexpr StatusCode kKernelStopOnInputNotInitialized = 0xC913003A;
inline constexpr StatusCode kKernelStopOnInputParameterInvalid = 0xC913003B;
inline constexpr StatusCode kKernelInputPortModeInvalid = 0xC913003C;
inline constexpr StatusCode kKernelStopOnInputAlreadyInitialized = 0xC913003D;
inline constexpr StatusCode kKernelStopOnInputInAction = 0xC913003E;
inline constexpr StatusCode kKernelStopOnInputStopActive = 0xC913003F;
inline constexpr StatusCode kKernelStopOnInputNotLatched = 0xC9130040;
inline constexpr StatusCode kKernelInputPortParameterInvalid = 0xC9130041;
inline constexpr StatusCode kKernelNoHandwheel = 0xC9130042;
inline constexpr StatusCode kKernelHandwheelNotInitialized = 0xC9130043;
inline constexpr StatusCode kKernelHandwheelAlreadyInitialized = 0xC9130044;
inline constexpr StatusCode kKernelHandlingAxisActive = 0xC9130045;
inline constexpr StatusCode kKernelAxisExchangeActive = 0xC9130046;
inline constexpr StatusCode kKernelHandwheelAlreadyActive = 0xC9130047;
inline constexpr StatusCode kKernelHandwheelParameterInvalid = 0xC9130048;
inline constexpr StatusCode kKernelHandwheelOperationFailed = 0xC9130049;
inline constexpr StatusCode kKernelHandwheelErrorState = 0xC913004A;
inline constexpr StatusCode kKernelHandwheelAxisErrorState = 0xC913004B;
inline constexpr StatusCode kKernelHandwheelDataUnavailable = 0xC913004C;
inline constexpr StatusCode kKernelHandwheelNotLatched = 0xC913004D;
inline constexpr StatusCode kKernelExternalHandlingAxisError = 0xC913004E;
inline constexpr StatusCode kKernelVelPropOutputInactive = 0xC913004F;
inline constexpr StatusCode kKernelVelPropOutputAlreadyActive = 0xC9130050;
inline constexpr StatusCode kKernelVelPropOutputParameterInvalid = 0xC9130051;
inline constexpr StatusCode kKernelPlaneRotationParameterInvalid = 0xC9130052;
inline constexpr StatusCode kKernelPlaneRotationActive = 0xC9130053;
inline constexpr StatusCode kKernelPathVelocityFactorInvalid = 0xC9130054;
inline constexpr std::uint32_t kKernelHighestNumber = 0x54;

// ---- Interface library (facility 2324) -----------------------------------
inline constexpr StatusCode kLibraryInitFileInvalid = 0xC9140001;
inline constexpr StatusCode kLibraryNotInitialized = 0xC9140002;
inline constexpr StatusCode kLibraryAlreadyInitialized = 0xC9140003;
inline constexpr StatusCode kLibraryOutOfResources = 0xC9140004;
inline constexpr StatusCode kLibraryFeatureUnavailable = 0xC9140005;
inline constexpr StatusCode kLibraryCallParameterInvalid = 0xC9140006;
inline constexpr StatusCode kLibraryWrongCanInterface = 0xC9140007;
inline constexpr StatusCode kLibraryWrongKernelMode = 0xC9140008;
inline constexpr StatusCode kLibraryKernelNotFound = 0xC9140009;
inline constexpr StatusCode kLibraryWatchNotFound = 0xC914000A;
inline constexpr StatusCode kLibraryCncNotInitialized = 0xC914000B;
inline constexpr StatusCode kLibraryCncAlreadyInitialized = 0xC914000C;
inline constexpr StatusCode kLibraryDllPathBufferActive = 0xC914000D;
// The same code from an append to a DLL path buffer that holds no more.
inline constexpr StatusCode kLibraryPathBufferFull = kLibraryDllPathBufferActive;
inline constexpr StatusCode kLibraryRecordSizeMismatch = 0xC914000E;  // "Wrong software-version!"
inline constexpr StatusCode kLibraryBufferTooSmall = 0xC914000F;
inline constexpr std::uint32_t kLibraryHighestNumber = 0x0F;

// ---- File reader inside the library (facility 2325, never exported) ------
inline constexpr StatusCode kFileReaderKeyInvalid = 0xC9150001;
inline constexpr StatusCode kFileReaderNotLoaded = 0xC9150003;

// A driver's success becomes the kernel's success; every other driver code
// is passed on unchanged.
constexpr StatusCode KernelResultFromDriver(StatusCode driver) noexcept {
  return driver == kDriverSuccess ? kKernelSuccess : driver;
}

// The kernel's success becomes the library's success; every other code is
// passed on unchanged.
constexpr StatusCode LibraryResultFromKernel(StatusCode kernel) noexcept {
  return kernel == kKernelSuccess ? kLibrarySuccess : kernel;
}

// The display prefix "0xC9140002 (3-2324-2)": the code in eight upper-case
// hexadecimal digits, then severity, facility and number in decimal.
struct StatusPrefix {
  // "0x" + 8 digits + " (" + 1 + "-" + 4 + "-" + 5 + ")" = 25 characters.
  static constexpr std::size_t kMaxLength = 25;
  std::array<char, kMaxLength + 1> chars{};
  std::size_t length = 0;

  constexpr std::string_view View() const noexcept { return {chars.data(), length}; }
  constexpr const char* CStr() const noexcept { return chars.data(); }
};

namespace detail {

constexpr void AppendChar(StatusPrefix& prefix, char c) noexcept {
  if (prefix.length < StatusPrefix::kMaxLength) prefix.chars[prefix.length++] = c;
}

constexpr void AppendDecimal(StatusPrefix& prefix, std::uint32_t value) noexcept {
  char digits[10] = {};
  std::size_t count = 0;
  do {
    digits[count++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (count > 0) AppendChar(prefix, digits[--count]);
}

}  // namespace detail

constexpr StatusPrefix FormatStatusPrefix(StatusCode code) noexcept {
  constexpr char kHexDigits[] = "0123456789ABCDEF";
  StatusPrefix prefix;
  detail::AppendChar(prefix, '0');
  detail::AppendChar(prefix, 'x');
  for (int shift = 28; shift >= 0; shift -= 4) {
    detail::AppendChar(prefix, kHexDigits[(code >> shift) & 0xFu]);
  }
  detail::AppendChar(prefix, ' ');
  detail::AppendChar(prefix, '(');
  detail::AppendDecimal(prefix, StatusSeverity(code));
  detail::AppendChar(prefix, '-');
  detail::AppendDecimal(prefix, StatusFacility(code));
  detail::AppendChar(prefix, '-');
  detail::AppendDecimal(prefix, StatusNumber(code));
  detail::AppendChar(prefix, ')');
  prefix.chars[prefix.length] = '\0';
  return prefix;
}

static_assert(FormatStatusPrefix(kLibraryNotInitialized).View() == "0xC9140002 (3-2324-2)");
static_assert(MakeStatusCode(kSeverityError, kFacilityKernel, 0x3A) == 0xC913003A);
static_assert(SuccessCode(kFacilityDriver) == kDriverSuccess);

}  // namespace vantor::common
