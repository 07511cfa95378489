// The continuous-path exports against the scripted kernel: what reaches the
// kernel, what the DLL path buffer holds byte for byte, and the hand-over
// of a program larger than both the buffer and the kernel's queue.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "common/kernel_object_names.h"
#include "interface/include/linkora.h"
#include "interface/tests/fake_channel.h"
#include "platform/os/named_objects.h"

// Found by the checks through the records' own (global) namespace.
static bool operator==(const LinkoraPathBufferStatus& a, const LinkoraPathBufferStatus& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}
static bool operator==(const LinkoraDllPathBufferStatus& a, const LinkoraDllPathBufferStatus& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}
static void PrintTo(const LinkoraPathBufferStatus& s, std::ostream* out) {
  *out << "{" << s.Flags << " " << s.PathBusy << " " << s.MaxBuffer << " " << s.SegmentCount << " "
       << s.FreeBuffer << " " << s.ActiveSegmentNo << " " << s.PathEnable << " " << s.PathActive
       << " " << s.Reserved32 << "}";
}
static void PrintTo(const LinkoraDllPathBufferStatus& s, std::ostream* out) {
  *out << "{" << s.Enabled << " " << s.Capacity << " " << s.Count << " " << s.Free << "}";
}

namespace linkora_test {
namespace {

constexpr std::uint32_t kDllCapacity = 5;  // records of the DLL path buffer
constexpr std::uint32_t kTakeLimit = 3;    // records the kernel takes per hand-over
constexpr LinkoraStatus kBufferRefusal = 0xC914000Du;
constexpr LinkoraStatus kQueueFull = 0xC9130022u;
constexpr std::size_t kRecordSize = 272;

using Record = std::array<std::uint8_t, kRecordSize>;

void Put32(Record& record, std::size_t offset, std::uint32_t value) {
  std::memcpy(record.data() + offset, &value, sizeof value);
}

// One step of a path program: a velocity change or an event.
struct PathItem {
  std::array<std::int32_t, 8> velocity{};
  std::string event;  // empty: a velocity change

  LinkoraStatus Issue() const {
    return event.empty() ? mctl_cp_SetVelocity(velocity.data(), sizeof velocity)
                         : mctl_cp_EventToSet(event.c_str());
  }

  // The record as the kernel command takes it, built here on its own.
  Record Expected() const {
    Record record{};
    if (event.empty()) {
      Put32(record, 0, 39);
      const std::size_t wireOrder[6] = {0, 1, 4, 5, 2, 3};
      for (std::size_t i = 0; i < 6; ++i) {
        const std::int32_t value = velocity[wireOrder[i]];
        const std::int64_t wire = value == 0x3FFFFFFF ? 0x3FFFFFFFFFFFFFFF : value;
        std::memcpy(record.data() + 8 + 8 * i, &wire, sizeof wire);
      }
    } else {
      Put32(record, 0, 57);
      std::memcpy(record.data() + 8, event.data(), std::min<std::size_t>(event.size(), 260));
    }
    return record;
  }
};

PathItem Velocity(std::int32_t first) {
  return {{first, first + 1, first + 2, first + 3, first + 4, first + 5, first + 6, first + 7}, {}};
}
PathItem Event(std::string name) { return {{}, std::move(name)}; }

// A velocity record with the marker and extreme values, a short name, and
// a name longer than the kernel takes.
std::vector<PathItem> MixedItems() {
  return {{{0x3FFFFFFF, -1, 2147483647, -2147483647 - 1, 7, 8, 99, 100}, {}},
          Event("Vantor Automation Test Event 1"),
          Event(std::string(150, 'a') + std::string(150, 'b'))};
}

class PathExportsTest : public FakeChannelTest {
 protected:
  void SetUpFakeKernel() override {
    ::setenv("VANTOR_FAKE_KERNEL_TAKE_LIMIT", std::to_string(kTakeLimit).c_str(), 1);
  }

  void TearDown() override {
    buffer_.Close();
    FakeChannelTest::TearDown();
  }

  void EnterCncMode() {
    FakeChannelTest::EnterCncMode(1, 1, kDllCapacity);
    buffer_ = os::Mapping::Open(common::ChannelObjectName(common::Channel::CanOne,
                                                          common::ChannelObject::PathBufferMapping))
                  .take();
    ASSERT_TRUE(buffer_.valid());
  }

  // Every record the kernel took, in the order it took them.
  std::vector<Record> KernelRecords() const {
    std::ifstream in(Path("path"), std::ios::binary);
    std::vector<Record> records;
    Record record;
    while (in.read(reinterpret_cast<char*>(record.data()), record.size())) {
      records.push_back(record);
    }
    return records;
  }

  std::uint32_t HeaderWord(std::size_t offset) const {
    std::uint32_t value = 0;
    std::memcpy(&value, buffer_.data() + offset, sizeof value);
    return value;
  }
  void SetHeaderWord(std::size_t offset, std::uint32_t value) {
    std::memcpy(buffer_.data() + offset, &value, sizeof value);
  }
  Record StoredRecord(std::size_t index) const {
    Record record;
    std::memcpy(record.data(), buffer_.data() + 16 + kRecordSize * index, kRecordSize);
    return record;
  }

  static LinkoraPathBufferStatus QueueStatus() {
    LinkoraPathBufferStatus status{};
    EXPECT_EQ(mctl_cp_GetBufferStatus(&status, sizeof status), LINKORA_SUCCESS);
    return status;
  }
  static LinkoraDllPathBufferStatus BufferStatus() {
    LinkoraDllPathBufferStatus status{};
    EXPECT_EQ(mctl_cp_GetDllPathBufferStatus(&status, sizeof status), LINKORA_SUCCESS);
    return status;
  }

  os::Mapping buffer_;
};

TEST_F(PathExportsTest, PathStateFollowsTheSwitchesAndTheQueue) {
  EnterCncMode();
  const struct {
    const char* step;
    std::function<LinkoraStatus()> call;
    LinkoraStatus result;
    LinkoraPathBufferStatus status;
  } steps[] = {
      {"path mode on",
       [] { return mctl_cp_EnablePath(7); },
       LINKORA_SUCCESS,
       {1, 1, 1000, 0, 1000, 0, 1, 1, 0}},
      {"queue of 20",
       [] { return mctl_cp_SetBufferSize(20); },
       LINKORA_SUCCESS,
       {1, 1, 20, 0, 20, 0, 1, 1, 0}},
      {"queue of 0",
       [] { return mctl_cp_SetBufferSize(0); },
       kQueueFull,
       {1, 1, 20, 0, 20, 0, 1, 1, 0}},
      {"negative queue",
       [] { return mctl_cp_SetBufferSize(-3); },
       kQueueFull,
       {1, 1, 20, 0, 20, 0, 1, 1, 0}},
      {"nine events",
       [] {
         for (int i = 0; i < 9; ++i) {
           const LinkoraStatus result = mctl_cp_EventToSet("point");
           if (result != LINKORA_SUCCESS) return result;
         }
         return LINKORA_SUCCESS;
       },
       LINKORA_SUCCESS,
       {1, 1, 20, 9, 11, 0, 1, 1, 0}},
      {"queue below its count",
       [] { return mctl_cp_SetBufferSize(5); },
       LINKORA_SUCCESS,
       {1, 1, 5, 9, 0, 0, 1, 1, 0}},
      {"started",
       [] { return mctl_cp_StartPath(0); },
       LINKORA_SUCCESS,
       {3, 1, 5, 0, 5, 0, 1, 1, 0}},
      {"ended", [] { return mctl_cp_EndPath(0); }, LINKORA_SUCCESS, {1, 1, 5, 0, 5, 0, 1, 1, 0}},
      {"started without path mode",
       [] {
         const LinkoraStatus off = mctl_cp_DisablePath(0);
         return off == LINKORA_SUCCESS ? mctl_cp_StartPath(0) : off;
       },
       LINKORA_SUCCESS,
       {2, 1, 5, 0, 5, 0, 0, 1, 0}},
      {"all off", [] { return mctl_cp_EndPath(0); }, LINKORA_SUCCESS, {0, 0, 5, 0, 5, 0, 0, 0, 0}},
  };
  for (const auto& s : steps) {
    EXPECT_EQ(s.call(), s.result) << s.step;
    EXPECT_EQ(QueueStatus(), s.status) << s.step;
  }
}

TEST_F(PathExportsTest, BufferedRecordsAreTheRecordsThatWouldHaveBeenSent) {
  EnterCncMode();
  ASSERT_EQ(mctl_cp_EnablePath(0), LINKORA_SUCCESS);
  const auto items = MixedItems();
  for (const auto& item : items) ASSERT_EQ(item.Issue(), LINKORA_SUCCESS);
  const auto sent = KernelRecords();
  ASSERT_EQ(sent.size(), items.size());

  ASSERT_EQ(mctl_cp_EnableDllPathBuffer(0), LINKORA_SUCCESS);
  // Records left from an earlier fill lie under the new ones.
  std::fill(buffer_.data() + 16, buffer_.data() + 16 + kDllCapacity * kRecordSize, std::byte{0xA5});
  const int requests = Requests(39) + Requests(57);
  for (const auto& item : items) ASSERT_EQ(item.Issue(), LINKORA_SUCCESS);
  EXPECT_EQ(Requests(39) + Requests(57), requests) << "appending sends nothing";
  EXPECT_EQ(HeaderWord(12), items.size());
  for (std::size_t i = 0; i < items.size(); ++i) {
    EXPECT_EQ(StoredRecord(i), items[i].Expected()) << i;
    EXPECT_EQ(sent[i], items[i].Expected()) << i;
  }
  EXPECT_EQ(StoredRecord(1)[8 + 30], 0);
  EXPECT_EQ(StoredRecord(2)[8 + 259], 'b');
  EXPECT_EQ(StoredRecord(2)[8 + 260], 0) << "the name is cut to 260 bytes and ended";

  std::uint32_t number = 77;
  EXPECT_EQ(mctl_cp_TransferDllPathBuffer(&number), LINKORA_SUCCESS);
  EXPECT_EQ(number, 0u);
  const auto all = KernelRecords();
  ASSERT_EQ(all.size(), 2 * items.size());
  EXPECT_TRUE(std::equal(sent.begin(), sent.end(), all.begin() + items.size()));
}

// The hand-over as an application runs it: a move refused for a full
// buffer is followed by a transfer; a kernel queue that ran full starts the
// path, and the same move or transfer is tried again.
LinkoraStatus RunThroughBuffer(const std::vector<PathItem>& program, int& transfers) {
  bool started = false;
  std::uint32_t number = 0;
  const auto transfer = [&]() {
    ++transfers;
    number = 99;
    const LinkoraStatus result = mctl_cp_TransferDllPathBuffer(&number);
    if (result == kQueueFull && number == 0 && !started) {
      started = true;
      return mctl_cp_StartPath(0);
    }
    return result == kQueueFull && number == 0 ? LINKORA_SUCCESS : result;
  };
  constexpr int kAttempts = 100;
  for (const auto& item : program) {
    LinkoraStatus result = item.Issue();
    for (int attempt = 0; result == kBufferRefusal && attempt < kAttempts; ++attempt) {
      const LinkoraStatus handed = transfer();
      if (handed != LINKORA_SUCCESS) return handed;
      result = item.Issue();
    }
    if (result != LINKORA_SUCCESS) return result;
  }
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    LinkoraDllPathBufferStatus status{};
    mctl_cp_GetDllPathBufferStatus(&status, sizeof status);
    if (status.Count == 0) return LINKORA_SUCCESS;
    const LinkoraStatus handed = transfer();
    if (handed != LINKORA_SUCCESS) return handed;
  }
  return kBufferRefusal;
}

TEST_F(PathExportsTest, HandOverPassesEveryRecordOnceInOrder) {
  EnterCncMode();
  ASSERT_EQ(mctl_cp_EnablePath(0), LINKORA_SUCCESS);
  ASSERT_EQ(mctl_cp_SetBufferSize(4), LINKORA_SUCCESS);
  ASSERT_EQ(mctl_cp_EnableDllPathBuffer(0), LINKORA_SUCCESS);
  EXPECT_EQ(BufferStatus(), (LinkoraDllPathBufferStatus{1, kDllCapacity, 0, kDllCapacity}));

  std::vector<PathItem> program = MixedItems();
  for (int i = 0; i < 20; ++i) {
    program.push_back(i % 3 == 2 ? Event("point " + std::to_string(i)) : Velocity(1000 * i));
  }
  int transfers = 0;
  ASSERT_EQ(RunThroughBuffer(program, transfers), LINKORA_SUCCESS);
  EXPECT_GE(transfers, static_cast<int>(program.size() / kTakeLimit));

  const auto taken = KernelRecords();
  ASSERT_EQ(taken.size(), program.size());
  for (std::size_t i = 0; i < program.size(); ++i) EXPECT_EQ(taken[i], program[i].Expected()) << i;
  EXPECT_EQ(Requests(39) + Requests(57), 0) << "nothing went round the buffer";

  EXPECT_EQ(mctl_cp_DisableDllPathBuffer(0), LINKORA_SUCCESS);
  EXPECT_EQ(mctl_cp_EndPath(0), LINKORA_SUCCESS);
  EXPECT_EQ(mctl_cp_DisablePath(0), LINKORA_SUCCESS);
  EXPECT_EQ(BufferStatus(), (LinkoraDllPathBufferStatus{0, kDllCapacity, 0, kDllCapacity}));
}

TEST_F(PathExportsTest, TransferNamesTheRecordTheKernelRefused) {
  EnterCncMode();
  ASSERT_EQ(mctl_cp_EnablePath(0), LINKORA_SUCCESS);
  ASSERT_EQ(mctl_cp_EnableDllPathBuffer(0), LINKORA_SUCCESS);
  for (const auto& item : MixedItems()) ASSERT_EQ(item.Issue(), LINKORA_SUCCESS);
  std::memset(buffer_.data() + 16 + kRecordSize, 0xEE, 4);  // no command the kernel knows

  std::uint32_t number = 0;
  EXPECT_EQ(mctl_cp_TransferDllPathBuffer(&number), 0xC9130021u);
  EXPECT_EQ(number, 2u);
  EXPECT_EQ(HeaderWord(12), 0u) << "the kernel emptied the buffer";
  EXPECT_TRUE(KernelRecords().empty());
}

TEST_F(PathExportsTest, RefusalsSendNothingAndStoreNothing) {
  LinkoraPathBufferStatus queue{};
  LinkoraDllPathBufferStatus buffer{};
  const std::array<std::int32_t, 8> velocity{};
  std::uint32_t number = 77;
  const struct {
    const char* call;
    std::function<LinkoraStatus()> run;
  } exports[] = {
      {"EnablePath", [] { return mctl_cp_EnablePath(0); }},
      {"DisablePath", [] { return mctl_cp_DisablePath(0); }},
      {"StartPath", [] { return mctl_cp_StartPath(0); }},
      {"EndPath", [] { return mctl_cp_EndPath(0); }},
      {"SetBufferSize", [] { return mctl_cp_SetBufferSize(10); }},
      {"GetBufferStatus", [&] { return mctl_cp_GetBufferStatus(&queue, sizeof queue); }},
      {"SetVelocity", [&] { return mctl_cp_SetVelocity(velocity.data(), 32); }},
      {"EventToSet", [] { return mctl_cp_EventToSet("point"); }},
      {"EnableDllPathBuffer", [] { return mctl_cp_EnableDllPathBuffer(0); }},
      {"DisableDllPathBuffer", [] { return mctl_cp_DisableDllPathBuffer(0); }},
      {"TransferDllPathBuffer", [&] { return mctl_cp_TransferDllPathBuffer(&number); }},
      {"GetDllPathBufferStatus", [&] { return mctl_cp_GetDllPathBufferStatus(&buffer, 16); }},
  };
  for (const auto& e : exports) EXPECT_EQ(e.run(), 0xC914000Bu) << e.call << " without CNC mode";
  EXPECT_EQ(number, 77u);

  EnterCncMode();
  const struct {
    const char* call;
    std::function<LinkoraStatus()> run;
    LinkoraStatus result;
  } malformed[] = {
      {"status size", [&] { return mctl_cp_GetBufferStatus(&queue, 35); }, 0xC914000Eu},
      {"status null", [] { return mctl_cp_GetBufferStatus(nullptr, 36); }, 0xC9140006u},
      {"velocity size", [&] { return mctl_cp_SetVelocity(velocity.data(), 36); }, 0xC914000Eu},
      {"velocity null", [] { return mctl_cp_SetVelocity(nullptr, 32); }, 0xC9140006u},
      {"event null", [] { return mctl_cp_EventToSet(nullptr); }, 0xC9140006u},
      {"number null", [] { return mctl_cp_TransferDllPathBuffer(nullptr); }, 0xC9140006u},
      {"buffer size", [&] { return mctl_cp_GetDllPathBufferStatus(&buffer, 15); }, 0xC914000Eu},
      {"buffer null", [] { return mctl_cp_GetDllPathBufferStatus(nullptr, 16); }, 0xC9140006u},
      {"transfer while off", [&] { return mctl_cp_TransferDllPathBuffer(&number); },
       kBufferRefusal},
  };
  for (const auto& m : malformed) EXPECT_EQ(m.run(), m.result) << m.call;
  EXPECT_EQ(number, 77u) << "left alone while the buffer is off";
  EXPECT_EQ(queue.MaxBuffer, 0u) << "left alone on a refusal";
  EXPECT_EQ(Requests(45) + Requests(39) + Requests(57) + Requests(52), 0);

  ASSERT_EQ(mctl_cp_EnablePath(0), LINKORA_SUCCESS);
  ASSERT_EQ(mctl_cp_EnableDllPathBuffer(0), LINKORA_SUCCESS);
  EXPECT_EQ(mctl_cp_EndPath(0), LINKORA_SUCCESS) << "an empty buffer lets the path end";
  for (std::uint32_t i = 0; i < kDllCapacity; ++i) ASSERT_EQ(Velocity(1).Issue(), LINKORA_SUCCESS);
  EXPECT_EQ(mctl_cp_EventToSet("one more"), kBufferRefusal) << "full";
  EXPECT_EQ(BufferStatus(), (LinkoraDllPathBufferStatus{1, kDllCapacity, kDllCapacity, 0}));
  EXPECT_EQ(mctl_cp_EnablePath(0), kBufferRefusal);
  EXPECT_EQ(mctl_cp_DisablePath(0), kBufferRefusal);
  EXPECT_EQ(mctl_cp_EndPath(0), kBufferRefusal) << "records remain";
  EXPECT_EQ(Requests(42), 1);
  EXPECT_EQ(Requests(43), 1);
  EXPECT_EQ(mctl_cp_StartPath(0), LINKORA_SUCCESS) << "starting is allowed";
}

TEST_F(PathExportsTest, HeaderWordsCountOnlyAsFarAsTheMappingHoldsRecords) {
  EnterCncMode();
  ASSERT_EQ(mctl_cp_EnablePath(0), LINKORA_SUCCESS);
  ASSERT_EQ(mctl_cp_EnableDllPathBuffer(0), LINKORA_SUCCESS);
  // Another process wrote a capacity far beyond the one page (15 records).
  const std::uint32_t fits = static_cast<std::uint32_t>((buffer_.size() - 16) / kRecordSize);
  SetHeaderWord(8, 0xFFFFFFFFu);
  SetHeaderWord(12, fits);
  EXPECT_EQ(BufferStatus(), (LinkoraDllPathBufferStatus{1, fits, fits, 0}));
  EXPECT_EQ(mctl_cp_EventToSet("beyond the mapping"), kBufferRefusal);
  EXPECT_EQ(HeaderWord(12), fits);

  SetHeaderWord(12, 0xFFFFFFF0u);
  EXPECT_EQ(BufferStatus(), (LinkoraDllPathBufferStatus{1, fits, fits, 0}));
  EXPECT_EQ(Velocity(3).Issue(), kBufferRefusal);
}

}  // namespace
}  // namespace linkora_test
