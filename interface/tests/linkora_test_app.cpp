// A second application for the link tests: it initialises the channel
// through the library, reports the result, and leaves the channel when the
// test tells it to.
//
//   linkora_test_app <result file> <go file> <kernel path> <watch path>
//                    <interface> <channel> <bit rate> <declare mode> <kernel shared>
//
// A go file that says "return" makes it end without leaving the channel.
// A tenth argument "<capacity>:<amplify>" adds a CNC initialisation with two
// coordinates and two axes, that path-buffer capacity and
// AmplifyMaxNoBufferedDesCoor; it reports the result and the capacity.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "interface/include/linkora.h"

namespace {

void Report(const char* path, const char* what, std::uint32_t code) {
  if (std::FILE* file = std::fopen(path, "a")) {
    std::fprintf(file, "%s %08X\n", what, code);
    std::fclose(file);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 10 && argc != 11) return 1;
  const char* resultFile = argv[1];
  const std::filesystem::path goFile = argv[2];

  LinkoraCanHardwareParameters hardware{};
  hardware.CanInterface = static_cast<std::uint8_t>(std::atoi(argv[5]));
  hardware.KernelModus = static_cast<std::uint8_t>(std::atoi(argv[6]));
  hardware.BaudRateForCan = static_cast<std::uint8_t>(std::atoi(argv[7]));
  hardware.InterruptCycle = 3000;
  hardware.TimeForGlobalSynPeriod = 300000;
  hardware.SynMaxWaitTime = 1000;
  LinkoraCanInitRecord record{};
  record.DeclareMode = static_cast<std::uint32_t>(std::atoi(argv[8]));
  record.KernelShared = static_cast<std::uint32_t>(std::atoi(argv[9]));
  record.HardwareParameters = &hardware;
  std::string deviceName = "tarnis1";
  record.DeviceName = deviceName.data();
  record.KernelPath = argv[3];
  record.WatchPath = argv[4];
  record.RealTimeThreadIntWaitTime = 1500;

  const std::uint32_t initialised = mctl_specfct_CanInitialize(&record, sizeof record);
  Report(resultFile, "init", initialised);
  if (initialised != LINKORA_SUCCESS) return 0;

  if (argc == 11) {
    LinkoraCoordinateEntry coordinates[2] = {{1, 1, 0, 0, 1000.0, -1000.0},
                                             {0, 1, 1, 0, 5.5, -5.5}};
    LinkoraAxisEntry axes[2] = {{1, 0, 0}, {2, 1, 9}};
    LinkoraCncInitRecord cnc{};
    cnc.CncKernelShared = 1;
    cnc.Coor32BitFormat = 1;
    cnc.CoorNo = 2;
    cnc.AxisNo = 2;
    cnc.CoordinateList = coordinates;
    cnc.AxisList = axes;
    unsigned capacity = 0;
    int amplify = 0;
    if (std::sscanf(argv[10], "%u:%d", &capacity, &amplify) != 2) return 1;
    cnc.DllPathPufVecMaxNo = capacity;
    cnc.AmplifyMaxNoBufferedDesCoor = static_cast<std::int16_t>(amplify);
    const std::uint32_t result = mctl_specfct_CncInitialize(&cnc, sizeof cnc);
    char line[64];
    std::snprintf(line, sizeof line, "cnc %08X", result);
    Report(resultFile, line, cnc.DllPathPufVecMaxNo);
  }

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!std::filesystem::exists(goFile) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  std::string order;
  std::ifstream(goFile) >> order;
  if (order == "return") return 0;
  Report(resultFile, "exit", argc == 11 ? mctl_Exit() : mctl_specfct_CanExit());
  return 0;
}
