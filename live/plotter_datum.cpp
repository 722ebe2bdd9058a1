#include "live/plotter_datum.h"

#include <algorithm>

namespace quor::tessera::diagnostics {

void PlotterDatum::ToJson(nlohmann::json& object) const {
  object["Ordinal"] = ordinal;
  object["Time"] = time;
  const int used = std::clamp(count, 0, kMaxChannels);
  for (int i = 0; i < used; ++i) object[names[i]] = values[i];
}

}  // namespace quor::tessera::diagnostics
