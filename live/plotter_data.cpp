#include "live/plotter_data.h"

namespace quor::tessera::diagnostics {

void PlotterData::AddData(const PlotterDatum& datum) {
  std::lock_guard<std::mutex> hold(mutex_);
  if (capacity_ >= 0) {
    // Popping an empty buffer (capacity 0) would be undefined; a zero capacity keeps nothing.
    if (capacity_ == 0) return;
    while (data_.size() >= static_cast<size_t>(capacity_)) data_.pop_front();
  }
  data_.push_back(datum);
}

void PlotterData::ToJson(nlohmann::json& document) const {
  nlohmann::json points = nlohmann::json::array();
  std::lock_guard<std::mutex> hold(mutex_);
  for (const PlotterDatum& datum : data_) {
    nlohmann::json point = nlohmann::json::object();
    datum.ToJson(point);
    points.push_back(std::move(point));
  }
  document["Count"] = data_.size();
  document["Points"] = std::move(points);
}

void PlotterData::SetCapacity(int32_t capacity) {
  std::lock_guard<std::mutex> hold(mutex_);
  if (capacity == capacity_) return;
  capacity_ = capacity;
  if (capacity_ < 0) return;
  while (data_.size() > static_cast<size_t>(capacity_)) data_.pop_front();
}

void PlotterData::Reset() {
  std::lock_guard<std::mutex> hold(mutex_);
  data_.clear();
  capacity_ = kInitialCapacity;
}

int32_t PlotterData::Capacity() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return capacity_;
}

size_t PlotterData::Size() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return data_.size();
}

}  // namespace quor::tessera::diagnostics
