// "plot MODEL ID --channels MASK": polls "plot" and prints each point once, as it is recorded,
// or writes them to a CSV file.
#include <fstream>
#include <iostream>
#include <optional>

#include "cli/commands.h"
#include "cli/context_hints.h"
#include "cli/plot_points.h"
#include "cli/report.h"
#include "cli/stop_request.h"
#include "runtime/monotonic_clock.h"

namespace tessera::cli {

namespace {

using quor::tessera::runtime::MonotonicMillis;

// The server keeps 50 points per channel bit; status frames come every 10-20 ms, so polling
// this often loses none.
constexpr std::chrono::milliseconds kPollPeriod{100};

// Where the points go: a table for a person, CSV rows, or JSON Lines (--json).
class PointSink {
 public:
  enum class Format { kTable, kCsv, kJsonLines };

  PointSink(const std::string& csvPath, bool json)
      : format_(json ? Format::kJsonLines : csvPath.empty() ? Format::kTable : Format::kCsv) {
    if (format_ != Format::kCsv || csvPath == "-") return;
    file_.open(csvPath, std::ios::trunc);
    opened_ = static_cast<bool>(file_);
  }
  bool usable() const { return opened_; }
  void header() {
    if (format_ == Format::kCsv) out() << kPlotCsvHeader;
    if (format_ == Format::kTable) out() << kPlotTableHeader;
  }
  void write(const nlohmann::json& point) {
    if (!startTime_ && point.contains("Time") && point["Time"].is_number())
      startTime_ = point["Time"].get<double>();
    switch (format_) {
      case Format::kTable:
        out() << PointAsLine(point, startTime_.value_or(0));
        break;
      case Format::kCsv:
        out() << PointAsCsv(point);
        break;
      case Format::kJsonLines:
        out() << point.dump() << "\n";
        break;
    }
    ++count_;
  }
  void flush() { out().flush(); }
  int64_t count() const { return count_; }

 private:
  std::ostream& out() { return file_.is_open() ? static_cast<std::ostream&>(file_) : std::cout; }

  Format format_;
  bool opened_ = true;
  std::ofstream file_;
  std::optional<double> startTime_;
  int64_t count_ = 0;
};

}  // namespace

int RunPlot(const GlobalOptions& global, const PlotOptions& options) {
  PointSink sink(options.csvPath, global.json);
  if (!sink.usable()) return ReportFailure(std::cerr, options.csvPath + ": cannot create");
  DiagClient client(global.server, global.timeout());
  StopRequest stop;
  QueryParams query = DeviceQuery("plot", options.device);
  query.emplace_back("channels", std::to_string(options.channels));
  const int64_t end = options.durationSeconds > 0
                          ? MonotonicMillis() + static_cast<int64_t>(options.durationSeconds * 1000)
                          : INT64_MAX;
  NewPointFilter filter;
  sink.header();
  do {
    const Answer answer = client.get(query);
    if (!answer.ok())
      return ReportServerError(std::cerr, "plot " + options.device.text(), answer,
                               ContextHint(client, options.device, answer));
    for (const auto& point : filter.take(answer.document.value("Points", nlohmann::json::array())))
      sink.write(point);
    sink.flush();
  } while (MonotonicMillis() < end && !stop.waitFor(kPollPeriod));
  std::cerr << "plot " << options.device.text() << ": " << sink.count() << " points";
  if (filter.missed() > 0) std::cerr << ", " << filter.missed() << " lost between polls";
  std::cerr << "\n";
  return kExitOk;
}

}  // namespace tessera::cli
