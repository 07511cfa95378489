// Register windows, ports, PCI configuration, driver parameters and the
// control endpoint.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstring>
#include <map>
#include <string>

#include "platform/devhost/control_answer.h"
#include "platform/devhost/control_endpoint.h"
#include "platform/devhost/hardware_access.h"
#include "platform/devhost/parameter_store.h"
#include "platform/devhost/tests/host_fixture.h"
#include "platform/os/runtime_dir.h"

namespace vantor::devhost::testing {
namespace {

// Registers whose reads have a side effect: reading offset 0 clears a latch.
class LatchModel final : public RegisterModel, public PortModel {
 public:
  std::uint8_t Read8(std::uint32_t offset) override {
    ++reads;
    if (offset == 0) return std::exchange(latch, 0);
    return registers[offset % registers.size()];
  }
  void Write8(std::uint32_t offset, std::uint8_t value) override {
    registers[offset % registers.size()] = value;
  }
  std::uint8_t In8(std::uint16_t offset) override {
    return static_cast<std::uint8_t>(0x40 + offset);
  }
  void Out8(std::uint16_t offset, std::uint8_t value) override { lastOut = {offset, value}; }

  int reads = 0;
  std::uint8_t latch = 0x80;
  std::array<std::uint8_t, 0x200> registers{};
  std::pair<std::uint16_t, std::uint8_t> lastOut{};
};

class ConfigModel final : public PciConfigModel {
 public:
  std::uint8_t ReadConfig8(std::uint8_t offset) override { return space[offset]; }
  void WriteConfig8(std::uint8_t offset, std::uint8_t value) override { space[offset] = value; }
  std::array<std::uint8_t, 256> space{};
};

TEST(HardwareMapTest, WindowsReachTheModelWithinBoundsOnly) {
  HardwareMap map;
  LatchModel model;
  ASSERT_TRUE(map.AddMemoryRange(0xF000'0000, 0x200, model));
  EXPECT_FALSE(map.AddMemoryRange(0xF000'01FF, 0x10, model));    // overlaps
  EXPECT_FALSE(map.MapIoSpace(0xF000'0100, 0x101).has_value());  // runs past the range
  EXPECT_FALSE(map.MapIoSpace(0xE000'0000, 4).has_value());

  auto window = map.MapIoSpace(0xF000'0100, 0x100);
  ASSERT_TRUE(window.has_value());
  window->Write8(0x10, 0x5A);
  // Offsets count from the start of the model's range.
  EXPECT_EQ(model.registers[0x110], 0x5A);
  EXPECT_EQ(model.registers[0x10], 0);
  EXPECT_EQ(window->Read8(0x10), 0x5A);
  EXPECT_EQ(window->Read8(0x100), 0xFF);  // past the window: floating bus, no access
  EXPECT_EQ(window->Read32(0xFE), 0xFFFFFFFFu);

  auto whole = map.MapIoSpace(0xF000'0000, 0x200);
  ASSERT_TRUE(whole.has_value());
  EXPECT_EQ(whole->Read8(0), 0x80);  // reading clears the latch
  EXPECT_EQ(whole->Read8(0), 0x00);
  whole->Write32(4, 0x44332211);
  EXPECT_EQ(whole->Read32(4), 0x44332211u);
  EXPECT_EQ(whole->Read16(5), 0x3322u);
  whole->Write16(0x1FE, 0xBEEF);
  EXPECT_EQ(model.registers[0x1FE], 0xEF);
  EXPECT_EQ(whole->Read16(0x1FF), 0xFFFF);  // would leave the window
}

TEST(HardwareMapTest, PortsAndPciConfigurationAndAccessLog) {
  HardwareMap map;
  LatchModel ports;
  ConfigModel config;
  ASSERT_TRUE(map.AddPortRange(0x378, 8, ports));
  EXPECT_FALSE(map.AddPortRange(0x37F, 2, ports));
  ASSERT_TRUE(map.AddPciFunction({0, 5, 0}, config));
  EXPECT_FALSE(map.AddPciFunction({0, 32, 0}, config));
  map.Log().Enable(true);

  EXPECT_EQ(map.PortIn8(0x379), 0x41);
  EXPECT_EQ(map.PortIn8(0x3BC), 0xFF);  // nothing there
  map.PortOut8(0x37A, 0x15);
  EXPECT_EQ(ports.lastOut, (std::pair<std::uint16_t, std::uint8_t>{2, 0x15}));
  EXPECT_EQ(map.PortIn32(0x378), 0x43424140u);

  // A model may take the whole port space and see port numbers.
  HardwareMap wholeSpace;
  LatchModel everything;
  ASSERT_TRUE(wholeSpace.AddPortRange(0, 0x10000, everything));
  wholeSpace.PortOut8(0xCF8, 1);
  EXPECT_EQ(everything.lastOut, (std::pair<std::uint16_t, std::uint8_t>{0xCF8, 1}));
  EXPECT_FALSE(wholeSpace.AddPortRange(0xFFFF, 2, everything));

  const std::array<std::uint8_t, 4> bar0{0x00, 0x00, 0x00, 0xF0};
  EXPECT_EQ(map.WritePciConfig({0, 5, 0}, 0x10, bar0), 4u);
  std::array<std::uint8_t, 4> read{};
  EXPECT_EQ(map.ReadPciConfig({0, 5, 0}, 0x10, read), 4u);
  EXPECT_EQ(read, bar0);
  EXPECT_EQ(map.ReadPciConfig({0, 6, 0}, 0x10, read), 0u);
  std::array<std::uint8_t, 8> tail{};
  EXPECT_EQ(map.ReadPciConfig({0, 5, 0}, 0xFC, tail), 4u);  // the space ends at 256

  const auto log = map.Log().Take();
  ASSERT_GE(log.size(), 3u);
  EXPECT_EQ(log[0].kind, AccessKind::kPortIn);
  EXPECT_EQ(log[0].address, 0x379u);
  EXPECT_EQ(log[2].kind, AccessKind::kPortOut);
  EXPECT_EQ(log[2].value, 0x15u);
  EXPECT_TRUE(map.Log().Take().empty());
}

TEST(ParameterStoreTest, ReadsValuesAndKeepsDefaultsForAbsentOnes) {
  ParameterStore store;
  std::string error;
  ASSERT_TRUE(
      store.Parse("; adapter on the second port\n"
                  "[ravund]\n"
                  "ParallelPortNumber = 1\n"
                  "BaseAdress = 0x278   ; manual configuration\n"
                  "[Ravund\\Parameters]\r\n"
                  "TESTPORT_BASEADR=0x3BC\n",
                  error))
      << error;
  EXPECT_EQ(store.QueryDword("ravund", "parallelportnumber"), 1u);
  EXPECT_EQ(store.QueryDword("RAVUND", "BaseAdress", 0x378), 0x278u);
  EXPECT_EQ(store.QueryDword("ravund", "InterruptVector", 7), 7u);
  EXPECT_EQ(store.QueryDword("ravund\\parameters", "TESTPORT_BASEADR"), 0x3BCu);
  EXPECT_FALSE(store.QueryDword("tarnis1", "CommonBufferSize").has_value());
}

TEST(ParameterStoreTest, RefusesMalformedFilesWithTheLineAndKeepsTheOldValues) {
  const std::map<std::string, std::string> cases = {
      {"[ravund\nA = 1\n", "line 1"},
      {"A = 1\n", "outside a section"},
      {"[ravund]\nA 1\n", "name = value"},
      {"[ravund]\nA = 0x100000000\n", "32-bit"},
      {"[ravund]\nA = -1\n", "32-bit"},
      {"[ravund]\nA = 12abc\n", "32-bit"},
      {"[ravund]\n = 3\n", "invalid value name"},
      {"[]\n", "invalid section"},
  };
  ParameterStore store;
  store.SetDword("ravund", "A", 5);
  for (const auto& [text, reason] : cases) {
    SCOPED_TRACE(text);
    std::string error;
    EXPECT_FALSE(store.Parse(text, error));
    EXPECT_NE(error.find(reason), std::string::npos) << error;
    EXPECT_EQ(store.QueryDword("ravund", "A"), 5u);
  }
}

// Sends one command to the control endpoint and returns the answer.
std::string Command(int fd, const std::string& line) {
  EXPECT_EQ(::send(fd, line.data(), line.size(), 0), static_cast<ssize_t>(line.size()));
  std::string reply;
  std::string error;
  EXPECT_TRUE(
      ReceiveControlAnswer(fd, std::chrono::steady_clock::now() + kTestDeadline, reply, error))
      << error;
  return reply;
}

using ControlEndpointTest = HostFixture;

TEST_F(ControlEndpointTest, StepsTheVirtualClockAndRunsHostCommands) {
  ControlEndpoint endpoint(*host_, &clock_);
  std::string error;
  ASSERT_TRUE(endpoint.StartInRuntimeDirectory(error)) << error;
  host_->AddControlCommand("frames", [](std::string_view) { return std::string("can0 123#00\n"); });
  InterruptLine& line = host_->Interrupt(4);
  ASSERT_EQ(driver_->ConnectTick(line), os::kStatusSuccess);
  clock_.StartTimer(MicrosecondsToTicks(512), MicrosecondsToTicks(512), [&] { line.Raise(); });

  const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string path = *os::RuntimeDirectory() + "/" + std::string(kControlSocketFileName);
  std::memcpy(address.sun_path, path.data(), path.size());
  ASSERT_EQ(::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);

  EXPECT_EQ(Command(fd, "now"), "0");
  EXPECT_EQ(Command(fd, "step 2048"), "ok 20480");
  EXPECT_EQ(driver_->TickCount(), 4u);
  EXPECT_EQ(Command(fd, "step -1").rfind("error", 0), 0u);
  EXPECT_EQ(Command(fd, "step lots").rfind("error", 0), 0u);
  EXPECT_EQ(Command(fd, "frames"), "can0 123#00\n");
  EXPECT_EQ(Command(fd, "devices"), "\\Device\\TestDev\n");
  EXPECT_EQ(Command(fd, "parameter tarnis1 CommonBufferSize 0x1000"), "ok");
  EXPECT_EQ(host_->Parameters().QueryDword("tarnis1", "CommonBufferSize"), 0x1000u);
  EXPECT_EQ(Command(fd, "access-log on"), "ok");
  host_->Hardware().PortOut8(0x3BC, 0x08);
  EXPECT_NE(Command(fd, "access-log").find("OUT 0x3bc 0x8"), std::string::npos);
  EXPECT_EQ(Command(fd, "reboot"), "error: unknown command");
  ::close(fd);
  driver_->DisconnectTick();
}

}  // namespace
}  // namespace vantor::devhost::testing
