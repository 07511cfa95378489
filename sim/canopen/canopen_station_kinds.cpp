#include "sim/canopen/canopen_station_kinds.h"

#include <string>

#include <nlohmann/json.hpp>

#include "sim/canopen/node_factory.h"

namespace vantor::sim::canopen {

bool RegisterCanopenStationKinds(StationKinds& kinds) {
  bool all = true;
  for (const std::string_view kind : NodeKindNames()) {
    const std::string nodeKind(kind);
    const bool registered =
        kinds.Register("canopen_" + nodeKind,
                       [nodeKind](const nlohmann::json& entry, Simulation& /*simulation*/,
                                  std::string& error) -> std::unique_ptr<CanStation> {
                         NodeCreation creation = CreateNodeFromEntry(nodeKind, entry);
                         error = std::move(creation.error);
                         return std::move(creation.station);
                       });
    all = all && registered;
  }
  return all;
}

}  // namespace vantor::sim::canopen
