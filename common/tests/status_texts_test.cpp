#include "common/status_texts.h"

#include <gtest/gtest.h>

#include <string>

namespace vantor::common {
namespace {

// Every stored entry begins with the display prefix computed from its own
// code, then ":" and the blanks the facility's language uses.
TEST(StatusTextsTest, EveryEntryStartsWithThePrefixOfItsCode) {
  struct TableCase {
    std::uint32_t facility;
    std::size_t size;
    bool twoBlanksForOneDigitInEnglish;
  };
  const TableCase tables[] = {
      {kFacilityDriver, 17, true},
      {kFacilityKernel, 85, true},
      {kFacilityLibrary, 16, false},
  };
  for (const auto& table : tables) {
    for (const auto language : {TextLanguage::German, TextLanguage::English}) {
      const auto texts = StatusTextTable(table.facility, language);
      ASSERT_EQ(texts.size(), table.size) << table.facility;
      for (std::uint32_t number = 0; number < texts.size(); ++number) {
        const StatusCode code =
            number == 0 ? SuccessCode(table.facility) : ErrorCode(table.facility, number);
        std::string expected(FormatStatusPrefix(code).View());
        expected += ':';
        expected += ' ';
        if (language == TextLanguage::English && table.twoBlanksForOneDigitInEnglish &&
            number < 10) {
          expected += ' ';
        }
        const std::string_view entry = texts[number];
        ASSERT_GT(entry.size(), expected.size()) << entry;
        EXPECT_EQ(entry.substr(0, expected.size()), expected) << entry;
        EXPECT_NE(entry[expected.size()], ' ') << entry;
        EXPECT_EQ(entry.back(), '!') << entry;
      }
    }
  }
}

TEST(StatusTextsTest, SampleEntriesReadAsStored) {
  EXPECT_EQ(StatusTableEntry(0xC9130001, TextLanguage::English),
            "0xC9130001 (3-2323-1):  Wrong function-number!");
  EXPECT_EQ(StatusTableEntry(0xC913000A, TextLanguage::English),
            "0xC913000A (3-2323-10): The CNC-operating-mode is not yet initialized!");
  EXPECT_EQ(StatusTableEntry(0xC9140002, TextLanguage::German),
            "0xC9140002 (3-2324-2): Linkora noch nicht initialisiert!");
  EXPECT_EQ(StatusTableEntry(0xC9100008, TextLanguage::German),
            "0xC9100008 (3-2320-8): Hardware vom CAN-Interface defekt!");
  EXPECT_EQ(StatusTableEntry(0xC9140001, TextLanguage::English),
            "0xC9140001 (3-2324-1): Incorrect initialization-file!");
}

TEST(StatusTextsTest, MessagesCarryTheFacilityHeading) {
  struct MessageCase {
    StatusCode code;
    TextLanguage language;
    std::string_view device;
    std::string_view message;
  };
  const MessageCase cases[] = {
      {0xC9140002, TextLanguage::English, "",
       "Linkora-Message\n\r\n\r0xC9140002 (3-2324-2): Linkora is not yet initialized!"},
      {0xC9140002, TextLanguage::German, "tarnis1",
       "Linkora-Meldung\n\r\n\r0xC9140002 (3-2324-2): Linkora noch nicht initialisiert!"},
      {0xC9140010, TextLanguage::English, "", "Linkora-Message\n\r\n\rUnknown Error!"},
      {0xC9130055, TextLanguage::German, "", "Motrix-Meldung\n\r\n\rUnbekannter Fehler!"},
      {0xC9130016, TextLanguage::German, "",
       "Motrix-Meldung\n\r\n\r0xC9130016 (3-2323-22): Aktive Referenzfahrt!"},
      {0xC9100003, TextLanguage::English, "",
       "WDM-Message\n\r\n\r0xC9100003 (3-2320-3):  The CAN-driver is already in own possession!"},
      {0xC9100003, TextLanguage::German, "tarnis2",
       "tarnis2-Meldung\n\r\n\r0xC9100003 (3-2320-3): CAN-Treiber ist bereits im eigenen "
       "Besitz!"},
      {0xC9100011, TextLanguage::English, "Ravund", "Ravund-Message\n\r\n\rUnknown Error!"},
      {0x09140000, TextLanguage::German, "", "Unbekannter Fehler!"},
      {0x09130000, TextLanguage::English, "", "Unknown Error!"},
      {0x09100000, TextLanguage::English, "", "Unknown Error!"},
      {0xC9150001, TextLanguage::English, "", "Unknown Error!"},
      {0x12345678, TextLanguage::German, "", "Unbekannter Fehler!"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FormatStatusMessage(c.code, c.language, c.device), c.message) << std::hex << c.code;
  }
}

TEST(StatusTextsTest, EmergencyCodesMapToDriveErrorIndexes) {
  const std::pair<std::uint16_t, int> cases[] = {
      {0x5114, 33}, {0x6104, 33}, {0x6100, 12}, {0x2320, 13}, {0x730C, 42},
      {0x6103, 44}, {0x1000, -1}, {0x0000, -1}, {0xFF10, 36},
  };
  for (const auto& [emergency, index] : cases) {
    EXPECT_EQ(DriveErrorIndexFromEmergency(emergency), index) << std::hex << emergency;
  }
}

TEST(StatusTextsTest, DriveErrorTextsCoverSpecialAndPlaceholderIndexes) {
  EXPECT_EQ(DriveErrorText(0, TextLanguage::German), "Fehlerfrei!");
  EXPECT_EQ(DriveErrorText(-1, TextLanguage::English), "Unknown Error from Amplify!");
  EXPECT_EQ(DriveErrorText(-2, TextLanguage::English),
            "It's not possible to read error-code from amplify.");
  EXPECT_EQ(DriveErrorText(12, TextLanguage::German), "Interner Softwarefehler!");
  EXPECT_EQ(DriveErrorText(46, TextLanguage::English), "Reserved Error-number!");
  EXPECT_EQ(DriveErrorText(39, TextLanguage::German), "I²t-Strombegrenzung aktiv!");
  for (const int index : {10, 11, 20, 30, 40, 9, 47, -3, 1000}) {
    EXPECT_EQ(DriveErrorText(index, TextLanguage::German), "Unbekannter Fehler!") << index;
    EXPECT_EQ(DriveErrorText(index, TextLanguage::English), "Unknown Error!") << index;
  }
  EXPECT_EQ(DriveErrorCaption(TextLanguage::English), "Amplify");
}

}  // namespace
}  // namespace vantor::common
