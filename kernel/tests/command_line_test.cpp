#include "kernel/services/command_line.h"

#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <ostream>
#include <string>

namespace vantor::kernel {
namespace {

using common::Channel;
using common::InterfaceType;

struct CommandLineCase {
  const char* line;
  std::optional<KernelInstance> expected;
};

void PrintTo(const CommandLineCase& c, std::ostream* out) { *out << "'" << c.line << "'"; }

class ParseKernelCommandLineTest : public testing::TestWithParam<CommandLineCase> {};

TEST_P(ParseKernelCommandLineTest, GivesInstanceOrRefuses) {
  const auto& c = GetParam();
  EXPECT_EQ(ParseKernelCommandLine(c.line), c.expected) << "command line: '" << c.line << "'";
}

constexpr KernelInstance kPciOne{InterfaceType::Pci, Channel::CanOne};

INSTANTIATE_TEST_SUITE_P(
    KeywordsAndSeparators, ParseKernelCommandLineTest,
    testing::Values(CommandLineCase{"TarnisInterfaceComLine -CanOneComLine", kPciOne},
                    CommandLineCase{"TarnisInterfaceComLine/CanOneComLine", kPciOne},
                    CommandLineCase{"TarnisInterfaceComLine CanOneComLine", kPciOne},
                    CommandLineCase{"TarnisInterfaceComLine-CanOneComLine", kPciOne},
                    CommandLineCase{"TarnisInterfaceComLine -/ -CanOneComLine", kPciOne},
                    CommandLineCase{"TarnisInterfaceComLine -CanOneComLine anything after",
                                    kPciOne},
                    CommandLineCase{"TarnisInterfaceComLine -CanOneComLine-trailing", kPciOne},
                    CommandLineCase{"CanDongleInterfaceComLine -NoCanComLine",
                                    KernelInstance{InterfaceType::Dongle, Channel::NoCan}},
                    CommandLineCase{"Pelmar104InterfaceComLine -CanTwoComLine",
                                    KernelInstance{InterfaceType::Pc104, Channel::CanTwo}},
                    CommandLineCase{"TarnisInterfaceComLine -CanThreeComLine",
                                    KernelInstance{InterfaceType::Pci, Channel::CanThree}},
                    CommandLineCase{"TarnisInterfaceComLine -CanFourComLine",
                                    KernelInstance{InterfaceType::Pci, Channel::CanFour}}));

INSTANTIATE_TEST_SUITE_P(
    Refused, ParseKernelCommandLineTest,
    testing::Values(
        // A program name in front, in quotes or not: the first word is no
        // interface keyword.
        CommandLineCase{"Motrix TarnisInterfaceComLine -CanOneComLine", std::nullopt},
        CommandLineCase{"\"Motrix\" TarnisInterfaceComLine -CanOneComLine", std::nullopt},
        CommandLineCase{"/opt/vantor/Motrix TarnisInterfaceComLine -CanOneComLine", std::nullopt},
        CommandLineCase{" TarnisInterfaceComLine -CanOneComLine", std::nullopt},
        CommandLineCase{"-TarnisInterfaceComLine -CanOneComLine", std::nullopt},
        CommandLineCase{"tarnisinterfacecomline -CanOneComLine", std::nullopt},
        CommandLineCase{"TarnisInterfaceComLine -canonecomline", std::nullopt},
        CommandLineCase{"TarnisInterfaceComLineX -CanOneComLine", std::nullopt},
        CommandLineCase{"TarnisInterfaceComLine -CanOneComLin", std::nullopt},
        CommandLineCase{"TarnisInterfaceComLine", std::nullopt},
        CommandLineCase{"TarnisInterfaceComLine -", std::nullopt},
        CommandLineCase{"CanOneComLine -TarnisInterfaceComLine", std::nullopt},
        CommandLineCase{"", std::nullopt}));

TEST(RawCommandLineTest, JoinsArgumentsWithSingleBlanks) {
  const std::array<const char*, 2> arguments = {"TarnisInterfaceComLine", "-CanOneComLine"};
  EXPECT_EQ(RawCommandLine(arguments), "TarnisInterfaceComLine -CanOneComLine");
  EXPECT_EQ(ParseKernelCommandLine(RawCommandLine(arguments)), kPciOne);
  EXPECT_EQ(RawCommandLine({}), "");
}

}  // namespace
}  // namespace vantor::kernel
