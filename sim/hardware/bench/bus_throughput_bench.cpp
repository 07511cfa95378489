// How many frames the simulated bus and two 82527 models carry per second
// of wall time at 1 Mbit/s, driven through register accesses as the drivers
// drive them, and how far ahead of real time that runs.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "sim/hardware/machine.h"

namespace {

using vantor::sim::Machine;
using vantor::sim::PciCard;
using vantor::sim::RegisterWindow;
using vantor::sim::SimTime;

void Write(RegisterWindow& window, std::uint32_t address, std::uint8_t value) {
  window.Write8(address, value);
}

void SetUp(RegisterWindow& window, std::uint32_t base) {
  Write(window, base + 0xEF, 0xFC);
  Write(window, base + 0x00, 0x41);
  Write(window, base + 0xAF, 0x3F);
  Write(window, base + 0x2F, 0x08);
  Write(window, base + 0x3F, 0x40);  // 1 Mbit/s
  Write(window, base + 0x4F, 0x23);
  Write(window, base + 0x06, 0xFF);
  Write(window, base + 0x07, 0xFF);
  for (std::uint32_t n = 1; n <= 15; ++n) Write(window, base + 16 * n, 0x7F);
  Write(window, base + 0x00, 0x00);
}

}  // namespace

int main(int argc, char** argv) {
  const long frames = argc > 1 ? std::atol(argv[1]) : 200000;
  Machine machine;
  machine.AddBus("can0");
  PciCard* card = machine.AddPciCard(PciCard::Config{}, {"can0", "can0"});
  RegisterWindow& window = *card->BarWindow(2);
  machine.Sim().SetRegisterAccessCost(250);
  SetUp(window, 0x000);
  SetUp(window, 0x100);

  // Channel 2 receives on object 1; channel 1 sends eight bytes from object 1.
  const std::uint32_t receiver = 0x100 + 16;
  Write(window, receiver + 0, 0x7F);
  Write(window, receiver + 2, 0x181 >> 3);
  Write(window, receiver + 3, static_cast<std::uint8_t>(0x181 << 5));
  Write(window, receiver + 6, 0x00);
  Write(window, receiver + 1, 0x55);
  Write(window, receiver + 0, 0x95);
  const std::uint32_t sender = 16;
  Write(window, sender + 0, 0x7F);
  Write(window, sender + 2, 0x181 >> 3);
  Write(window, sender + 3, static_cast<std::uint8_t>(0x181 << 5));
  Write(window, sender + 6, 0x88);
  Write(window, sender + 1, 0x59);
  Write(window, sender + 0, 0x95);

  const SimTime simulated_start = machine.Sim().Now();
  const auto wall_start = std::chrono::steady_clock::now();
  long received = 0;
  for (long i = 0; i < frames; ++i) {
    Write(window, sender + 1, 0xFB);
    for (std::uint32_t byte = 0; byte < 8; ++byte) {
      Write(window, sender + 7 + byte, static_cast<std::uint8_t>(i + byte));
    }
    Write(window, sender + 1, 0xE6);
    // Step to the frame's end, then take it out of the receiver.
    machine.Sim().AdvanceTo(machine.Sim().NextDeadline());
    while ((window.Read8(sender + 1) & 0x30) == 0x20)
      machine.Sim().AdvanceTo(machine.Sim().NextDeadline());
    if ((window.Read8(receiver + 1) & 0x03) == 0x02) {
      Write(window, receiver + 1, 0xF5);
      for (std::uint32_t byte = 0; byte < 8; ++byte) window.Read8(receiver + 7 + byte);
      ++received;
    }
  }
  const double wall_seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_start).count();
  const double simulated_seconds = static_cast<double>(machine.Sim().Now() - simulated_start) / 1e9;

  std::printf("frames sent             %ld\n", frames);
  std::printf("frames received         %ld\n", received);
  std::printf("wall time               %.3f s\n", wall_seconds);
  std::printf("simulated time          %.3f s\n", simulated_seconds);
  std::printf("frames per wall second  %.0f\n", static_cast<double>(frames) / wall_seconds);
  std::printf("ahead of real time      %.1f x\n", simulated_seconds / wall_seconds);
  return received == frames ? 0 : 1;
}
