// "plot MODEL ID --channels MASK": polls "plot" and prints each point once, as it is recorded,
// or writes them to a CSV file.
#include <fstream>
#include <iostream>

#include "cli/commands.h"
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

class PointSink {
 public:
  explicit PointSink(const std::string& csvPath) : csv_(!csvPath.empty()) {
    if (csvPath.empty() || csvPath == "-") return;
    file_.open(csvPath, std::ios::trunc);
    opened_ = static_cast<bool>(file_);
  }
  bool usable() const { return opened_; }
  void header() {
    if (csv_) out() << kPlotCsvHeader;
  }
  void write(const nlohmann::json& point) {
    out() << (csv_ ? PointAsCsv(point) : PointAsLine(point));
    ++count_;
  }
  void flush() { out().flush(); }
  int64_t count() const { return count_; }

 private:
  std::ostream& out() { return file_.is_open() ? static_cast<std::ostream&>(file_) : std::cout; }

  bool csv_;
  bool opened_ = true;
  std::ofstream file_;
  int64_t count_ = 0;
};

}  // namespace

int RunPlot(const GlobalOptions& global, const PlotOptions& options) {
  PointSink sink(options.csvPath);
  if (!sink.usable()) return ReportFailure(std::cerr, options.csvPath + ": cannot create");
  DiagClient client(global.server, global.timeout());
  StopRequest stop;
  QueryParams query = DeviceQuery("plot", options.device);
  query.emplace_back("channels", std::to_string(options.channels));
  const int64_t end = options.durationSeconds > 0
                          ? MonotonicMillis() + static_cast<int64_t>(options.durationSeconds * 1000)
                          : INT64_MAX;
  NewPointFilter filter;
  if (!global.json) sink.header();
  do {
    const Answer answer = client.get(query);
    if (global.json) PrintAnswer(std::cout, answer);
    if (!answer.ok()) return ReportServerError(std::cerr, "plot " + options.device.text(), answer);
    const auto points = filter.take(answer.document.value("Points", nlohmann::json::array()));
    if (!global.json)
      for (const auto& point : points) sink.write(point);
    sink.flush();
  } while (MonotonicMillis() < end && !stop.waitFor(kPollPeriod));
  std::cerr << "plot " << options.device.text() << ": " << sink.count() << " points";
  if (filter.missed() > 0) std::cerr << ", " << filter.missed() << " lost between polls";
  std::cerr << "\n";
  return kExitOk;
}

}  // namespace tessera::cli
