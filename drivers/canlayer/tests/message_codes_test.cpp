// Every message code of records 1 to 14 and of record 15 through a fixed
// cycle: the code and result the caller gets back, the controller object
// after the take-over and after the reply, and the frames on the bus.
#include <gtest/gtest.h>

#include <functional>

#include "drivers/canlayer/tests/bus_peer.h"
#include "drivers/canlayer/tests/card_fixture.h"

namespace vantor::canlayer::testing {
namespace {

namespace c = common;
namespace eb = common::exchange_buffer;

constexpr sim::SimTime kTick = 4 * 128 * kMicrosecond;
constexpr sim::SimTime kCycle = 5 * kTick;
constexpr std::uint16_t kCobId = 0x123;
constexpr std::uint8_t kUntouched = 0xEE;  // result preset by the caller

enum class ObjectRole { kInvalid, kTransmitter, kReceiver };

class MessageCodeFixture : public CardFixture {
 protected:
  MessageCodeFixture() {
    const ModelAccess models(pump_);
    machine_.FindBus("can0")->Attach(&peer_);
  }
  ~MessageCodeFixture() override {
    const ModelAccess models(pump_);
    machine_.FindBus("can0")->Detach(&peer_);
  }

  void StartFixedRun() {
    owner_ = Open();
    ASSERT_EQ(StartRun(owner_, {}), c::kDriverSuccess);
    c::ExchangeBuffer masks;
    masks.Set(eb::kGlobalMaskRequest, 1);
    masks.Set(eb::kGlobalStandardMask, 0x7FF);
    masks.Set(eb::kReceiveObjectMaskRequest, 1);
    masks.Set(eb::kReceiveObjectMask, 0x7FF);
    ASSERT_TRUE(Cycle(masks) != nullptr);
  }

  static c::ExchangeBuffer Request(int record, std::uint8_t code) {
    c::ExchangeBuffer buffer;
    const std::size_t base = 28 * static_cast<std::size_t>(record - 1);
    buffer.Store<std::uint8_t>(base + 0, code);
    buffer.Store<std::uint8_t>(base + 1, kUntouched);
    buffer.Store<std::uint16_t>(base + 2, kCobId);
    buffer.Store<std::uint8_t>(base + 4, 2);
    buffer.Store<std::uint8_t>(base + 5, 0xA1);
    buffer.Store<std::uint8_t>(base + 6, 0xB2);
    return buffer;
  }

  // Hands the request in and lets one whole cycle pass.
  std::shared_ptr<ReplySink> Cycle(const c::ExchangeBuffer& buffer,
                                   const std::function<void()>& afterTakeOver = {}) {
    const auto reply = Exchange(owner_, buffer);
    if (afterTakeOver) afterTakeOver();
    AdvanceBy(kCycle);
    EXPECT_TRUE(reply->Done());
    EXPECT_EQ(reply->Word(12464), c::kDriverSuccess);
    return reply->Done() ? reply : nullptr;
  }

  ObjectRole RoleOf(int object) {
    const ModelAccess models(pump_);
    const std::uint8_t control0 = Controller(1).Read(static_cast<std::uint8_t>(16 * object));
    if (((control0 >> 6) & 0b11) != 0b10) return ObjectRole::kInvalid;
    const std::uint8_t configuration =
        Controller(1).Read(static_cast<std::uint8_t>(16 * object + 6));
    return (configuration & 0x08) != 0 ? ObjectRole::kTransmitter : ObjectRole::kReceiver;
  }

  void BreakNextControl1Read(int object) {
    const ModelAccess models(pump_);
    Controller(1).OverrideNextRead(static_cast<std::uint8_t>(16 * object + 1), 0x00);
  }

  int CardFrames() const {
    int count = 0;
    for (const auto& heard : peer_.HeardFrames())
      if (heard.frame.identifier == kCobId && !heard.frame.remote) ++count;
    return count;
  }

  BusPeer peer_;
  std::shared_ptr<devhost::FileObject> owner_;
};

// What the peer does around the request.
enum class Scene {
  kQuiet,
  kPendingBefore,        // a frame of the object waits unacknowledged
  kConfiguredBefore,     // the object was set up as transmitter of the COB-ID
  kFrameArrives,         // the peer sends a frame on the COB-ID after the take-over
  kRemoteAnswered,       // the peer answers a remote frame of the COB-ID
  kBrokenControl,        // the next read of control 1 gives invalid bit pairs
  kSingleReceiveBefore,  // the object was set up for a single receive
};

struct CodeCase {
  const char* name;
  int record;
  std::uint8_t code;
  Scene scene;
  std::uint8_t codeAfter;
  std::uint8_t resultAfter;
  ObjectRole roleAfterTakeOver;
  ObjectRole roleAfterReply;
  int framesSent;
};

std::ostream& operator<<(std::ostream& out, const CodeCase& test) { return out << test.name; }

constexpr auto kInv = ObjectRole::kInvalid;
constexpr auto kTx = ObjectRole::kTransmitter;
constexpr auto kRx = ObjectRole::kReceiver;

const CodeCase kCodeCases[] = {
    {"Release", 3, 0, Scene::kQuiet, 0, 0, kInv, kInv, 0},
    {"ConfigureTransmitter", 3, 1, Scene::kQuiet, 1, 0, kTx, kTx, 0},
    {"SendOnce", 3, 2, Scene::kQuiet, 3, 0, kTx, kTx, 1},
    {"SentOnceStillPending", 3, 3, Scene::kPendingBefore, 3, 1, kTx, kTx, 0},
    {"SentOnceControllerError", 3, 3, Scene::kBrokenControl, 3, 5, kInv, kInv, 0},
    {"SendFullSetUp", 3, 4, Scene::kQuiet, 5, 0, kTx, kTx, 1},
    {"SendFullSetUpAfterPending", 3, 4, Scene::kPendingBefore, 5, 1, kTx, kTx, 0},
    {"SendAgain", 3, 5, Scene::kConfiguredBefore, 5, 0, kTx, kTx, 1},
    {"SendWhenFreeFullSetUp", 3, 6, Scene::kQuiet, 7, 0, kTx, kTx, 1},
    {"SendWhenFreeWhileBusy", 3, 6, Scene::kPendingBefore, 6, 1, kTx, kTx, 0},
    {"SendAgainWhenFree", 3, 7, Scene::kConfiguredBefore, 7, 0, kTx, kTx, 1},
    {"SynchronisedSendWaitsForTheBufferedCycle", 3, 8, Scene::kQuiet, 8, kUntouched, kInv, kInv, 0},
    {"SynchronisedSendUnderWayUntouched", 3, 9, Scene::kQuiet, 9, kUntouched, kInv, kInv, 0},
    {"StartSetpointObject", 3, 10, Scene::kQuiet, 11, kUntouched, kTx, kTx, 0},
    {"SetpointObjectActive", 3, 11, Scene::kQuiet, 11, kUntouched, kInv, kInv, 0},
    {"StartAnswerObject", 3, 12, Scene::kQuiet, 13, kUntouched, kRx, kRx, 0},
    {"AnswerObjectActive", 3, 13, Scene::kQuiet, 13, kUntouched, kInv, kInv, 0},
    {"StartContinuousReceive", 3, 14, Scene::kQuiet, 15, 2, kRx, kRx, 0},
    {"ContinuousReceiveCollectsAFrame", 3, 14, Scene::kFrameArrives, 15, 0, kRx, kRx, 0},
    {"SendOnceAndRelease", 3, 16, Scene::kQuiet, 0, 0, kTx, kInv, 1},
    {"SentReleaseWhenDoneStillPending", 3, 17, Scene::kPendingBefore, 17, 1, kTx, kTx, 0},
    {"StartSingleReceive", 3, 18, Scene::kQuiet, 19, 2, kRx, kRx, 0},
    {"SingleReceiveTakesAFrameAndReleases", 3, 18, Scene::kFrameArrives, 0, 0, kRx, kInv, 0},
    {"SingleReceiveControllerError", 3, 19, Scene::kSingleReceiveBefore, 0, 5, kRx, kInv, 0},
    {"RemoteRequestAnswered", 3, 20, Scene::kRemoteAnswered, 21, 0, kRx, kRx, 0},
    {"RemoteAnswerNothing", 3, 21, Scene::kQuiet, 21, 2, kInv, kInv, 0},
    {"SynchronisedBufferedStartArms", 3, 22, Scene::kQuiet, 23, 0, kTx, kTx, 0},
    {"SynchronisationActiveWithoutStart", 3, 23, Scene::kQuiet, 23, 0, kInv, kInv, 0},
    {"StartAnswerObjectLate", 3, 24, Scene::kQuiet, 13, kUntouched, kRx, kRx, 0},
    {"InvalidCode25", 3, 25, Scene::kQuiet, 25, 6, kInv, kInv, 0},
    {"InvalidCode255", 3, 255, Scene::kQuiet, 255, 6, kInv, kInv, 0},
    {"Object15Release", 15, 0, Scene::kQuiet, 0, 0, kInv, kInv, 0},
    {"Object15StartContinuousReceive", 15, 14, Scene::kQuiet, 15, 0, kRx, kRx, 0},
    {"Object15ContinuousReceiveUnset", 15, 15, Scene::kQuiet, 15, 0, kInv, kInv, 0},
    {"Object15StartSingleReceive", 15, 18, Scene::kQuiet, 19, 0, kRx, kRx, 0},
    {"Object15SingleReceiveTakesAFrame", 15, 18, Scene::kFrameArrives, 0, 1, kRx, kInv, 0},
    {"Object15ContinuousReceiveWithAFrame", 15, 14, Scene::kFrameArrives, 15, 1, kRx, kRx, 0},
    {"Object15AnswerObjectRefused", 15, 12, Scene::kQuiet, 12, 5, kInv, kInv, 0},
    {"Object15SendCodeRefused", 15, 2, Scene::kQuiet, 2, 5, kInv, kInv, 0},
};

class MessageCodeTest : public MessageCodeFixture,
                        public ::testing::WithParamInterface<CodeCase> {};

TEST_P(MessageCodeTest, CodeResultObjectAndFrames) {
  const CodeCase& test = GetParam();
  StartFixedRun();
  const int object = test.record;
  switch (test.scene) {
    case Scene::kPendingBefore:
      peer_.SetOnline(false);
      Cycle(Request(object, 2));
      break;
    case Scene::kConfiguredBefore:
      Cycle(Request(object, 1));
      break;
    case Scene::kSingleReceiveBefore: {
      const auto reply = Cycle(Request(object, 18));
      ASSERT_NE(reply, nullptr);
      ASSERT_EQ(reply->Data()[28 * (object - 1)], 19);
      break;
    }
    case Scene::kRemoteAnswered:
      peer_.AnswerRemote(kCobId, DataFrame(kCobId, {0x5A, 0x6B, 0x7C}));
      break;
    default:
      break;
  }
  peer_.ForgetHeard();

  ObjectRole afterTakeOver = kInv;
  const auto reply = Cycle(Request(object, test.code), [&] {
    afterTakeOver = RoleOf(object);
    if (test.scene == Scene::kFrameArrives) peer_.Queue(DataFrame(kCobId, {0x5A, 0x6B, 0x7C}));
    if (test.scene == Scene::kBrokenControl || test.scene == Scene::kSingleReceiveBefore)
      BreakNextControl1Read(object);
  });
  ASSERT_NE(reply, nullptr);
  const auto data = reply->Data();
  const std::size_t base = 28 * static_cast<std::size_t>(object - 1);
  EXPECT_EQ(data[base + 0], test.codeAfter);
  EXPECT_EQ(data[base + 1], test.resultAfter);
  EXPECT_EQ(afterTakeOver, test.roleAfterTakeOver);
  EXPECT_EQ(RoleOf(object), test.roleAfterReply);
  EXPECT_EQ(CardFrames(), test.framesSent);

  const bool received = test.scene == Scene::kFrameArrives || test.scene == Scene::kRemoteAnswered;
  if (received) {
    EXPECT_EQ(data[base + 2] | data[base + 3] << 8, kCobId);
    EXPECT_EQ(data[base + 4], 3);
    EXPECT_EQ(data[base + 5], 0x5A);
    EXPECT_EQ(data[base + 7], 0x7C);
  }
  if (test.framesSent > 0 && test.code != 22) {
    const auto frames = peer_.FramesWithId(kCobId);
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames[0].length, 2);
    EXPECT_EQ(frames[0].data[0], 0xA1);
    EXPECT_EQ(frames[0].data[1], 0xB2);
  }
}

INSTANTIATE_TEST_SUITE_P(AllCodes, MessageCodeTest, ::testing::ValuesIn(kCodeCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Frames arriving on a receive record between take-over and answer: a
// second frame overwrites the unread first one, which only a channel
// that reports overwritten frames tells apart from a plain frame.
struct OverwriteCase {
  const char* name;
  std::uint8_t code;
  bool reportOverwrittenFrames;
  int frames;  // data frames the peer sends after the take-over
  std::uint8_t codeAfter;
  std::uint8_t resultAfter;
};

std::ostream& operator<<(std::ostream& out, const OverwriteCase& test) { return out << test.name; }

const OverwriteCase kOverwriteCases[] = {
    {"ContinuousOneFrame", 14, false, 1, 15, 0},
    {"ContinuousOneFrameReported", 14, true, 1, 15, 0},
    {"ContinuousOverwritten", 14, false, 2, 15, 0},
    {"ContinuousOverwrittenReported", 14, true, 2, 15, 3},
    {"SingleOneFrameReported", 18, true, 1, 0, 0},
    {"SingleOverwritten", 18, false, 2, 0, 0},
    {"SingleOverwrittenReported", 18, true, 2, 0, 3},
    {"RemoteAnswerOverwritten", 20, false, 2, 21, 0},
    {"RemoteAnswerOverwrittenReported", 20, true, 2, 21, 3},
};

class OverwrittenFrameTest : public MessageCodeFixture,
                             public ::testing::WithParamInterface<OverwriteCase> {};

TEST_P(OverwrittenFrameTest, ResultAndNewestFrame) {
  const OverwriteCase& test = GetParam();
  CanChannelSettings settings;
  settings.reportOverwrittenFrames = test.reportOverwrittenFrames;
  RebuildChannelOne(settings);
  StartFixedRun();
  constexpr int kRecord = 3;
  const auto reply = Cycle(Request(kRecord, test.code), [&] {
    for (int i = 1; i <= test.frames; ++i)
      peer_.Queue(DataFrame(kCobId, {static_cast<std::uint8_t>(i)}));
  });
  ASSERT_NE(reply, nullptr);
  const auto data = reply->Data();
  const std::size_t base = 28 * (kRecord - 1);
  EXPECT_EQ(data[base + 0], test.codeAfter);
  EXPECT_EQ(data[base + 1], test.resultAfter);
  EXPECT_EQ(data[base + 4], 1);
  EXPECT_EQ(data[base + 5], test.frames) << "the newest frame is kept";
}

INSTANTIATE_TEST_SUITE_P(ReceiveCodes, OverwrittenFrameTest, ::testing::ValuesIn(kOverwriteCases),
                         [](const auto& info) { return std::string(info.param.name); });

using Object15Test = MessageCodeFixture;

// Continuous receive on object 15 between exchange points: nothing, one
// frame, two frames, and three frames of which the oldest is lost.
TEST_F(Object15Test, ArrivalsBetweenExchangePointsFillTheTwoFrameStore) {
  StartFixedRun();
  c::ExchangeBuffer request = Request(15, 14);
  request.Set(eb::kReceiveObjectMaskRequest, 1);
  request.Set(eb::kReceiveObjectMask, 0x700);  // 0x300 to 0x3FF
  request.Store<std::uint16_t>(28 * 14 + 2, 0x300);
  auto reply = Cycle(request);
  ASSERT_NE(reply, nullptr);
  struct Arrivals {
    int frames;
    std::uint8_t result;
    std::uint16_t first;
    std::uint16_t second;
  };
  const Arrivals cases[] = {
      {0, 0, 0, 0}, {1, 1, 0x301, 0}, {2, 2, 0x301, 0x302}, {3, 3, 0x301, 0x303}};
  for (const Arrivals& test : cases) {
    SCOPED_TRACE(test.frames);
    c::ExchangeBuffer next;
    const auto previous = reply->Data();
    std::copy(previous.begin(), previous.end(), next.MutableBytes().begin());
    next.Set(eb::kStatus, 0);
    for (std::size_t byte = 28 * 14 + 2; byte < 28 * 14 + 26; ++byte)
      next.Store<std::uint8_t>(byte, 0);
    reply = Cycle(next, [&] {
      for (int i = 1; i <= test.frames; ++i)
        peer_.Queue(
            DataFrame(static_cast<std::uint16_t>(0x300 + i), {static_cast<std::uint8_t>(i)}));
    });
    ASSERT_NE(reply, nullptr);
    const auto data = reply->Data();
    const std::size_t base = 28 * 14;
    EXPECT_EQ(data[base + 0], 15);
    EXPECT_EQ(data[base + 1], test.result);
    if (test.frames == 0) continue;
    EXPECT_EQ(data[base + 2] | data[base + 3] << 8, test.first);
    EXPECT_EQ(data[base + 4], 1);
    EXPECT_EQ(data[base + 5], test.first & 0xFF);
    if (test.frames < 2) continue;
    EXPECT_EQ(data[base + 14] | data[base + 15] << 8, test.second);
    EXPECT_EQ(data[base + 16], 1);
    EXPECT_EQ(data[base + 17], test.second & 0xFF);
  }
}

}  // namespace
}  // namespace vantor::canlayer::testing
