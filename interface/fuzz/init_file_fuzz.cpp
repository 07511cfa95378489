// Feeds arbitrary initialisation files to the library's reader. A file
// either fills the CAN settings and the CNC record within their bounds
// (counts within the list capacities, texts terminated in their fields, a
// command-12 payload that fits the block) or is refused with a reader
// message that says why.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/cnc_init_record.h"
#include "common/communication_block.h"
#include "common/fuzz_input.h"
#include "common/status_code.h"
#include "interface/init_file_reader.h"
#include "interface/init_records.h"

namespace {

using vantor::common::FuzzRequire;

namespace cir = vantor::common::cnc_init_record;
using namespace vantor;

const std::string& InputPath() {
  static const std::string path = "/tmp/vantor-init-fuzz-" + std::to_string(getpid()) + ".ini";
  return path;
}

bool WriteInput(const std::uint8_t* data, std::size_t size) {
  std::FILE* file = std::fopen(InputPath().c_str(), "wb");
  if (file == nullptr) return false;
  const bool written = std::fwrite(data, 1, size, file) == size;
  return std::fclose(file) == 0 && written;
}

void RequireRefusalExplained(common::StatusCode status) {
  FuzzRequire(status != common::kFileReaderSuccess);
  const auto message = interface::ReaderMessage();
  FuzzRequire(!message.empty() && message != "OK\n");
}

template <std::size_t Offset, std::size_t Capacity>
void RequireTerminated(const common::CncInitRecord& record,
                       common::TextField<Offset, Capacity> field) {
  FuzzRequire(record.GetTerminatedText(field).has_value());
}

void CheckCanSection() {
  interface::CanInitSettings settings;
  const auto status = interface::ReadCanInitSection(InputPath(), settings);
  if (status != common::kFileReaderSuccess) RequireRefusalExplained(status);
}

void CheckCncSections() {
  interface::CncInitImage image;
  const auto status = interface::ReadCncInitSections(InputPath(), image);
  if (status != common::kFileReaderSuccess) {
    RequireRefusalExplained(status);
    return;
  }
  const auto& record = image.record;
  const auto coordinates = record.Get(cir::kCoorNo);
  const auto axes = record.Get(cir::kAxisNo);
  const auto handlingAxes = record.Get(cir::kHandlingAxisNo);
  FuzzRequire(coordinates >= 0 && coordinates <= cir::kMaxCoordinates);
  FuzzRequire(axes >= 0 && axes <= cir::kMaxAxes);
  FuzzRequire(handlingAxes >= 0 && handlingAxes <= cir::kMaxHandlingAxes);
  RequireTerminated(record, cir::kHandwheelModell);
  RequireTerminated(record, cir::kCanMCDLL);
  RequireTerminated(record, cir::kAxisCorrectionFile);

  const auto payload = interface::PackCncInitPayload(image);
  FuzzRequire(payload.has_value());
  const auto layout = common::LayoutCncInitLists(coordinates, axes, handlingAxes);
  FuzzRequire(layout.has_value() && payload->size() == layout->totalSize);
  FuzzRequire(payload->size() <= common::kMaxCncInitPayloadSize);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (!WriteInput(data, size)) std::abort();
  CheckCanSection();
  CheckCncSections();
  return 0;
}
