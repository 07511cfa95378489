// An application of the channel for the crash tests, on the public header
// only. It starts (or attaches to) channel 1 from an initialisation file,
// then does what its command file says until told to leave:
//
//   channel_user <ini file> <program folder> <state file> <command file>
//
// Commands (the whole file): "idle", "sdo" (upload the device type of node 1
// again and again), "exit" (leave the channel and end). The state file gets
// one line per step: "init XXXXXXXX", "sdo XXXXXXXX" after the first upload
// (and again whenever an upload's result changes), "exit XXXXXXXX". An
// application nobody commands leaves after two minutes.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "interface/include/linkora.h"

namespace {

using namespace std::chrono_literals;

constexpr auto kCommandPoll = 5ms;
constexpr auto kUnattendedLifetime = 120s;
constexpr std::uint32_t kSdoTimeoutMicroseconds = 100000;

void Report(const char* path, const char* what, std::uint32_t code) {
  if (std::FILE* file = std::fopen(path, "a")) {
    std::fprintf(file, "%s %08X\n", what, static_cast<unsigned>(code));
    std::fclose(file);
  }
}

std::string Command(const char* path) {
  std::ifstream in(path);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

// One expedited upload of object 0x1000 from node 1.
std::uint32_t UploadDeviceType() {
  LinkoraSdoFrame frame{};
  frame.RequestCobId = 0x601;
  const std::uint8_t request[8] = {0x40, 0x00, 0x10, 0x00, 0, 0, 0, 0};
  std::memcpy(frame.RequestData, request, sizeof request);
  frame.RequestLength = 8;
  frame.ResponseCobId = 0x581;
  frame.Timeout = kSdoTimeoutMicroseconds;
  return cpctl_ComViaSdo(&frame, sizeof frame);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) return 2;
  const char* iniFile = argv[1];
  const std::string folder = argv[2];
  const char* stateFile = argv[3];
  const char* commandFile = argv[4];

  LinkoraCanHardwareParameters hardware{};
  LinkoraCanInitRecord record{};
  record.HardwareParameters = &hardware;
  std::uint32_t status = cpctl_GetCanInitPar(&record, sizeof record, iniFile);
  if (status != LINKORA_SUCCESS) {
    Report(stateFile, "init", status);
    return 1;
  }
  std::string device = "tarnis1";
  std::string kernel = folder + "/Motrix";
  std::string watch = folder + "/Vigilo";
  record.DeviceName = device.data();
  record.KernelPath = kernel.data();
  record.WatchPath = watch.data();
  status = cpctl_CanInitialize(&record, sizeof record);
  Report(stateFile, "init", status);

  const auto end = std::chrono::steady_clock::now() + kUnattendedLifetime;
  bool reported = false;
  std::uint32_t lastUpload = LINKORA_SUCCESS;
  while (std::chrono::steady_clock::now() < end) {
    const std::string command = Command(commandFile);
    if (command == "exit") break;
    if (command == "sdo" && status == LINKORA_SUCCESS) {
      const std::uint32_t upload = UploadDeviceType();
      if (!reported || upload != lastUpload) Report(stateFile, "sdo", upload);
      reported = true;
      lastUpload = upload;
    } else {
      std::this_thread::sleep_for(kCommandPoll);
    }
  }
  Report(stateFile, "exit", cpctl_Exit());
  return 0;
}
