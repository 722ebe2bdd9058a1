#pragma once
// The plotted points, oldest first, bounded by a capacity that follows the channel mask. Every
// "plot" answer carries the whole buffer; it is never emptied by reading.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>

#include <nlohmann/json.hpp>

#include "live/plotter_datum.h"

namespace quor::tessera::diagnostics {

class PlotterData {
 public:
  static constexpr int32_t kInitialCapacity = 50;

  // Appends a copy, first dropping the oldest point when the buffer is full (a negative
  // capacity is unbounded; with capacity 0 nothing is kept).
  void AddData(const PlotterDatum& datum);
  // Top-level "Points" (one object per point, oldest first) and "Count" of the document.
  void ToJson(nlohmann::json& document) const;
  // Drops the oldest points until at most `capacity` remain, when the capacity changes.
  void SetCapacity(int32_t capacity);
  // Empty, with the initial capacity.
  void Reset();

  int32_t Capacity() const;
  size_t Size() const;

 private:
  int32_t capacity_ = kInitialCapacity;
  mutable std::mutex mutex_;
  std::deque<PlotterDatum> data_;
};

}  // namespace quor::tessera::diagnostics
