#include "common/status_code.h"

#include <gtest/gtest.h>

namespace vantor::common {
namespace {

struct PrefixCase {
  StatusCode code;
  const char* prefix;
};

TEST(StatusCodeTest, DisplayPrefixShowsFacilityInDecimal) {
  const PrefixCase cases[] = {
      {0xC9140002, "0xC9140002 (3-2324-2)"},
      {0x09140000, "0x09140000 (0-2324-0)"},
      {0xC9130001, "0xC9130001 (3-2323-1)"},
      {0xC913000A, "0xC913000A (3-2323-10)"},
      {0xC9130054, "0xC9130054 (3-2323-84)"},
      {0xC9100010, "0xC9100010 (3-2320-16)"},
      {0x09100000, "0x09100000 (0-2320-0)"},
      {0xC9150003, "0xC9150003 (3-2325-3)"},
      // The widest possible prefix still fits.
      {0xFFFFFFFF, "0xFFFFFFFF (3-4095-65535)"},
      {0x00000000, "0x00000000 (0-0-0)"},
  };
  for (const auto& c : cases) {
    const auto prefix = FormatStatusPrefix(c.code);
    EXPECT_EQ(prefix.View(), c.prefix) << std::hex << c.code;
    EXPECT_EQ(std::string_view(prefix.CStr()), c.prefix);
  }
}

TEST(StatusCodeTest, FieldsAndSuccessWords) {
  EXPECT_EQ(StatusSeverity(kKernelResetNotDone), 3u);
  EXPECT_EQ(StatusFacility(kKernelResetNotDone), kFacilityKernel);
  EXPECT_EQ(StatusNumber(kKernelResetNotDone), 0x31u);
  EXPECT_TRUE(IsSuccess(kDriverSuccess));
  EXPECT_TRUE(IsSuccess(kKernelSuccess));
  EXPECT_TRUE(IsSuccess(kLibrarySuccess));
  EXPECT_FALSE(IsSuccess(kDriverNoRun));
  EXPECT_EQ(SuccessCode(kFacilityDriver), 0x09100000u);
  EXPECT_EQ(SuccessCode(kFacilityKernel), 0x09130000u);
  EXPECT_EQ(SuccessCode(kFacilityLibrary), 0x09140000u);
  EXPECT_EQ(ErrorCode(kFacilityLibrary, 0x0E), kLibraryRecordSizeMismatch);
  EXPECT_EQ(ErrorCode(kFacilityKernel, kKernelHighestNumber), kKernelPathVelocityFactorInvalid);
  EXPECT_EQ(ErrorCode(kFacilityDriver, kDriverHighestNumber), kDriverLatencyNotMeasured);
  EXPECT_EQ(ErrorCode(kFacilityLibrary, kLibraryHighestNumber), kLibraryBufferTooSmall);
}

TEST(StatusCodeTest, ResultsCrossLayersWithOnlySuccessTranslated) {
  EXPECT_EQ(KernelResultFromDriver(kDriverSuccess), kKernelSuccess);
  EXPECT_EQ(KernelResultFromDriver(kDriverClaimedByOther), kDriverClaimedByOther);
  EXPECT_EQ(LibraryResultFromKernel(kKernelSuccess), kLibrarySuccess);
  EXPECT_EQ(LibraryResultFromKernel(kKernelHomingActive), kKernelHomingActive);
  // A driver success that reaches the library untranslated stays as it is.
  EXPECT_EQ(LibraryResultFromKernel(kDriverSuccess), kDriverSuccess);
}

}  // namespace
}  // namespace vantor::common
