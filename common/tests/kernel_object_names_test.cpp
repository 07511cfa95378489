#include "common/kernel_object_names.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace vantor::common {
namespace {

TEST(KernelObjectNamesTest, EightyFiveUniqueNonEmptyNames) {
  EXPECT_EQ(kKernelObjectNames.size(), 85u);
  std::set<std::string_view> unique(kKernelObjectNames.begin(), kKernelObjectNames.end());
  EXPECT_EQ(unique.size(), 85u);
  for (auto name : kKernelObjectNames) EXPECT_FALSE(name.empty());
  EXPECT_TRUE(KernelObjectName(85).empty());
}

TEST(KernelObjectNamesTest, FixedEntries) {
  EXPECT_EQ(KernelObjectName(kInitializationEventIndex),
            "Vantor Automation KG - Event for Initialization and Uninitialization");
  EXPECT_EQ(KernelObjectName(kWatchEventIndex), "Vantor Automation KG - Event for MotrixWatch");
  EXPECT_EQ(KernelObjectName(kWatchCommandLineIndex), "MotrixWatchComLine");
  EXPECT_EQ(KernelObjectName(kWatchWindowHandleMappingIndex),
            "Vantor Automation KG - Memory Mapped File for MotrixWatch - Windows Handle");
  EXPECT_EQ(KernelObjectName(HardwareEventIndex(InterfaceType::Dongle)),
            "Vantor Automation KG - Event for Can Hardware - Dongle");
  EXPECT_EQ(KernelObjectName(HardwareEventIndex(InterfaceType::Pc104)),
            "Vantor Automation KG - Event for Can Hardware - PC104");
  EXPECT_EQ(KernelObjectName(HardwareEventIndex(InterfaceType::Pci)),
            "Vantor Automation KG - Event for Can Hardware - PCI");
  EXPECT_EQ(KernelModeEventIndex(Channel::NoCan), 15u);
  EXPECT_EQ(KernelObjectName(KernelModeEventIndex(Channel::CanThree)),
            "Vantor Automation KG - Event for Kernel Modus - CanThree");
}

TEST(KernelObjectNamesTest, EveryChannelBlockFollowsTheNamingRule) {
  const char* objects[kChannelBlockSize] = {"Memory Mapped File for Communication",
                                            "Semaphore for Initialization",
                                            "Semaphore for Cnc_Initialization",
                                            "Mutex for Standard Communication",
                                            "Applikation Ready Event for Standard Communication",
                                            "Kernel Ready Event for Standard Communication",
                                            "Mutex for SDO1 Communication",
                                            "Applikation Ready Event for SDO1 Communication",
                                            "Kernel Ready Event for SDO1 Communication",
                                            "Cnc Homing Break Event",
                                            "Cnc Homing Break Mutex",
                                            "Cnc Homing Activ Event",
                                            "Cnc High Speed Cutting Path Puffer"};
  const char* words[kChannelCount] = {"NoCan", "CanOne", "CanTwo", "CanThree", "CanFour"};
  for (std::size_t c = 0; c < kChannelCount; ++c) {
    const auto channel = static_cast<Channel>(c);
    EXPECT_EQ(ChannelWord(channel), words[c]);
    for (std::size_t k = 0; k < kChannelBlockSize; ++k) {
      const auto object = static_cast<ChannelObject>(k);
      const std::string expected =
          std::string("Vantor Automation KG - ") + objects[k] + " - " + words[c];
      EXPECT_EQ(ChannelBlockIndex(channel, object), 20 + 13 * c + k);
      EXPECT_EQ(KernelObjectName(20 + 13 * c + k), expected);
      EXPECT_EQ(ChannelObjectName(channel, object), expected);
    }
  }
  EXPECT_EQ(ChannelBlockIndex(Channel::CanTwo, ChannelObject::CommunicationMapping), 46u);
  EXPECT_EQ(ChannelObjectName(Channel::CanTwo, ChannelObject::CommunicationMapping),
            "Vantor Automation KG - Memory Mapped File for Communication - CanTwo");
}

TEST(KernelObjectNamesTest, KeywordsParseWholeAndCaseSensitive) {
  EXPECT_EQ(ParseChannelKeyword("NoCanComLine"), Channel::NoCan);
  EXPECT_EQ(ParseChannelKeyword("CanFourComLine"), Channel::CanFour);
  EXPECT_EQ(ParseChannelKeyword("canfourcomline"), std::nullopt);
  EXPECT_EQ(ParseChannelKeyword("CanFourComLin"), std::nullopt);
  EXPECT_EQ(ParseChannelKeyword("CanFourComLineX"), std::nullopt);
  EXPECT_EQ(ParseChannelKeyword(""), std::nullopt);
  EXPECT_EQ(ParseInterfaceKeyword("CanDongleInterfaceComLine"), InterfaceType::Dongle);
  EXPECT_EQ(ParseInterfaceKeyword("Pelmar104InterfaceComLine"), InterfaceType::Pc104);
  EXPECT_EQ(ParseInterfaceKeyword("TarnisInterfaceComLine"), InterfaceType::Pci);
  EXPECT_EQ(ParseInterfaceKeyword("NoCanComLine"), std::nullopt);
  EXPECT_EQ(ChannelFromNumber(4), Channel::CanFour);
  EXPECT_EQ(ChannelFromNumber(5), std::nullopt);
  EXPECT_EQ(InterfaceTypeFromNumber(3), std::nullopt);
}

}  // namespace
}  // namespace vantor::common
