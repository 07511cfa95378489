// Exports of the channel link: start-up, CNC mode, exit, set-up and version.
#include <cstring>
#include <string>

#include "interface/cnc_mode.h"
#include "interface/drill_plugin.h"
#include "interface/export_frame.h"
#include "interface/include/linkora.h"
#include "interface/init_file_reader.h"
#include "interface/kernel_link.h"
#include "interface/library_version.h"
#include "interface/link_state.h"
#include "interface/record_conversion.h"
#include "interface/ui_hook.h"
#include "platform/os/library_path.h"

namespace vantor::interface {
namespace {

namespace cir = common::cnc_init_record;
namespace hw = common::can_hardware_parameters;

constexpr char kKernelProgramName[] = "Motrix";
constexpr char kWatchProgramName[] = "Vigilo";
constexpr char kProductText[] = "Vantor CAN-CNC-Control";
constexpr char kAddressText[] = "Vantor Automation KG";
constexpr char kSetupMessage[] =
    "Please,\n\r - Terminate the application,\n\r - Use programs CORVEL and ZEMPLAR for "
    "commisioning of the machine!";

static_assert(sizeof(LinkoraVersionRecord) == 788);

// The folder this library was loaded from; the programs sit beside it.
std::string LibraryFolder() {
  return os::FolderOfAddress(reinterpret_cast<const void*>(&LibraryFolder));
}

common::StatusCode InitializeFromFile(const char* path) {
  if (path == nullptr) return common::kLibraryInitFileInvalid;
  CanInitSettings settings;
  if (common::StatusNumber(ReadCanInitSection(path, settings)) != 0) {
    return common::kLibraryInitFileInvalid;
  }
  const auto deviceName = DeviceNameFor(settings.hardware.Get(hw::kCanInterface),
                                        settings.hardware.Get(hw::kKernelModus));
  if (!deviceName) return common::kLibraryCallParameterInvalid;
  settings.deviceName = *deviceName;
  const std::string folder = LibraryFolder();
  settings.kernelPath = folder + "/" + kKernelProgramName;
  settings.watchPath = folder + "/" + kWatchProgramName;

  const auto linked = InitKernelLink(settings);
  if (common::StatusNumber(linked) != 0) return linked;

  CncInitImage image;
  if (common::StatusNumber(ReadCncInitSections(path, image)) != 0) {
    ExitKernelLink();
    return common::kLibraryInitFileInvalid;
  }
  common::cnc_init_record::SetFixedRequestTemplates(image.record);
  image.record.Set(cir::kMeasureCncCheckTime, 0);
  const auto cnc = InitCncMode(image);
  if (cnc != common::kLibrarySuccess) {
    ExitKernelLink();
    return cnc;
  }
  if (image.record.Get(cir::kCoorNo) != 0 && image.record.Get(cir::kAxisNo) != 0) {
    LoadDrillPlugin(folder + "/" + kDrillPluginFileName);
  }
  return common::kLibrarySuccess;
}

common::StatusCode ExitChannel() {
  if (InCncMode()) UnloadDrillPlugin();
  const auto cnc = ExitCncMode();
  switch (cnc) {
    case common::kLibrarySuccess:
    case common::kLibraryCncNotInitialized:
    case common::kLibraryKernelNotFound:
      ExitKernelLink();
      return common::kLibrarySuccess;
    case common::kLibraryNotInitialized:
      return common::kLibrarySuccess;
    default:
      return cnc;
  }
}

common::StatusCode CanInitialize(LinkoraCanInitRecord* record, std::uint32_t size) {
  CanInitSettings settings;
  const auto converted = CanSettingsFromRecord(record, size, settings);
  if (converted != common::kLibrarySuccess) return converted;
  return InitKernelLink(settings);
}

common::StatusCode GetCanInitPar(LinkoraCanInitRecord* record, std::uint32_t size,
                                 const char* path) {
  const bool full = size == LINKORA_CAN_INIT_RECORD_SIZE;
  const bool medium = size == LINKORA_CAN_INIT_RECORD_MEDIUM_SIZE;
  if (!full && !medium && size != LINKORA_CAN_INIT_RECORD_SHORT_SIZE) {
    return common::kLibraryRecordSizeMismatch;
  }
  if (record == nullptr || record->HardwareParameters == nullptr) {
    return common::kLibraryCallParameterInvalid;
  }
  if (path == nullptr) return common::kLibraryInitFileInvalid;
  CanInitSettings settings;
  if (common::StatusNumber(ReadCanInitSection(path, settings)) != 0) {
    return common::kLibraryInitFileInvalid;
  }
  record->DeclareMode = settings.declareMode;
  record->KernelShared = settings.kernelShared;
  CopyHardwareParameters(settings.hardware, *record->HardwareParameters);
  if (full || medium) {
    record->WindowsTimerRes = settings.windowsTimerRes;
    record->PathWindowsTimerRes = settings.pathWindowsTimerRes;
  }
  if (full) {
    record->RealTimeThreadIntWaitTime = settings.realTimeThreadIntWaitTime;
    record->PopupMenuActive = settings.popupMenuActive;
  }
  return common::kLibrarySuccess;
}

void CopyText(char* target, std::size_t capacity, const char* text) {
  std::memset(target, 0, capacity);
  std::strncpy(target, text, capacity - 1);
}

}  // namespace
}  // namespace vantor::interface

using namespace vantor;

LINKORA_EXPORT LinkoraStatus mctl_specfct_CanInitialize(LinkoraCanInitRecord* record,
                                                        uint32_t size) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_specfct_CanInitialize",
                              [&] { return interface::CanInitialize(record, size); });
}

LINKORA_EXPORT LinkoraStatus cpctl_CanInitialize(LinkoraCanInitRecord* record, uint32_t size) {
  static std::mutex lock;
  return interface::RunExport(lock, "cpctl_CanInitialize",
                              [&] { return interface::CanInitialize(record, size); });
}

LINKORA_EXPORT LinkoraStatus mctl_specfct_CanExit(void) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_specfct_CanExit", [] {
    interface::ExitKernelLink();
    return common::kLibrarySuccess;
  });
}

LINKORA_EXPORT LinkoraStatus mctl_specfct_CncInitialize(LinkoraCncInitRecord* record,
                                                        uint32_t size) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_specfct_CncInitialize", [&]() -> common::StatusCode {
    if (size != sizeof(LinkoraCncInitRecord)) return common::kLibraryRecordSizeMismatch;
    if (record == nullptr) return common::kLibraryCallParameterInvalid;
    interface::CncInitImage image;
    const auto converted = interface::CncImageFromRecord(*record, image);
    if (converted != common::kLibrarySuccess) return converted;
    const auto status = interface::InitCncMode(image);
    // A later user may have been given the first user's path-buffer capacity.
    if (status == common::kLibrarySuccess) {
      record->DllPathPufVecMaxNo = image.record.Get(common::cnc_init_record::kDllPathPufVecMaxNo);
    }
    return status;
  });
}

LINKORA_EXPORT LinkoraStatus mctl_specfct_CncExit(void) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_specfct_CncExit",
                              [] { return interface::ExitCncMode(); });
}

LINKORA_EXPORT LinkoraStatus mctl_Initialize(const char* initialisationFile) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_Initialize",
                              [&] { return interface::InitializeFromFile(initialisationFile); });
}

LINKORA_EXPORT LinkoraStatus cpctl_Initialize(const char* initialisationFile) {
  static std::mutex lock;
  return interface::RunExport(lock, "cpctl_Initialize",
                              [&] { return interface::InitializeFromFile(initialisationFile); });
}

LINKORA_EXPORT LinkoraStatus mctl_Exit(void) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_Exit", [] { return interface::ExitChannel(); });
}

LINKORA_EXPORT LinkoraStatus cpctl_Exit(void) {
  static std::mutex lock;
  return interface::RunExport(lock, "cpctl_Exit", [] { return interface::ExitChannel(); });
}

LINKORA_EXPORT LinkoraStatus cpctl_GetCanInitPar(LinkoraCanInitRecord* record, uint32_t size,
                                                 const char* initialisationFile) {
  static std::mutex lock;
  return interface::RunExport(lock, "cpctl_GetCanInitPar", [&] {
    return interface::GetCanInitPar(record, size, initialisationFile);
  });
}

LINKORA_EXPORT LinkoraStatus mctl_Setup(void) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_Setup", [] {
    if (interface::Link().popupMenuActive != 0) {
      interface::ShowLibraryMessage("Linkora", interface::kSetupMessage);
    }
    return common::kLibrarySuccess;
  });
}

LINKORA_EXPORT LinkoraStatus mctl_GetVersion(LinkoraVersionRecord* record, uint32_t size) {
  static std::mutex lock;
  return interface::RunExport(lock, "mctl_GetVersion", [&]() -> common::StatusCode {
    if (record == nullptr && size == 0) {
      std::string info = std::string(interface::kProductText) + "\n" +
                         interface::kLibraryVersionText + "\n" + interface::kAddressText;
      interface::ShowLibraryMessage("Info", info);
      return common::kLibrarySuccess;
    }
    if (record == nullptr || size != sizeof(LinkoraVersionRecord)) {
      return common::kLibraryRecordSizeMismatch;
    }
    std::memcpy(record->Version, interface::kLibraryVersionNumbers, sizeof record->Version);
    interface::CopyText(record->ProductText, sizeof record->ProductText, interface::kProductText);
    interface::CopyText(record->SecondText, sizeof record->SecondText, "");
    interface::CopyText(record->AddressText, sizeof record->AddressText, interface::kAddressText);
    return common::kLibrarySuccess;
  });
}

// An application that ends without leaving the channel still leaves the
// channel's counts in order.
__attribute__((destructor)) static void ShutdownOnUnload() {
  try {
    interface::ShutdownKernelLinkOnUnload();
  } catch (...) {
    // Nothing can be reported while the library goes away.
  }
}
