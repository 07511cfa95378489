// A path program over the whole chain: lines, arcs, a helix, velocity
// changes and named events, handed to the kernel through the shared path
// buffer (smaller than the program) into a segment queue smaller still, and
// once more move by move without the buffer. The machine is the homing
// machine, homed first; the initialisation file is machine.ini with small
// buffers. X rises along the whole program, so "the drives passed a point"
// is a comparison of X.
#include <gtest/gtest.h>
#include <vantor_events.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "examples/tests/homed_machine.h"
#include "interface/include/linkora.h"
#include "platform/os/named_objects.h"

namespace vantor::examples_test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Position = std::array<std::int32_t, 9>;

const std::string kSampleIni = VANTOR_EXAMPLES_FOLDER "/machine.ini";
constexpr std::uint32_t kSharedBufferRecords = 5;
constexpr std::uint32_t kKernelQueueSegments = 3;
// The simulated drives are stepped in real time; a loaded machine lets the
// driver host fall behind by more than the usual 1.5 s.
constexpr std::uint32_t kExchangeWaitMs = 5000;

constexpr LinkoraStatus kNotInThisBufferState = 0xC914000Du;  // also: the shared buffer is full
constexpr LinkoraStatus kQueueFull = 0xC9130022u;
constexpr LinkoraStatus kMotionActive = 0xC9130024u;

// The drives follow their set-points with a lag of their position loops
// (some hundred units at these speeds); an actual position this close to a
// point has reached it, one a record early lies thousands of units short.
constexpr std::int32_t kFollowingTolerance = 1500;
// A bound for anything that should take seconds; a hang fails, not a slow machine.
constexpr auto kGenerous = 120s;

// One record of a path program.
struct Line {
  bool absolute;
  Position target;
};
struct Arc {
  LinkoraCircleRecord record;
};
struct Helix {
  LinkoraHelixRecord record;
};
struct PathVelocity {
  std::int32_t linear;
};
struct PathEvent {
  std::string name;
  std::int32_t x;  // the X the path has reached at the event
};
using PathStep = std::variant<Line, Arc, Helix, PathVelocity, PathEvent>;

Position At(std::int32_t x, std::int32_t y, std::int32_t z) { return {x, y, z}; }

// Half a turn in the XY plane over the positive Y side, from the current
// point to `end`, about the middle between them (X rises throughout).
Arc HalfTurnTo(Position end, std::int32_t centreX, std::int32_t centreY) {
  LinkoraCircleRecord record{};
  record.Plane = 0;
  record.Direction = 0;  // the angle falls from the left end over the top
  record.CircleValue[0] = centreX;
  record.CircleValue[1] = centreY;
  std::copy(end.begin(), end.end(), record.EndPosition);
  return {record};
}

// The same half turn by its sweep, rising in Z to `z`.
Helix HalfTurnRising(std::int32_t centreX, std::int32_t centreY, Position end) {
  constexpr std::int32_t kHalfTurnInSeconds = 180 * 3600;  // AngleToRadianFac of machine.ini
  LinkoraHelixRecord record{};
  record.Plane = 0;
  record.Direction = 0;
  record.HelixValue[0] = kHalfTurnInSeconds;
  record.HelixValue[1] = centreX;
  record.HelixValue[2] = centreY;
  std::copy(end.begin(), end.end(), record.EndPosition);
  return {record};
}

// The program: its relative lines make a record taken twice or lost show
// in the end position, its events in their order.
const std::vector<PathStep>& Program() {
  static const std::vector<PathStep> program = {
      Line{true, At(10000, 5000, 2000)},
      PathEvent{"path-chain-first", 10000},
      PathVelocity{12000},
      HalfTurnTo(At(20000, 5000, 2000), 15000, 5000),
      PathEvent{"path-chain-second", 20000},
      Line{false, At(5000, 0, 1000)},
      PathVelocity{20000},
      HalfTurnRising(30000, 5000, At(35000, 5000, 6000)),
      PathEvent{"path-chain-third", 35000},
      Line{false, At(5000, 2000, 0)},
      Line{true, At(45000, 7000, 4000)},
      PathEvent{"path-chain-fourth", 45000},
      Line{false, At(3000, 1000, 1000)},
  };
  return program;
}
const Position kProgramEnd = At(48000, 8000, 5000);

LinkoraStatus Issue(const PathStep& step) {
  struct Visitor {
    LinkoraStatus operator()(const Line& line) const {
      return line.absolute ? mctl_MoveAbs(line.target.data(), LINKORA_POSITION_ARRAY_SIZE)
                           : mctl_MoveRel(line.target.data(), LINKORA_POSITION_ARRAY_SIZE);
    }
    LinkoraStatus operator()(const Arc& arc) const {
      return mctl_CircleAbs(&arc.record, sizeof arc.record);
    }
    LinkoraStatus operator()(const Helix& helix) const {
      return mctl_HelixAbs(&helix.record, sizeof helix.record);
    }
    LinkoraStatus operator()(const PathVelocity& velocity) const {
      LinkoraVelocityRecord record{};
      record.LinearProcessVel = velocity.linear;
      record.RotationProcessVel = velocity.linear;
      record.LinearFastVel = 50000;
      record.RotationFastVel = 50000;
      record.LinearTeachInVel = 20000;
      record.RotationTeachInVel = 20000;
      return mctl_cp_SetVelocity(reinterpret_cast<const int32_t*>(&record), sizeof record);
    }
    LinkoraStatus operator()(const PathEvent& event) const {
      return mctl_cp_EventToSet(event.name.c_str());
    }
  };
  return std::visit(Visitor{}, step);
}

// machine.ini with the shared buffer and the kernel's queue made small, and
// the cycle's wait for the driver host long enough for a loaded machine.
std::string SmallBufferIni(const fs::path& folder) {
  std::istringstream sample(ReadText(kSampleIni));
  std::ostringstream changed;
  for (std::string line; std::getline(sample, line);) {
    if (line.starts_with("MaxNoBufferedPathVec")) {
      line = "MaxNoBufferedPathVec = " + std::to_string(kKernelQueueSegments) + " ; (long)";
    } else if (line.starts_with("RealTimeThreadIntWaitTime")) {
      line = "RealTimeThreadIntWaitTime = " + std::to_string(kExchangeWaitMs) + " ; (short)";
    } else if (line.starts_with("DllPathPufVecMaxNo")) {
      line = "DllPathPufVecMaxNo = " + std::to_string(kSharedBufferRecords) + " ; (long)";
    }
    changed << line << '\n';
  }
  const fs::path ini = folder / "small_buffers.ini";
  std::ofstream(ini, std::ios::binary) << changed.str();
  return ini.string();
}

Position Read(LinkoraStatus (*read)(int32_t*, uint32_t)) {
  Position position{};
  EXPECT_EQ(read(position.data(), LINKORA_POSITION_ARRAY_SIZE), LINKORA_SUCCESS);
  return position;
}

// The events of a program, opened by their names before the path runs.
// Each poll reads an event's state before the positions, so a set event
// whose positions still lie before its point was set too early.
class EventWatch {
 public:
  explicit EventWatch(const std::vector<PathStep>& program) {
    for (const PathStep& step : program) {
      if (const auto* event = std::get_if<PathEvent>(&step)) {
        VantorEvent* handle = nullptr;
        EXPECT_EQ(vantor_event_open(event->name.c_str(), &handle), VANTOR_EVENT_OK);
        watched_.push_back({*event, handle, false});
      }
    }
  }
  EventWatch(const EventWatch&) = delete;
  EventWatch& operator=(const EventWatch&) = delete;
  ~EventWatch() {
    for (const Watched& w : watched_) vantor_event_close(w.handle);
  }

  void Poll() {
    for (std::size_t i = 0; i < watched_.size(); ++i) {
      Watched& w = watched_[i];
      if (w.seen || vantor_event_wait(w.handle, 0) != VANTOR_EVENT_OK) continue;
      w.seen = true;
      const Position desired = Read(mctl_GetDesiredPos);
      const Position actual = Read(mctl_GetPosition);
      EXPECT_GE(desired[0], w.event.x) << w.event.name << " set before the path reached it";
      EXPECT_GE(actual[0], w.event.x - kFollowingTolerance)
          << w.event.name << " set before the drives reached it";
      order_.push_back(i);
    }
  }

  // Closes the handles of this process; true when no event of the program
  // is held by anyone any more.
  bool CloseAndCheckReleased() {
    bool released = true;
    for (Watched& w : watched_) {
      vantor_event_close(w.handle);
      w.handle = nullptr;
      if (os::Event::Open(w.event.name)) {
        ADD_FAILURE() << w.event.name << " is still held after the path";
        released = false;
      }
    }
    return released;
  }

  // Waits (bounded) until every event was seen, each next one by a wait
  // on it.
  void AwaitAll() {
    const auto deadline = std::chrono::steady_clock::now() + kGenerous;
    while (order_.size() < watched_.size() && std::chrono::steady_clock::now() < deadline) {
      const auto next =
          std::find_if(watched_.begin(), watched_.end(), [](const Watched& w) { return !w.seen; });
      static_cast<void>(vantor_event_wait(next->handle, 50));
      Poll();
    }
    std::vector<std::size_t> inProgramOrder(watched_.size());
    for (std::size_t i = 0; i < inProgramOrder.size(); ++i) inProgramOrder[i] = i;
    EXPECT_EQ(order_, inProgramOrder) << "events missing or out of order";
  }

 private:
  struct Watched {
    PathEvent event;
    VantorEvent* handle;
    bool seen;
  };
  std::vector<Watched> watched_;
  std::vector<std::size_t> order_;
};

class PathBufferChainTest : public HomedMachineTest {
 protected:
  PathBufferChainTest() : HomedMachineTest("path-chain") {}

  // A test that stopped half-way leaves the channel to the next one.
  void TearDown() override {
    static_cast<void>(mctl_Exit());
    ChainTest::TearDown();
  }

  LinkoraPathBufferStatus QueueStatus() {
    LinkoraPathBufferStatus status{};
    EXPECT_EQ(mctl_cp_GetBufferStatus(&status, sizeof status), LINKORA_SUCCESS);
    EXPECT_EQ(status.FreeBuffer,
              status.MaxBuffer - std::min(status.MaxBuffer, status.SegmentCount));
    EXPECT_EQ(status.ActiveSegmentNo, 0u);
    EXPECT_EQ(status.Reserved32, 0u);
    EXPECT_EQ(status.PathEnable, status.Flags & 1u);
    EXPECT_EQ(status.PathBusy, status.Flags != 0 ? 1u : 0u);
    EXPECT_EQ(status.PathActive, status.PathBusy);
    return status;
  }

  LinkoraDllPathBufferStatus SharedStatus() {
    LinkoraDllPathBufferStatus status{};
    EXPECT_EQ(mctl_cp_GetDllPathBufferStatus(&status, sizeof status), LINKORA_SUCCESS);
    EXPECT_EQ(status.Free, status.Capacity - status.Count);
    return status;
  }

  // Repeats `attempt` while it answers `retryOn`, starting the path on the
  // first such answer and watching the events between tries.
  LinkoraStatus RetryWhileFull(const std::function<LinkoraStatus()>& attempt, LinkoraStatus retryOn,
                               EventWatch& events) {
    const auto deadline = std::chrono::steady_clock::now() + kGenerous;
    LinkoraStatus result = attempt();
    while (result == retryOn && std::chrono::steady_clock::now() < deadline) {
      if (!started_) {
        EXPECT_EQ(mctl_cp_StartPath(0), LINKORA_SUCCESS);
        started_ = true;
      }
      events.Poll();
      std::this_thread::sleep_for(5ms);
      result = attempt();
    }
    return result;
  }

  // Waits (bounded) until the path has run out, then ends it and path mode.
  void FinishPath(EventWatch& events) {
    events.AwaitAll();
    const auto deadline = std::chrono::steady_clock::now() + kGenerous;
    LinkoraStatus ended = mctl_cp_EndPath(0);
    while (ended == kMotionActive && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(10ms);
      ended = mctl_cp_EndPath(0);
    }
    EXPECT_EQ(ended, LINKORA_SUCCESS);
    EXPECT_EQ(mctl_cp_DisablePath(0), LINKORA_SUCCESS);
    const LinkoraPathBufferStatus status = QueueStatus();
    EXPECT_EQ(status.Flags, 0u);
    EXPECT_EQ(status.SegmentCount, 0u);
  }

  void ExpectAtProgramEnd() {
    EXPECT_EQ(Read(mctl_GetDesiredPos), kProgramEnd);
    const Position actual = Read(mctl_GetPosition);
    for (std::size_t i = 0; i < 3; ++i) {
      EXPECT_NEAR(actual[i], kProgramEnd[i], 2) << "coordinate " << i;
    }
  }

  bool started_ = false;
};

// The hand-over protocol: records go to the shared buffer; a full buffer is
// handed over; a full queue starts the path and is handed over again later.
TEST_F(PathBufferChainTest, AProgramLargerThanBothBuffersRunsThroughTheSharedBuffer) {
  ASSERT_NO_FATAL_FAILURE(StartHomedMachine(SmallBufferIni(folder_)));
  const std::vector<PathStep>& program = Program();
  ASSERT_GT(program.size(), 2 * kSharedBufferRecords);
  EventWatch events(program);

  ASSERT_EQ(mctl_cp_EnablePath(0), LINKORA_SUCCESS);
  ASSERT_EQ(mctl_cp_EnableDllPathBuffer(0), LINKORA_SUCCESS);
  EXPECT_EQ(mctl_cp_EnablePath(0), kNotInThisBufferState);

  bool firstHandOverSeen = false;
  for (const PathStep& step : program) {
    LinkoraStatus issued = Issue(step);
    while (issued == kNotInThisBufferState) {
      if (!firstHandOverSeen) {
        // Full: the records wait in the shared buffer, the kernel has none.
        firstHandOverSeen = true;
        const LinkoraDllPathBufferStatus shared = SharedStatus();
        EXPECT_EQ(shared.Enabled, 1u);
        EXPECT_EQ(shared.Capacity, kSharedBufferRecords);
        EXPECT_EQ(shared.Count, kSharedBufferRecords);
        EXPECT_EQ(mctl_cp_EndPath(0), kNotInThisBufferState) << "records remain";
        const LinkoraPathBufferStatus queue = QueueStatus();
        EXPECT_EQ(queue.Flags, 1u);
        EXPECT_EQ(queue.MaxBuffer, kKernelQueueSegments);
        EXPECT_EQ(queue.SegmentCount, 0u);
      }
      std::uint32_t refused = 99;
      const LinkoraStatus handedOver = RetryWhileFull(
          [&] {
            refused = 99;
            const LinkoraStatus result = mctl_cp_TransferDllPathBuffer(&refused);
            if (result == kQueueFull) {
              EXPECT_EQ(refused, 0u) << "no record was refused";
            }
            return result;
          },
          kQueueFull, events);
      ASSERT_EQ(handedOver, LINKORA_SUCCESS) << "record " << refused;
      issued = Issue(step);
    }
    ASSERT_EQ(issued, LINKORA_SUCCESS);
  }
  ASSERT_TRUE(firstHandOverSeen);

  // What is left goes over as the queue makes room.
  std::uint32_t refused = 99;
  ASSERT_EQ(
      RetryWhileFull([&] { return mctl_cp_TransferDllPathBuffer(&refused); }, kQueueFull, events),
      LINKORA_SUCCESS)
      << "record " << refused;
  EXPECT_EQ(SharedStatus().Count, 0u);
  ASSERT_EQ(mctl_cp_DisableDllPathBuffer(0), LINKORA_SUCCESS);
  EXPECT_EQ(SharedStatus().Enabled, 0u);
  if (!started_) {
    ASSERT_EQ(mctl_cp_StartPath(0), LINKORA_SUCCESS);
  }
  {
    const LinkoraPathBufferStatus running = QueueStatus();
    EXPECT_EQ(running.Flags & 1u, 1u);
    EXPECT_LE(running.SegmentCount, kKernelQueueSegments);
  }
  ASSERT_NO_FATAL_FAILURE(FinishPath(events));
  ExpectAtProgramEnd();
  EXPECT_TRUE(events.CloseAndCheckReleased());

  EXPECT_EQ(mctl_Exit(), LINKORA_SUCCESS);
  ExpectNothingLeft();
}

// Without the shared buffer each record goes to the kernel at once; a full
// queue refuses it until the running path has made room.
TEST_F(PathBufferChainTest, WithoutTheSharedBufferAFullQueueRefusesUntilThePathMakesRoom) {
  ASSERT_NO_FATAL_FAILURE(StartHomedMachine(SmallBufferIni(folder_)));
  const std::vector<PathStep>& program = Program();
  EventWatch events(program);

  ASSERT_EQ(mctl_cp_EnablePath(0), LINKORA_SUCCESS);
  std::size_t refusedOnFullQueue = 0;
  for (const PathStep& step : program) {
    const LinkoraStatus issued = RetryWhileFull(
        [&] {
          const LinkoraStatus result = Issue(step);
          if (result == kQueueFull) ++refusedOnFullQueue;
          return result;
        },
        kQueueFull, events);
    ASSERT_EQ(issued, LINKORA_SUCCESS);
  }
  EXPECT_GT(refusedOnFullQueue, 0u) << "the queue was never full";
  if (!started_) {
    ASSERT_EQ(mctl_cp_StartPath(0), LINKORA_SUCCESS);
  }
  ASSERT_NO_FATAL_FAILURE(FinishPath(events));
  ExpectAtProgramEnd();
  EXPECT_TRUE(events.CloseAndCheckReleased());

  EXPECT_EQ(mctl_Exit(), LINKORA_SUCCESS);
  ExpectNothingLeft();
}

}  // namespace
}  // namespace vantor::examples_test
