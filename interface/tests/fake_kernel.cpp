// A stand-in kernel for the link tests: it announces itself like the real
// one and answers the link commands with scripted results.
//
//   fake_kernel <interface keyword> -<channel keyword>
//
// VANTOR_FAKE_KERNEL_LOG      file that every received command code is appended to
// VANTOR_FAKE_KERNEL_SILENT   "1": never answer (the start-up ping included)
// VANTOR_FAKE_KERNEL_SDO_FAILS number of SDO requests answered with a time-out first
// VANTOR_FAKE_KERNEL_SDO_HANG "1": never answer SDO requests
// VANTOR_FAKE_KERNEL_STALL_ON command code that is logged but never answered (the kernel
//                             then only waits to be killed)
// VANTOR_FAKE_KERNEL_SLOW_END milliseconds the kernel takes before it answers its end (2)
// VANTOR_FAKE_KERNEL_PID_FILE file that the kernel's process id is written to
// VANTOR_FAKE_KERNEL_CNC_FILE file that the payload of the CNC initialisation is written to
// VANTOR_FAKE_KERNEL_STATUS_FILE   complete status answered in CNC mode (read at each request)
// VANTOR_FAKE_KERNEL_STATUS_RESULT file with a result code (hex) that the complete status
//                                  request is answered with instead, while the file exists
// VANTOR_FAKE_KERNEL_RESET_RESULT  file with a result code (hex) that the reset (15) is
//                                  answered with in CNC mode, while the file exists
// VANTOR_FAKE_KERNEL_EXIT_RESULT   file with a result code (hex) that leaving CNC mode (13)
//                                  is answered with, while the file exists
// VANTOR_FAKE_KERNEL_PDO_FILE file that the payloads of the PDO commands (47 to 50, 44 bytes
//                             each) are appended to; code 49 answers 8 data bytes
//                             0xA0.., length 3 and mismatch 1, code 50 mismatch 1; COB-ID
//                             0x7FF is answered 0xC9130008 with length 5 and mismatch 1
// VANTOR_FAKE_KERNEL_MOTION_LOG    file that the motion and machine-function commands (17 to
//                                  46, 53 to 108) are appended to: the code (u32) and the
//                                  first 256 payload bytes. The payload is zeroed after
//                                  that (and after the CNC initialisation), so without a
//                                  scripted answer the next entry shows only what its
//                                  request wrote. Code 83 is served also before CNC mode
// VANTOR_FAKE_KERNEL_MOTION_ANSWER file whose bytes answer the motion commands from P+0
// VANTOR_FAKE_KERNEL_MOTION_RESULTS file of lines "<code> <hex result>": the results that
//                                  motion commands are answered with, in order, one line
//                                  each; a code without a line left is answered with success
// The path commands and their variables: fake_kernel_path.h.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/cnc_init_record.h"
#include "common/communication_block.h"
#include "common/complete_status_record.h"
#include "common/kernel_link_records.h"
#include "common/kernel_object_names.h"
#include "common/status_code.h"
#include "interface/tests/fake_kernel_path.h"
#include "platform/os/named_objects.h"
#include "platform/os/process.h"
#include "platform/os/timing.h"
#include "platform/os/wait.h"

namespace {

using namespace vantor;
namespace cb = common::communication_block;

// Keeps the CNC initialisation as it came: the fixed part and the lists
// its counts announce.
void SaveCncPayload(common::ConstCommunicationBlockView block) {
  const char* path = std::getenv("VANTOR_FAKE_KERNEL_CNC_FILE");
  if (path == nullptr) return;
  namespace cir = common::cnc_init_record;
  const auto record = *block.Window<common::kCncInitRecordSize>(cb::kPayloadOffset);
  const auto layout = common::LayoutCncInitLists(record.Get(cir::kCoorNo), record.Get(cir::kAxisNo),
                                                 record.Get(cir::kHandlingAxisNo));
  if (!layout) return;
  if (std::FILE* file = std::fopen(path, "wb")) {
    std::fwrite(block.Bytes().data() + cb::kPayloadOffset, 1, layout->totalSize, file);
    std::fclose(file);
  }
}

// The result scripted in the file that `variable` names, while it exists.
std::optional<common::StatusCode> ScriptedResult(const char* variable) {
  const char* path = std::getenv(variable);
  if (path == nullptr) return std::nullopt;
  std::FILE* file = std::fopen(path, "r");
  if (file == nullptr) return std::nullopt;
  unsigned int result = 0;
  const bool read = std::fscanf(file, "%x", &result) == 1;
  std::fclose(file);
  if (!read) return std::nullopt;
  return result;
}

// The complete status in CNC mode: the scripted record, or the scripted
// failure with a scribbled payload that no caller may take for an answer.
common::StatusCode AnswerCompleteStatus(common::CommunicationBlockView block) {
  const auto payload =
      block.MutableBytes().subspan(cb::kPayloadOffset, common::kCompleteStatusRecordSize);
  if (const auto result = ScriptedResult("VANTOR_FAKE_KERNEL_STATUS_RESULT")) {
    std::fill(payload.begin(), payload.end(), std::uint8_t{0xA5});
    return *result;
  }
  std::fill(payload.begin(), payload.end(), std::uint8_t{0});
  if (const char* path = std::getenv("VANTOR_FAKE_KERNEL_STATUS_FILE")) {
    if (std::FILE* file = std::fopen(path, "rb")) {
      std::vector<std::uint8_t> record(payload.size());
      const std::size_t length = std::fread(record.data(), 1, record.size(), file);
      std::fclose(file);
      block.CopyIn(cb::kPayloadOffset, std::span<const std::uint8_t>(record.data(), length));
    }
  }
  return common::kKernelSuccess;
}

// Appends the first 44 payload bytes of a PDO command and answers it.
common::StatusCode ServePdoCommand(std::uint32_t code, common::CommunicationBlockView block) {
  constexpr std::size_t kLoggedBytes = 44;
  if (const char* path = std::getenv("VANTOR_FAKE_KERNEL_PDO_FILE")) {
    if (std::FILE* file = std::fopen(path, "ab")) {
      std::fwrite(block.Bytes().data() + cb::kPayloadOffset, 1, kLoggedBytes, file);
      std::fclose(file);
    }
  }
  constexpr std::size_t kData = cb::kPayloadOffset + 2;
  constexpr std::size_t kLength = cb::kPayloadOffset + 10;
  constexpr std::size_t kMismatch = cb::kPayloadOffset + 12;
  if (code == 49 || code == 50) block.Store<std::uint32_t>(kMismatch, 1);
  if ((code == 49 || code == 50) && *block.Load<std::uint16_t>(cb::kPayloadOffset) == 0x7FF) {
    block.Store<std::uint8_t>(kLength, 5);
    return common::kKernelPdoParameterInvalid;
  }
  if (code == 49) {
    for (std::uint8_t k = 0; k < 8; ++k) block.Store<std::uint8_t>(kData + k, 0xA0 + k);
    block.Store<std::uint8_t>(kLength, 3);
  }
  return common::kKernelSuccess;
}

constexpr std::size_t kLoggedMotionPayload = 256;
// Room for the longest scripted answer; zeroed after every motion command.
constexpr std::size_t kMotionAnswerRoom = 512;

void ClearMotionPayload(common::CommunicationBlockView block) {
  block.Fill(cb::kPayloadOffset, kMotionAnswerRoom, 0);
}

// The first result still scripted for `code`; the line is used up.
std::optional<common::StatusCode> TakeScriptedMotionResult(std::uint32_t code) {
  const char* path = std::getenv("VANTOR_FAKE_KERNEL_MOTION_RESULTS");
  if (path == nullptr) return std::nullopt;
  std::FILE* file = std::fopen(path, "r");
  if (file == nullptr) return std::nullopt;
  std::vector<std::pair<unsigned int, unsigned int>> lines;
  unsigned int lineCode = 0;
  unsigned int result = 0;
  while (std::fscanf(file, "%u %x", &lineCode, &result) == 2) lines.emplace_back(lineCode, result);
  std::fclose(file);
  const auto found = std::find_if(lines.begin(), lines.end(),
                                  [&](const auto& line) { return line.first == code; });
  if (found == lines.end()) return std::nullopt;
  const common::StatusCode scripted = found->second;
  lines.erase(found);
  if (std::FILE* out = std::fopen(path, "w")) {
    for (const auto& [c, r] : lines) std::fprintf(out, "%u %X\n", c, r);
    std::fclose(out);
  }
  return scripted;
}

// Logs the request as the library wrote it, then answers it as scripted.
common::StatusCode ServeMotionCommand(std::uint32_t code, common::CommunicationBlockView block) {
  const auto payload = block.MutableBytes().subspan(cb::kPayloadOffset, kMotionAnswerRoom);
  if (const char* path = std::getenv("VANTOR_FAKE_KERNEL_MOTION_LOG")) {
    if (std::FILE* file = std::fopen(path, "ab")) {
      std::fwrite(&code, sizeof code, 1, file);
      std::fwrite(payload.data(), 1, kLoggedMotionPayload, file);
      std::fclose(file);
    }
  }
  ClearMotionPayload(block);
  if (const char* path = std::getenv("VANTOR_FAKE_KERNEL_MOTION_ANSWER")) {
    if (std::FILE* file = std::fopen(path, "rb")) {
      const std::size_t length = std::fread(payload.data(), 1, payload.size(), file);
      static_cast<void>(length);
      std::fclose(file);
    }
  }
  return TakeScriptedMotionResult(code).value_or(common::kKernelSuccess);
}

bool IsMotionCommand(std::uint32_t code) {
  return (code >= 17 && code <= 46) || (code >= 53 && code <= 108);
}

// The timer periods are the one machine function served before CNC mode.
constexpr std::uint32_t kTimeLimitationCode = 83;

void LogCommand(std::uint32_t code) {
  const char* path = std::getenv("VANTOR_FAKE_KERNEL_LOG");
  if (path == nullptr) return;
  if (std::FILE* file = std::fopen(path, "a")) {
    std::fprintf(file, "%u\n", code);
    std::fclose(file);
  }
}

os::Event OpenEvent(std::string_view name, bool set) {
  auto event = os::Event::CreateOrOpen(name, os::EventReset::Manual, set);
  if (!event) std::exit(2);
  if (set) event->Set();
  return event.take();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 || argv[2][0] != '-') return 1;
  const auto interfaceType = common::ParseInterfaceKeyword(argv[1]);
  const auto channel = common::ParseChannelKeyword(argv[2] + 1);
  if (!interfaceType || !channel) return 1;

  auto mapping = os::Mapping::Open(
      common::ChannelObjectName(*channel, common::ChannelObject::CommunicationMapping));
  if (!mapping || mapping->size() < common::kCommunicationBlockSize) return 1;
  common::CommunicationBlockView block(reinterpret_cast<std::uint8_t*>(mapping->data()));

  using CO = common::ChannelObject;
  os::Event standardReady =
      OpenEvent(common::ChannelObjectName(*channel, CO::StandardApplicationReadyEvent), false);
  os::Event standardAnswer =
      OpenEvent(common::ChannelObjectName(*channel, CO::StandardKernelReadyEvent), false);
  os::Event sdoReady =
      OpenEvent(common::ChannelObjectName(*channel, CO::SdoApplicationReadyEvent), false);
  os::Event sdoAnswer =
      OpenEvent(common::ChannelObjectName(*channel, CO::SdoKernelReadyEvent), false);
  os::Event hardwarePresence =
      OpenEvent(common::KernelObjectName(common::HardwareEventIndex(*interfaceType)), true);
  os::Event channelPresence =
      OpenEvent(common::KernelObjectName(common::KernelModeEventIndex(*channel)), true);

  if (const char* pidFile = std::getenv("VANTOR_FAKE_KERNEL_PID_FILE")) {
    if (std::FILE* file = std::fopen(pidFile, "w")) {
      std::fprintf(file, "%u\n", os::CurrentProcessId());
      std::fclose(file);
    }
  }
  const bool silent = std::getenv("VANTOR_FAKE_KERNEL_SILENT") != nullptr;
  const bool sdoHangs = std::getenv("VANTOR_FAKE_KERNEL_SDO_HANG") != nullptr;
  std::optional<std::uint32_t> stallOn;
  if (const char* code = std::getenv("VANTOR_FAKE_KERNEL_STALL_ON"))
    stallOn = static_cast<std::uint32_t>(std::atoi(code));
  int sdoFailures = 0;
  if (const char* fails = std::getenv("VANTOR_FAKE_KERNEL_SDO_FAILS"))
    sdoFailures = std::atoi(fails);

  common::CanStartRecord startRecord;
  startRecord.Set(common::can_start_record::kCanInterface,
                  static_cast<std::uint8_t>(*interfaceType));
  startRecord.Set(common::can_start_record::kKernelModus, static_cast<std::uint8_t>(*channel));

  bool cncMode = false;
  fake_kernel::FakePath path;
  for (;;) {
    const auto woke = os::WaitForAny({&standardReady, &sdoReady}, 60000);
    if (woke.kind != os::WaitKind::Signalled) return 3;
    if (silent) {
      os::Sleep(60000);
      return 4;
    }
    if (woke.index == 1) {
      sdoReady.Reset();
      LogCommand(1000);
      if (sdoHangs) continue;
      block.Set(cb::kSdoElapsedMicroseconds, 7);
      if (sdoFailures > 0) {
        --sdoFailures;
        block.Set(cb::kSdoResult, common::kKernelCanMessageTimeout);
      } else {
        // The answer echoes the request.
        std::array<std::uint8_t, 8> data{};
        block.CopyOut(cb::kSdoRequestData.kOffset, data);
        block.CopyIn(cb::kSdoAnswerData.kOffset, data);
        block.Set(cb::kSdoAnswerLength, block.Get(cb::kSdoRequestLength));
        block.Set(cb::kSdoResult, common::kKernelSuccess);
      }
      sdoAnswer.Set();
      continue;
    }
    standardReady.Reset();
    const std::uint32_t code = block.Get(cb::kCommandCode);
    LogCommand(code);
    if (code == stallOn) {
      os::Sleep(60000);
      return 5;
    }
    common::StatusCode result = common::kKernelSuccess;
    bool end = false;
    switch (code) {
      case 1:
      case 5:
      case 6:
        break;
      case 12:
        SaveCncPayload(block);
        // The first motion command finds a clean payload.
        ClearMotionPayload(block);
        path.AttachBuffer(*channel);
        cncMode = true;
        break;
      case 13:
        cncMode = false;
        result = ScriptedResult("VANTOR_FAKE_KERNEL_EXIT_RESULT").value_or(common::kKernelSuccess);
        break;
      case 24:
        result = cncMode ? AnswerCompleteStatus(block) : common::kKernelCncNotInitialized;
        break;
      case 15:
        result =
            cncMode
                ? ScriptedResult("VANTOR_FAKE_KERNEL_RESET_RESULT").value_or(common::kKernelSuccess)
                : common::kKernelCncNotInitialized;
        break;
      case 16:
      case 82:
        result = cncMode ? common::kKernelSuccess : common::kKernelCncNotInitialized;
        break;
      case 47:
      case 48:
      case 49:
      case 50:
        result = ServePdoCommand(code, block);
        break;
      case 2:
        if (const char* slow = std::getenv("VANTOR_FAKE_KERNEL_SLOW_END")) {
          os::Sleep(static_cast<std::uint32_t>(std::atoi(slow)));
        }
        end = true;
        break;
      case 3: {
        namespace id = common::kernel_identity;
        common::KernelIdentity identity;
        identity.CopyIn(0, startRecord.Bytes().first(common::kCanHardwareParametersSize));
        identity.Set(id::kWindowsTimerRes,
                     startRecord.Get(common::can_start_record::kWindowsTimerRes));
        identity.Set(id::kPathWindowsTimerRes,
                     startRecord.Get(common::can_start_record::kPathWindowsTimerRes));
        identity.Set(id::kRealTimeThreadIntWaitTime,
                     startRecord.Get(common::can_start_record::kRealTimeThreadIntWaitTime));
        identity.Set(id::kKernelProcessId, os::CurrentProcessId());
        identity.Set(id::kWatchProcessId,
                     startRecord.Get(common::can_start_record::kWatchProcessId));
        block.CopyIn(cb::kPayloadOffset, identity.Bytes());
        break;
      }
      case 4:
        block.CopyOut(cb::kPayloadOffset, startRecord.MutableBytes());
        break;
      default:
        if (fake_kernel::FakePath::Serves(code)) {
          result = cncMode ? path.Serve(code, block) : common::kKernelWrongFunctionNumber;
        } else if (IsMotionCommand(code)) {
          result = cncMode || code == kTimeLimitationCode ? ServeMotionCommand(code, block)
                                                          : common::kKernelCncNotInitialized;
        } else {
          result = common::kKernelWrongFunctionNumber;
        }
        break;
    }
    block.Set(cb::kResult, result);
    standardAnswer.Set();
    if (end) break;
  }
  channelPresence.Reset();
  hardwarePresence.Reset();
  return 0;
}
