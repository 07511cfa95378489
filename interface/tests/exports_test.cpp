// The library as applications see it: its export list and the exports that
// need no kernel.
#include <elf.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "interface/include/linkora.h"
#include "interface/include/linkora_drill.h"

extern "C" size_t LinkoraCRecordSize(void);
extern "C" size_t LinkoraCMachineRecordSize(void);

namespace {

// The names of the symbols the shared library defines for others, read
// from its dynamic symbol table.
std::set<std::string> DefinedDynamicSymbols(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  const std::vector<char> image((std::istreambuf_iterator<char>(file)),
                                std::istreambuf_iterator<char>());
  std::set<std::string> names;
  if (image.size() < sizeof(Elf64_Ehdr)) return names;
  Elf64_Ehdr header;
  std::memcpy(&header, image.data(), sizeof header);
  const auto section = [&](std::size_t index) {
    Elf64_Shdr shdr{};
    const std::size_t offset = header.e_shoff + index * header.e_shentsize;
    if (offset + sizeof shdr <= image.size())
      std::memcpy(&shdr, image.data() + offset, sizeof shdr);
    return shdr;
  };
  for (std::size_t i = 0; i < header.e_shnum; ++i) {
    const Elf64_Shdr symbols = section(i);
    if (symbols.sh_type != SHT_DYNSYM) continue;
    const Elf64_Shdr strings = section(symbols.sh_link);
    for (std::size_t s = 0; s < symbols.sh_size / sizeof(Elf64_Sym); ++s) {
      Elf64_Sym symbol;
      const std::size_t offset = symbols.sh_offset + s * sizeof symbol;
      if (offset + sizeof symbol > image.size()) break;
      std::memcpy(&symbol, image.data() + offset, sizeof symbol);
      if (symbol.st_shndx == SHN_UNDEF || ELF64_ST_BIND(symbol.st_info) == STB_LOCAL) continue;
      const std::size_t nameOffset = strings.sh_offset + symbol.st_name;
      if (nameOffset >= image.size()) continue;
      names.insert(std::string(image.data() + nameOffset));
    }
  }
  return names;
}

TEST(ExportsTest, TheLibraryExportsExactlyItsFunctions) {
  const std::set<std::string> expected = {
      "mctl_GetErrorText",
      "mctl_specfct_CanInitialize",
      "mctl_specfct_CanExit",
      "mctl_specfct_CncInitialize",
      "mctl_specfct_CncExit",
      "mctl_Initialize",
      "mctl_Exit",
      "mctl_Setup",
      "mctl_GetVersion",
      "mctl_specfct_GetCompleteStatus",
      "mctl_GetStatus",
      "mctl_GetAxisStatus",
      "mctl_Reset",
      "mctl_Reference",
      "mctl_ReferenceBreak",
      "mctl_ChangeHomePosition",
      "mctl_GetConfiguration",
      "mctl_SetVelocity",
      "mctl_SetStopOnInputModePar",
      "mctl_GetStopOnInputModePar",
      "mctl_GetStopOnInputModeLatchedPos",
      "mctl_ReadStopOnInputModeBit",
      "mctl_ReadStopOnInputModePort",
      "mctl_RunStopOnInputMode",
      "mctl_ReadMainAmplifyInputBit",
      "mctl_GetVelocity",
      "mctl_SetOverride",
      "mctl_GetOverride",
      "mctl_GetPosition",
      "mctl_GetDestinationPos",
      "mctl_GetDesiredPos",
      "mctl_GetAxisPosition",
      "mctl_MoveRel",
      "mctl_MoveAbs",
      "mctl_FastRel",
      "mctl_FastAbs",
      "mctl_CircleRel",
      "mctl_CircleAbs",
      "mctl_HelixRel",
      "mctl_HelixAbs",
      "mctl_SetActPosWNP",
      "mctl_SetWNPAbs",
      "mctl_SetWNPRel",
      "mctl_GetWNP",
      "mctl_ClearWNP",
      "mctl_SetMotionState",
      "mctl_SetPowerState",
      "mctl_SetTeachMode",
      "mctl_SetHwlsMoveOutMode",
      "mctl_HwlsMoveOut",
      "mctl_LeaveHWLS",
      "mctl_HWLSBridge",
      "mctl_GetPathCoor",
      "mctl_SetPathCoor",
      "mctl_GetAxisGearRatio",
      "mctl_SetAxisGearRatio",
      "mctl_GetRamp",
      "mctl_SetRamp",
      "mctl_SetCylinderPar",
      "mctl_GetSWLSStatus",
      "mctl_SetSWLS",
      "mctl_EnableSWLS",
      "mctl_ClearSWLS",
      "mctl_SetTestMode",
      "mctl_SetHandlingMode",
      "mctl_SetHandlingMoveMode",
      "mctl_GetHandlingAxisMovePar",
      "mctl_HandlingAxisMove",
      "mctl_HandlingAxisTurn",
      "mctl_SetHandlingAxisMotionState",
      "mctl_GetExtHandlingAxisPar",
      "mctl_ChangeLookAheadBuffer",
      "mctl_GetLookAheadBufferStatus",
      "mctl_ExchangeInterAxis",
      "mctl_GetSynAxisGearRatio",
      "mctl_SetSynAxisGearRatio",
      "mctl_SetCncTimeLimitation",
      "mctl_ResetReferenceFlag",
      "mctl_GetAxisRamp",
      "mctl_SetAxisRampOverride",
      "mctl_StartADConversion",
      "mctl_GetADValue",
      "mctl_SetADtoDistanceFactor",
      "mctl_SetDistanceRegulatorArea",
      "mctl_StartDistanceRegulator",
      "mctl_GetDistanceRegulatorStatus",
      "mctl_GetDistanceRegulatorPar",
      "mctl_ActivateVelPropOutputMode",
      "mctl_DeactivateVelPropOutputMode",
      "mctl_SetVelPropOutputWorkPar",
      "mctl_GetVelPropOutputActPar",
      "mctl_SetPlaneRotPar",
      "mctl_GetPlaneRotPar",
      "mctl_SetPathVelFac",
      "mctl_GetPathVelFac",
      "mctl_InitDebugViewOutput",
      "mctl_cp_EnablePath",
      "mctl_cp_DisablePath",
      "mctl_cp_StartPath",
      "mctl_cp_EndPath",
      "mctl_cp_SetBufferSize",
      "mctl_cp_GetBufferStatus",
      "mctl_cp_SetVelocity",
      "mctl_cp_EventToSet",
      "mctl_cp_EnableDllPathBuffer",
      "mctl_cp_DisableDllPathBuffer",
      "mctl_cp_TransferDllPathBuffer",
      "mctl_cp_GetDllPathBufferStatus",
      "cpctl_GetCanInitPar",
      "cpctl_CanInitialize",
      "cpctl_Initialize",
      "cpctl_Exit",
      "cpctl_ComViaSdo",
      "cpctl_AssignPdo",
      "cpctl_ClearPdo",
      "cpctl_ReadPdo",
      "cpctl_WritePdo",
  };
  std::set<std::string> exported = DefinedDynamicSymbols(VANTOR_LINKORA_LIBRARY);
  // The version node of the script is no function.
  std::erase_if(exported, [](const std::string& name) { return name.empty(); });
  EXPECT_EQ(exported, expected);
}

struct TextCase {
  std::uint32_t code;
  std::int32_t language;
  std::uint32_t size;
  const char* text;
};

TEST(ExportsTest, ErrorTextsAreCutToTheBuffer) {
  const TextCase cases[] = {
      {0xC9140002, 1, 256,
       "Linkora-Message\n\r\n\r0xC9140002 (3-2324-2): Linkora is not yet initialized!"},
      {0xC9140002, 0, 256,
       "Linkora-Meldung\n\r\n\r0xC9140002 (3-2324-2): Linkora noch nicht initialisiert!"},
      {0x09140000, 0, 256, "Unbekannter Fehler!"},
      {0x09130000, 7, 256, "Unknown Error!"},
      {0xC9140010, 1, 256, "Linkora-Message\n\r\n\rUnknown Error!"},
      // Before any initialisation driver messages are headed "WDM".
      {0xC9100003, 1, 256,
       "WDM-Message\n\r\n\r0xC9100003 (3-2320-3):  The CAN-driver is already in own possession!"},
      {0xC9140002, 1, 8, "Linkora"},
      {0xC9140002, 1, 1, ""},
  };
  for (const auto& c : cases) {
    std::vector<char> buffer(c.size + 4, 'x');
    EXPECT_EQ(mctl_GetErrorText(c.code, c.language, buffer.data(), c.size), 0x09140000u);
    EXPECT_STREQ(buffer.data(), c.text) << std::hex << c.code;
    EXPECT_EQ(buffer[c.size], 'x') << "wrote past the buffer";
  }
  EXPECT_EQ(mctl_GetErrorText(0xC9140002, 0, nullptr, 0), 0x09140000u);
}

TEST(ExportsTest, ExportsNeedingTheChannelRefuseBeforeInitialisation) {
  LinkoraTraceFilter filter{};
  EXPECT_EQ(mctl_InitDebugViewOutput(&filter, sizeof filter), 0xC9140002u);
  LinkoraSdoFrame frame{};
  EXPECT_EQ(cpctl_ComViaSdo(&frame, sizeof frame), 0xC9140002u);
  LinkoraPdoData pdo{0x214, {}, 2, 0, 7};
  EXPECT_EQ(cpctl_ReadPdo(&pdo, sizeof pdo), 0xC9140002u);
  EXPECT_EQ(pdo.Length, 0);
  EXPECT_EQ(pdo.Mismatch, 0u);
  EXPECT_EQ(cpctl_ClearPdo(0x214), 0xC9140002u);
  EXPECT_EQ(mctl_specfct_CncExit(), 0xC9140002u);
  std::uint32_t recordNumber = 5;
  EXPECT_EQ(mctl_cp_TransferDllPathBuffer(&recordNumber), 0xC9140002u);
  EXPECT_EQ(recordNumber, 5u);
  EXPECT_EQ(mctl_cp_EventToSet("point"), 0xC9140002u);
  LinkoraCncInitRecord cnc{};
  EXPECT_EQ(mctl_specfct_CncInitialize(&cnc, sizeof cnc), 0xC9140002u);
  LinkoraCompleteStatusRecord complete;
  std::memset(&complete, 0xA5, sizeof complete);
  EXPECT_EQ(mctl_specfct_GetCompleteStatus(&complete, sizeof complete), 0xC9140002u);
  EXPECT_EQ(complete.CanInterfaceOK, 0u) << "no half answer is left in the record";
  EXPECT_EQ(complete.LibraryVersion[0], 0);
  // The status exports report an uninitialised controller instead.
  LinkoraMotionControlStatus status;
  std::memset(&status, 0xA5, sizeof status);
  EXPECT_EQ(mctl_GetStatus(&status, sizeof status), 0x09140000u);
  EXPECT_EQ(status.IsInitialized, 0u);
  EXPECT_EQ(status.Flags2, 0u);
  LinkoraAxisStatus axis;
  std::memset(&axis, 0xA5, sizeof axis);
  EXPECT_EQ(mctl_GetAxisStatus(7, &axis, sizeof axis), 0x09140000u);
  EXPECT_EQ(axis.Ready, 0u);
  EXPECT_EQ(axis.Flags2, 0u);
  const int32_t target[9] = {};
  EXPECT_EQ(mctl_MoveAbs(target, LINKORA_POSITION_ARRAY_SIZE), 0xC9140002u);
  int32_t positions[9] = {7, 7, 7, 7, 7, 7, 7, 7, 7};
  EXPECT_EQ(mctl_GetPosition(positions, LINKORA_POSITION_ARRAY_SIZE), 0xC9140002u);
  EXPECT_EQ(positions[0], 7) << "nothing is written without an answer";
  EXPECT_EQ(mctl_SetMotionState(1), 0xC9140002u);
  EXPECT_EQ(mctl_Exit(), 0x09140000u);
  EXPECT_EQ(mctl_specfct_CanExit(), 0x09140000u);
  EXPECT_EQ(mctl_Setup(), 0x09140000u);
}

TEST(ExportsTest, RecordSizesAreCheckedFirst) {
  LinkoraTraceFilter filter{};
  EXPECT_EQ(mctl_InitDebugViewOutput(&filter, 16 + sizeof filter), 0xC914000Eu);
  LinkoraSdoFrame frame{};
  EXPECT_EQ(cpctl_ComViaSdo(&frame, 31), 0xC914000Eu);
  LinkoraCncInitRecord cnc{};
  EXPECT_EQ(mctl_specfct_CncInitialize(&cnc, 880 + sizeof cnc), 0xC914000Eu);
  LinkoraCanInitRecord can{};
  EXPECT_EQ(mctl_specfct_CanInitialize(&can, 7), 0xC914000Eu);
  EXPECT_EQ(cpctl_CanInitialize(&can, 0), 0xC914000Eu);
  EXPECT_EQ(cpctl_GetCanInitPar(&can, 12, "machine.ini"), 0xC914000Eu);
  LinkoraCompleteStatusRecord complete{};
  EXPECT_EQ(mctl_specfct_GetCompleteStatus(&complete, 2483), 0xC914000Eu);
  EXPECT_EQ(mctl_specfct_GetCompleteStatus(nullptr, 2484), 0xC9140006u);
  LinkoraMotionControlStatus status{};
  EXPECT_EQ(mctl_GetStatus(&status, 100), 0xC914000Eu);
  EXPECT_EQ(mctl_GetStatus(&status, 0), 0xC914000Eu);
  EXPECT_EQ(mctl_GetStatus(nullptr, 117), 0xC914000Eu);
  // A null record of size 0 or 116 asks for the status dialog: only a hint.
  EXPECT_EQ(mctl_GetStatus(nullptr, 0), 0x09140000u);
  EXPECT_EQ(mctl_GetStatus(nullptr, 116), 0x09140000u);
  LinkoraAxisStatus axis{};
  EXPECT_EQ(mctl_GetAxisStatus(0, &axis, 116), 0xC914000Eu);
  EXPECT_EQ(mctl_GetAxisStatus(0, nullptr, 92), 0xC9140006u);
  // A record of the right size without hardware parameters is refused too.
  EXPECT_EQ(mctl_specfct_CanInitialize(&can, sizeof can), 0xC9140006u);
}

TEST(ExportsTest, CApplicationsSeeTheSameRecords) {
  EXPECT_EQ(LinkoraCRecordSize(),
            sizeof(LinkoraCanInitRecord) + LINKORA_CAN_INIT_RECORD_SHORT_SIZE +
                sizeof(LinkoraDrillMotionTable) + sizeof(LinkoraCompleteStatusRecord) +
                sizeof(LinkoraMotionControlStatus) + sizeof(LinkoraAxisStatus) +
                sizeof(LinkoraPathBufferStatus) + sizeof(LinkoraDllPathBufferStatus));
  // The machine functions' records: 8, 16, 244, 88, 52, 36, 52, 20, 40 and 8
  // bytes.
  EXPECT_EQ(LinkoraCMachineRecordSize(), 564u);
}

TEST(ExportsTest, VersionRecordAndInfo) {
  LinkoraVersionRecord version{};
  ASSERT_EQ(mctl_GetVersion(&version, sizeof version), 0x09140000u);
  const std::uint32_t numbers[5] = {9, 1, 70, 0, 13};
  EXPECT_EQ(std::memcmp(version.Version, numbers, sizeof numbers), 0);
  EXPECT_STREQ(version.ProductText, "Vantor CAN-CNC-Control");
  EXPECT_STREQ(version.SecondText, "");
  EXPECT_EQ(mctl_GetVersion(nullptr, 0), 0x09140000u);
  EXPECT_EQ(mctl_GetVersion(nullptr, 788), 0xC914000Eu);
  EXPECT_EQ(mctl_GetVersion(&version, 787), 0xC914000Eu);
}

TEST(ExportsTest, CanInitParReadsTheFileInEveryForm) {
  const std::string path = std::string(VANTOR_INTERFACE_TEST_DATA) + "/machine.ini";
  LinkoraCanHardwareParameters hardware{};
  LinkoraCanInitRecord record{};
  record.HardwareParameters = &hardware;
  ASSERT_EQ(cpctl_GetCanInitPar(&record, sizeof record, path.c_str()), 0x09140000u);
  EXPECT_EQ(record.KernelShared, 1u);
  EXPECT_EQ(record.RealTimeThreadIntWaitTime, 1500u);
  EXPECT_EQ(record.WindowsTimerRes, 2u);
  EXPECT_EQ(hardware.CanInterface, 2);
  EXPECT_EQ(hardware.KernelModus, 2);
  EXPECT_EQ(hardware.InterruptCycle, 3000u);

  LinkoraCanHardwareParameters shortHardware{};
  LinkoraCanInitRecord shortRecord{};
  shortRecord.HardwareParameters = &shortHardware;
  shortRecord.WindowsTimerRes = 77;
  ASSERT_EQ(cpctl_GetCanInitPar(&shortRecord, LINKORA_CAN_INIT_RECORD_SHORT_SIZE, path.c_str()),
            0x09140000u);
  EXPECT_EQ(shortHardware.BaudRateForCan, 5);
  EXPECT_EQ(shortRecord.WindowsTimerRes, 77u) << "the short form has no timer fields";

  EXPECT_EQ(cpctl_GetCanInitPar(&record, sizeof record, "/nonexistent.ini"), 0xC9140001u);
  EXPECT_EQ(mctl_Initialize("/nonexistent.ini"), 0xC9140001u);
}

}  // namespace
