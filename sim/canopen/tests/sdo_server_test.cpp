#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/canopen/tests/node_harness.h"

namespace vantor::sim::canopen {
namespace {

using namespace nodetest;

constexpr std::uint16_t kStringObject = 0x2000;  // rw visible string, 16 bytes

NodeOptions NamedNode(const std::string& name, const std::string& version) {
  NodeOptions options = NodeHarness::Defaults();
  options.identity.deviceName = name;
  options.identity.softwareVersion = version;
  options.identity.deviceType = 0x00020192;
  return options;
}

class SdoServerTest : public ::testing::Test {
 protected:
  SdoServerTest() : client(NamedNode("ABCDEFGHIJKLMNOPQ", std::string(60, 'v'))) {
    client.Objects().Add(
        {kStringObject, 0, DataType::kVisibleString, Access::kReadWrite, false, 0, "", 16});
    client.Boot();
  }

  NodeHarness client;
};

struct ExpeditedDownloadCase {
  const char* name;
  CanFrame request;
  CanFrame answer;
  std::uint16_t index;
  std::uint64_t stored;
};

TEST_F(SdoServerTest, ExpeditedDownloadsAnswerWith0x60OrTheSizeAbort) {
  const std::vector<ExpeditedDownloadCase> cases = {
      {"one byte", Frame(0x605, {0x2F, 0x0D, 0x10, 0x00, 0x03, 0, 0, 0}),
       Frame(0x585, {0x60, 0x0D, 0x10, 0x00, 0, 0, 0, 0}), 0x100D, 3},
      {"two bytes", Frame(0x605, {0x2B, 0x0C, 0x10, 0x00, 0x64, 0x00, 0, 0}),
       Frame(0x585, {0x60, 0x0C, 0x10, 0x00, 0, 0, 0, 0}), 0x100C, 100},
      {"four bytes", Frame(0x605, {0x23, 0x13, 0x10, 0x00, 0x78, 0x56, 0x34, 0x12}),
       Frame(0x585, {0x60, 0x13, 0x10, 0x00, 0, 0, 0, 0}), 0x1013, 0x12345678},
      {"three bytes into a 32-bit object",
       Frame(0x605, {0x27, 0x13, 0x10, 0x00, 0x01, 0x02, 0x03, 0}),
       Frame(0x585, {0x80, 0x13, 0x10, 0x00, 0x10, 0x00, 0x07, 0x06}), 0x1013, 0x12345678},
      {"one byte into a 16-bit object", Frame(0x605, {0x2F, 0x0C, 0x10, 0x00, 0x07, 0, 0, 0}),
       Frame(0x585, {0x80, 0x0C, 0x10, 0x00, 0x10, 0x00, 0x07, 0x06}), 0x100C, 100},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_THAT(client.Exchange(c.request), ElementsAre(c.answer));
    EXPECT_EQ(client.Objects().Unsigned(c.index, 0), c.stored);
  }
}

TEST_F(SdoServerTest, ShortExpeditedDownloadFramesOfTheKernelAreAccepted) {
  // The kernel sends 4 + size bytes rather than a full frame.
  EXPECT_THAT(client.Sdo({0x2F, 0x0D, 0x10, 0x00, 0x02}),
              ElementsAre(Frame(0x585, {0x60, 0x0D, 0x10, 0x00, 0, 0, 0, 0})));
  EXPECT_EQ(client.Objects().Unsigned(0x100D, 0), 2u);
}

TEST_F(SdoServerTest, ExpeditedUploadsCarryTheSizeInTheCommandByte) {
  client.Objects().SetUnsigned(0x100D, 0, 0xAB);
  client.Objects().SetUnsigned(0x100C, 0, 0x1234);
  EXPECT_THAT(client.Sdo({0x40, 0x0D, 0x10, 0x00, 0, 0, 0, 0}),
              ElementsAre(Frame(0x585, {0x4F, 0x0D, 0x10, 0x00, 0xAB, 0, 0, 0})));
  EXPECT_THAT(client.Sdo({0x40, 0x0C, 0x10, 0x00, 0, 0, 0, 0}),
              ElementsAre(Frame(0x585, {0x4B, 0x0C, 0x10, 0x00, 0x34, 0x12, 0, 0})));
  EXPECT_THAT(client.Sdo({0x40, 0x00, 0x10, 0x00, 0, 0, 0, 0}),
              ElementsAre(Frame(0x585, {0x43, 0x00, 0x10, 0x00, 0x92, 0x01, 0x02, 0x00})));
  // 0x1003:01 reads 0 while no error was ever raised.
  EXPECT_THAT(client.Sdo({0x40, 0x03, 0x10, 0x01, 0, 0, 0, 0}),
              ElementsAre(Frame(0x585, {0x43, 0x03, 0x10, 0x01, 0, 0, 0, 0})));
}

TEST(SdoServerShortLength, ExpeditedUploadEndsAfterItsData) {
  NodeOptions options = NodeHarness::Defaults();
  options.shortExpeditedUpload = true;
  NodeHarness client(options);
  client.Boot();
  client.Objects().SetUnsigned(0x100D, 0, 0x11);
  EXPECT_THAT(client.Sdo({0x40, 0x0D, 0x10, 0x00, 0, 0, 0, 0}),
              ElementsAre(Frame(0x585, {0x4F, 0x0D, 0x10, 0x00, 0x11})));
  EXPECT_THAT(client.Sdo({0x40, 0x0C, 0x10, 0x00, 0, 0, 0, 0}),
              ElementsAre(Frame(0x585, {0x4B, 0x0C, 0x10, 0x00, 0x00, 0x00})));
}

TEST_F(SdoServerTest, SegmentedUploadAlternatesTheToggleAndMarksTheLastSegment) {
  EXPECT_THAT(client.Sdo({0x40, 0x08, 0x10, 0x00, 0, 0, 0, 0}),
              ElementsAre(Frame(0x585, {0x41, 0x08, 0x10, 0x00, 17, 0, 0, 0})));
  // The kernel asks for segments with one byte.
  EXPECT_THAT(client.Sdo({0x60}),
              ElementsAre(Frame(0x585, {0x00, 'A', 'B', 'C', 'D', 'E', 'F', 'G'})));
  EXPECT_THAT(client.Sdo({0x70}),
              ElementsAre(Frame(0x585, {0x10, 'H', 'I', 'J', 'K', 'L', 'M', 'N'})));
  // Three bytes left: n = 4 unused, last-segment bit set.
  EXPECT_THAT(client.Sdo({0x60}), ElementsAre(Frame(0x585, {0x09, 'O', 'P', 'Q', 0, 0, 0, 0})));
  EXPECT_EQ(client.Core().Log().Lines().back(), "upload 1008:00 17 0x4847464544434241");
}

TEST_F(SdoServerTest, SegmentedDownloadStoresTheValueAfterTheLastSegment) {
  EXPECT_THAT(client.Sdo({0x21, 0x00, 0x20, 0x00, 10, 0, 0, 0}),
              ElementsAre(Frame(0x585, {0x60, 0x00, 0x20, 0x00, 0, 0, 0, 0})));
  EXPECT_THAT(client.Sdo({0x00, 'a', 'x', 'i', 's', '-', 'o', 'n'}),
              ElementsAre(Frame(0x585, {0x20, 0, 0, 0, 0, 0, 0, 0})));
  EXPECT_EQ(client.Objects().Find(kStringObject, 0)->Text(), "");
  EXPECT_THAT(client.Sdo({0x19, 'e', '-', '2', 0, 0, 0, 0}),
              ElementsAre(Frame(0x585, {0x30, 0, 0, 0, 0, 0, 0, 0})));
  EXPECT_EQ(client.Objects().Find(kStringObject, 0)->Text(), "axis-one-2");
}

TEST_F(SdoServerTest, SegmentedDownloadFaultsAbortAndLeaveTheObjectAlone) {
  client.Objects().SetText(kStringObject, 0, "kept");
  // Toggle that does not alternate.
  client.Sdo({0x21, 0x00, 0x20, 0x00, 10, 0, 0, 0});
  client.Sdo({0x00, '1', '2', '3', '4', '5', '6', '7'});
  EXPECT_THAT(client.Sdo({0x01, '8', '9', '0', 0, 0, 0, 0}),
              ElementsAre(Frame(0x585, {0x80, 0x00, 0x20, 0x00, 0x00, 0x00, 0x03, 0x05})));
  // Fewer bytes than announced.
  client.Sdo({0x21, 0x00, 0x20, 0x00, 10, 0, 0, 0});
  EXPECT_THAT(client.Sdo({0x03, '1', '2', '3', '4', '5', '6', 0}),
              ElementsAre(Frame(0x585, {0x80, 0x00, 0x20, 0x00, 0x10, 0x00, 0x07, 0x06})));
  // More than the object holds.
  EXPECT_THAT(client.Sdo({0x21, 0x00, 0x20, 0x00, 17, 0, 0, 0}),
              ElementsAre(Frame(0x585, {0x80, 0x00, 0x20, 0x00, 0x12, 0x00, 0x07, 0x06})));
  EXPECT_EQ(client.Objects().Find(kStringObject, 0)->Text(), "kept");
}

struct UploadToggleCase {
  const char* name;
  std::vector<std::uint8_t> accepted;  // segment requests (command byte) answered with data
  std::uint8_t refused;                // the request that breaks the alternation
};

TEST_F(SdoServerTest, SegmentedUploadAbortsWhenTheClientsToggleDoesNotAlternate) {
  const std::vector<UploadToggleCase> cases = {
      {"first segment asked with toggle 1", {}, 0x70},
      {"second segment asked with toggle 0 again", {0x60}, 0x60},
      {"third segment asked with toggle 1 again", {0x60, 0x70}, 0x70},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    client.Sdo({0x40, 0x08, 0x10, 0x00, 0, 0, 0, 0});
    for (const std::uint8_t request : c.accepted) {
      const auto answer = client.Sdo({request});
      ASSERT_THAT(answer, ::testing::SizeIs(1));
      EXPECT_EQ(answer[0].data[0] & 0xE0, 0x00) << "an upload segment";
    }
    // 0x05030000: toggle bit not alternated.
    EXPECT_THAT(client.Sdo({c.refused}),
                ElementsAre(Frame(0x585, {0x80, 0x08, 0x10, 0x00, 0x00, 0x00, 0x03, 0x05})));
    EXPECT_EQ(client.Core().Log().Lines().back(), "upload 1008:00 abort 0x05030000");
    // The transfer is over: no further segment is served.
    EXPECT_THAT(client.Sdo({0x70}),
                ElementsAre(Frame(0x585, {0x80, 0x00, 0x00, 0x00, 0x01, 0x00, 0x04, 0x05})));
  }
}

struct AbortCase {
  const char* name;
  CanFrame request;
  CanFrame abort;
};

TEST_F(SdoServerTest, RefusedRequestsGetTheirAbortCodes) {
  const std::vector<AbortCase> cases = {
      {"missing index", Frame(0x605, {0x40, 0xFF, 0x2F, 0x00}),
       Frame(0x585, {0x80, 0xFF, 0x2F, 0x00, 0x00, 0x00, 0x02, 0x06})},
      {"missing subindex", Frame(0x605, {0x40, 0x18, 0x10, 0x09}),
       Frame(0x585, {0x80, 0x18, 0x10, 0x09, 0x11, 0x00, 0x09, 0x06})},
      {"download to a missing index", Frame(0x605, {0x2F, 0xFF, 0x2F, 0x00, 1}),
       Frame(0x585, {0x80, 0xFF, 0x2F, 0x00, 0x00, 0x00, 0x02, 0x06})},
      {"read-only object", Frame(0x605, {0x23, 0x00, 0x10, 0x00, 1, 2, 3, 4}),
       Frame(0x585, {0x80, 0x00, 0x10, 0x00, 0x02, 0x00, 0x01, 0x06})},
      {"block transfer", Frame(0x605, {0xA0, 0x08, 0x10, 0x00}),
       Frame(0x585, {0x80, 0x08, 0x10, 0x00, 0x01, 0x00, 0x04, 0x05})},
      {"segment without a transfer", Frame(0x605, {0x60}),
       Frame(0x585, {0x80, 0x00, 0x00, 0x00, 0x01, 0x00, 0x04, 0x05})},
      {"history cleared only with 0", Frame(0x605, {0x2F, 0x03, 0x10, 0x00, 1}),
       Frame(0x585, {0x80, 0x03, 0x10, 0x00, 0x30, 0x00, 0x09, 0x06})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_THAT(client.Exchange(c.request), ElementsAre(c.abort));
  }
}

TEST_F(SdoServerTest, ClientAbortInTheMiddleOfASegmentedUploadReturnsTheServerToIdle) {
  client.Sdo({0x40, 0x08, 0x10, 0x00, 0, 0, 0, 0});
  client.Sdo({0x60});
  // Abort as the kernel sends it: 0x05040005 in bytes 4-7, no answer.
  EXPECT_THAT(client.Sdo({0x80, 0x08, 0x10, 0x00, 0x05, 0x00, 0x04, 0x05}), IsEmpty());
  // No transfer is open any more: the next segment request is refused.
  EXPECT_THAT(client.Sdo({0x70}),
              ElementsAre(Frame(0x585, {0x80, 0x00, 0x00, 0x00, 0x01, 0x00, 0x04, 0x05})));
  // A fresh upload starts from the first segment again.
  client.Sdo({0x40, 0x08, 0x10, 0x00, 0, 0, 0, 0});
  EXPECT_THAT(client.Sdo({0x60}),
              ElementsAre(Frame(0x585, {0x00, 'A', 'B', 'C', 'D', 'E', 'F', 'G'})));
  EXPECT_THAT(client.Core().Log().Lines(),
              ::testing::Contains("upload 1008:00 aborted by client 0x05040005"));
}

TEST_F(SdoServerTest, TheKernelsCutAfter49BytesOfAVersionTextLeavesTheServerReady) {
  client.Sdo({0x40, 0x0A, 0x10, 0x00, 0, 0, 0, 0});
  bool toggle = false;
  for (int segment = 0; segment < 7; ++segment) {
    const auto answer = client.Sdo({static_cast<std::uint8_t>(toggle ? 0x70 : 0x60)});
    ASSERT_EQ(answer.size(), 1u);
    EXPECT_EQ(answer[0].data[0], toggle ? 0x10 : 0x00) << "segment " << segment;
    toggle = !toggle;
  }
  EXPECT_THAT(client.Sdo({0x80, 0x0A, 0x10, 0x00, 0x05, 0x00, 0x04, 0x05}), IsEmpty());
  EXPECT_THAT(client.Sdo({0x40, 0x0A, 0x10, 0x00, 0, 0, 0, 0}),
              ElementsAre(Frame(0x585, {0x41, 0x0A, 0x10, 0x00, 60, 0, 0, 0})));
}

TEST_F(SdoServerTest, ANewInitiateReplacesATransferLeftOpen) {
  client.Sdo({0x40, 0x08, 0x10, 0x00, 0, 0, 0, 0});
  client.Sdo({0x60});
  EXPECT_THAT(client.Sdo({0x40, 0x0D, 0x10, 0x00, 0, 0, 0, 0}),
              ElementsAre(Frame(0x585, {0x4F, 0x0D, 0x10, 0x00, 0, 0, 0, 0})));
  EXPECT_THAT(client.Sdo({0x60}),
              ElementsAre(Frame(0x585, {0x80, 0x00, 0x00, 0x00, 0x01, 0x00, 0x04, 0x05})));
}

TEST(SdoServerReaction, ADevicesReactionToAWriteIsInPlaceBeforeTheAnswerLeaves) {
  // Look at the dictionary at the moment the answer is handed to the bus.
  CanopenNode* watched = nullptr;
  std::vector<std::uint64_t> statusAtEachFrame;
  CanopenNode node(NodeHarness::Defaults(), [&](const CanFrame&) {
    statusAtEachFrame.push_back(watched->Objects().Unsigned(0x6041, 0));
  });
  watched = &node;
  node.Objects().Add({0x6040, 0, DataType::kUnsigned16, Access::kReadWrite, true, 0});
  node.Objects().Add({0x6041, 0, DataType::kUnsigned16, Access::kReadOnly, true, 0x0040});
  node.Objects().OnWritten(0x6040, 0, [&node](const ObjectEntry& entry, WriteOrigin) {
    if (entry.Unsigned() == 0x0006) node.Objects().SetUnsigned(0x6041, 0, 0x0021);
  });
  node.AdvanceTo(0);  // boot-up frame
  node.Receive(Frame(0x605, {0x2B, 0x40, 0x60, 0x00, 0x06, 0x00, 0, 0}), 0);
  EXPECT_THAT(statusAtEachFrame, ElementsAre(0x0040u, 0x0021u));
}

TEST_F(SdoServerTest, ARefusingWriteCheckAbortsAndKeepsTheOldValue) {
  client.Objects().Add({0x6060, 0, DataType::kInteger8, Access::kReadWrite, true, 0});
  client.Objects().OnWriteCheck(0x6060, 0, [](std::span<const std::uint8_t> value) {
    return value[0] <= 10 ? SdoAbortCode::kNone : SdoAbortCode::kValueTooHigh;
  });
  EXPECT_THAT(client.Sdo({0x2F, 0x60, 0x60, 0x00, 7}),
              ElementsAre(Frame(0x585, {0x60, 0x60, 0x60, 0x00, 0, 0, 0, 0})));
  EXPECT_THAT(client.Sdo({0x2F, 0x60, 0x60, 0x00, 11}),
              ElementsAre(Frame(0x585, {0x80, 0x60, 0x60, 0x00, 0x31, 0x00, 0x09, 0x06})));
  EXPECT_EQ(client.Objects().Unsigned(0x6060, 0), 7u);
}

TEST_F(SdoServerTest, EveryAccessIsLoggedWithItsValueOrAbort) {
  client.Core().Log().Clear();
  client.Sdo({0x2B, 0x0C, 0x10, 0x00, 0xE8, 0x03});
  client.Sdo({0x40, 0x0C, 0x10, 0x00});
  client.Sdo({0x40, 0x34, 0x12, 0x00});
  EXPECT_THAT(client.Core().Log().Lines(),
              ElementsAre("download 100C:00 2 0x03E8", "upload 100C:00 2 0x03E8",
                          "upload 1234:00 abort 0x06020000"));
}

TEST_F(SdoServerTest, AStoppedNodeDoesNotAnswerSdo) {
  client.Nmt(0x02, client.Id());
  EXPECT_THAT(client.Sdo({0x40, 0x0D, 0x10, 0x00}), IsEmpty());
  client.Nmt(0x80, client.Id());
  EXPECT_THAT(client.Sdo({0x40, 0x0D, 0x10, 0x00}), ::testing::SizeIs(1));
  client.Nmt(0x01, client.Id());
  EXPECT_THAT(client.Sdo({0x40, 0x0D, 0x10, 0x00}), ::testing::SizeIs(1));
}

}  // namespace
}  // namespace vantor::sim::canopen
