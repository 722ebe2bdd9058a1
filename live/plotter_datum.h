#pragma once
// One plotted point: the channels one status frame feeds, with the frame's time stamp and the
// point's ordinal, by which the PC tool tells the points it has not seen yet.
#include <cstdint>

#include <nlohmann/json.hpp>

namespace quor::tessera::diagnostics {

struct PlotterDatum {
  static constexpr int kMaxChannels = 5;

  int32_t ordinal = 0;
  double time = 0.0;  // seconds
  const char* names[kMaxChannels] = {};  // channel names, static texts
  double values[kMaxChannels] = {};
  int32_t count = 0;  // channels used, from the first

  // "Ordinal", "Time", and one member per used channel: its name and value.
  void ToJson(nlohmann::json& object) const;
};

}  // namespace quor::tessera::diagnostics
