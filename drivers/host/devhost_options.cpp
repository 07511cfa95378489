#include "drivers/host/devhost_options.h"

namespace vantor::host {

std::optional<DevhostOptions> ParseDevhostOptions(const std::vector<std::string>& arguments,
                                                  std::string& error) {
  DevhostOptions options;
  bool clockChosen = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument == "--machine" || argument == "--candump" || argument == "--parameters") {
      if (i + 1 == arguments.size() || arguments[i + 1].empty()) {
        error = argument + " needs a file name";
        return std::nullopt;
      }
      std::string& path = argument == "--machine"   ? options.machinePath
                          : argument == "--candump" ? options.candumpPath
                                                    : options.parametersPath;
      if (!path.empty()) {
        error = argument + " given twice";
        return std::nullopt;
      }
      path = arguments[++i];
    } else if (argument == "--virtual-clock" || argument == "--fast") {
      if (clockChosen) {
        error = "choose one clock: --virtual-clock or --fast";
        return std::nullopt;
      }
      clockChosen = true;
      options.clock = argument == "--fast" ? ClockChoice::kFast : ClockChoice::kStepped;
    } else if (argument == "--zero-based-log") {
      options.zeroBasedLog = true;
    } else if (argument == "--help" || argument == "-h") {
      options.help = true;
    } else {
      error = "unknown argument \"" + argument + "\"";
      return std::nullopt;
    }
  }
  return options;
}

}  // namespace vantor::host
