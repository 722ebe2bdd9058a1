#include "cli/plot_points.h"

#include <cstdio>

namespace tessera::cli {

namespace {

std::optional<int64_t> OrdinalOf(const nlohmann::json& point) {
  if (!point.is_object() || !point.contains("Ordinal") || !point["Ordinal"].is_number_integer())
    return std::nullopt;
  return point["Ordinal"].get<int64_t>();
}

std::string Number(const nlohmann::json& value) {
  if (!value.is_number()) return value.dump();
  char text[40];
  std::snprintf(text, sizeof text, "%.10g", value.get<double>());
  return text;
}

std::string Member(const nlohmann::json& point, const char* key) {
  return point.contains(key) ? Number(point[key]) : "";
}

bool IsChannel(const std::string& key) { return key != "Ordinal" && key != "Time"; }

}  // namespace

const char kPlotCsvHeader[] = "Ordinal,Time,Channel,Value\n";

std::vector<nlohmann::json> NewPointFilter::take(const nlohmann::json& points) {
  std::vector<nlohmann::json> fresh;
  if (!points.is_array()) return fresh;
  const bool baseline = !started_;
  started_ = true;
  for (const auto& point : points) {
    const auto ordinal = OrdinalOf(point);
    if (!ordinal || (last_ && *ordinal <= *last_)) continue;
    if (!baseline) {
      if (last_ && *ordinal > *last_ + 1) missed_ += *ordinal - *last_ - 1;
      fresh.push_back(point);
    }
    last_ = ordinal;
  }
  return fresh;
}

std::string PointAsCsv(const nlohmann::json& point) {
  const std::string prefix = Member(point, "Ordinal") + "," + Member(point, "Time") + ",";
  std::string rows;
  for (const auto& [key, value] : point.items())
    if (IsChannel(key)) rows += prefix + key + "," + Number(value) + "\n";
  return rows;
}

const char kPlotTableHeader[] = " ORDINAL    TIME/s  VALUES\n";

std::string PointAsLine(const nlohmann::json& point, double startTime) {
  const auto& time = point.contains("Time") ? point["Time"] : nlohmann::json();
  char head[64];
  std::snprintf(head, sizeof head, "%8s %9.3f", Member(point, "Ordinal").c_str(),
                time.is_number() ? time.get<double>() - startTime : 0.0);
  std::string line = head;
  for (const auto& [key, value] : point.items())
    if (IsChannel(key)) line += "  " + key + "=" + Number(value);
  return line + "\n";
}

}  // namespace tessera::cli
