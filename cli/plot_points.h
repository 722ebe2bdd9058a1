#pragma once
// Every "plot" answer carries the server's whole buffer of recent points; each point's
// "Ordinal" (one more for every point recorded) tells which ones a poll has not seen yet.
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace tessera::cli {

class NewPointFilter {
 public:
  // The points of `points` (the answer's "Points") not returned before, oldest first. The first
  // call returns none: its points were recorded before the plot began.
  std::vector<nlohmann::json> take(const nlohmann::json& points);
  // Points that left the server's buffer before a poll could fetch them.
  int64_t missed() const { return missed_; }

 private:
  bool started_ = false;
  std::optional<int64_t> last_;
  int64_t missed_ = 0;
};

// "Ordinal,Time,Channel,Value": one row per channel value, since points of different status
// frames carry different channels.
extern const char kPlotCsvHeader[];
std::string PointAsCsv(const nlohmann::json& point);
// For a person: a header, then "      42     0.250  MotorOutput=0.5 ..." with the time in
// seconds since `startTime` (the first point's "Time").
extern const char kPlotTableHeader[];
std::string PointAsLine(const nlohmann::json& point, double startTime);

}  // namespace tessera::cli
