#include "common/command_codes.h"

#include <gtest/gtest.h>

#include <set>

namespace vantor::common {
namespace {

TEST(CommandCodesTest, CodesOneTo108And150AreKnownAndNamed) {
  std::set<std::string_view> names;
  for (std::uint32_t code = 1; code <= 108; ++code) {
    EXPECT_TRUE(IsKnownCommandCode(code)) << code;
    EXPECT_FALSE(CommandName(code).empty()) << code;
    names.insert(CommandName(code));
  }
  EXPECT_EQ(CommandName(150), "GetDataRecord");
  names.insert(CommandName(150));
  EXPECT_EQ(names.size(), kCommandCodeCount);
}

TEST(CommandCodesTest, UnservedCodesHaveNoName) {
  for (std::uint32_t code : {0u, 109u, 149u, 151u, 0xFFFFFFFFu}) {
    EXPECT_FALSE(IsKnownCommandCode(code)) << code;
    EXPECT_TRUE(CommandName(code).empty()) << code;
    EXPECT_FALSE(CommandCodeFromNumber(code).has_value()) << code;
  }
}

TEST(CommandCodesTest, NamesOfTheLinkAndMotionCodes) {
  struct Case {
    CommandCode code;
    std::uint32_t number;
    const char* name;
  };
  const Case cases[] = {
      {CommandCode::Ping, 1, "Ping"},
      {CommandCode::TerminateKernel, 2, "TerminateKernel"},
      {CommandCode::IdentifyKernel, 3, "IdentifyKernel"},
      {CommandCode::OpenHardware, 4, "OpenHardware"},
      {CommandCode::CncInitialize, 12, "CncInitialize"},
      {CommandCode::GetStatus, 24, "GetStatus"},
      {CommandCode::Move, 36, "Move"},
      {CommandCode::EventToSet, 57, "EventToSet"},
      {CommandCode::GetPathVelFac, 108, "GetPathVelFac"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(static_cast<std::uint32_t>(c.code), c.number);
    EXPECT_EQ(CommandName(c.code), c.name);
    EXPECT_EQ(CommandCodeFromNumber(c.number), c.code);
  }
}

}  // namespace
}  // namespace vantor::common
