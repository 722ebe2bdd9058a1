#pragma once
// Live curves of one motor controller's signals. A "plot" request names the device and a
// channel mask; from then on the plotter's thread reads every frame of that device through a
// stream session, decodes the status frames that feed enabled channels, and keeps the newest
// points (50 per bit set in the mask). Every answer carries the whole buffer; the PC tool polls
// and tells new points by their ordinals.
//
// Invariants:
// - The target, the stream and the enables change only under the plotter lock; the point
//   buffer has its own mutex, always taken after the plotter lock.
// - A stream is open only for the current target; a stream that the session layer no longer
//   knows (it was disposed of) is forgotten and opened again at the next tick.
// - After Close() returns the plotter has no stream and no target, its buffer and enables are
//   those of a new plotter, and requests are refused until Open().
#include <atomic>
#include <cstdint>
#include <mutex>

#include <nlohmann/json.hpp>

#include "device/device_descriptor.h"
#include "live/plot_frame_decoder.h"
#include "live/plotter_data.h"
#include "live/plotter_enables.h"
#include "live/tick_thread.h"
#include "server/request_parameters.h"

namespace quor::tessera::diagnostics {

// The ordinal of the next point of any plotter. Atomic increments wrap without undefined
// behaviour after 2^31 points.
extern std::atomic<int32_t> _PlotterOrdinal;

class Plotter {
 public:
  static constexpr uint32_t kNoTarget = 0xFFFFFFFF;
  static constexpr uint32_t kStreamMask = 0x1FFF003F;  // every frame of the device
  static constexpr uint32_t kStreamCapacity = 100;
  static constexpr uint32_t kReadBatch = 64;
  static constexpr uint32_t kTickPeriod_ms = 10;
  static constexpr int32_t kPointsPerChannel = 50;

  Plotter();
  // Closes the stream, which the session layer would otherwise keep for nobody.
  ~Plotter();
  Plotter(const Plotter&) = delete;
  Plotter& operator=(const Plotter&) = delete;

  // The "plot" action: adds "Points", "Count" and "Channels" (the mask before this request) to
  // the document, then for a motor controller moves the stream to it and takes the request's
  // channels. -125 for any other device (only the three members change), -100 while closed.
  int ProcessUri(const CANDeviceInterface1::DeviceDescriptor* device,
                 const utility::ParameterMap& params, nlohmann::json& document);
  // One tick as the thread does it; true while a target keeps the thread busy.
  bool Process10Ms();

  // The server stops: closes the stream, forgets the target, empties the buffer and refuses
  // requests.
  void Close();
  // The server starts again and takes requests.
  void Open();

 private:
  void OpenStreamIfNotOpen(uint32_t id);
  void CloseStream();
  void ReadStreamIfOpen();

  std::mutex lock_;  // the target, the stream, the enables, the decoder
  uint32_t stream_ = 0;
  uint32_t target_ = kNoTarget;
  PlotterEnables enables_;
  PlotterData data_;
  PlotFrameDecoder decoder_;  // holds the PID format
  uint32_t streamMask_ = kStreamMask;
  uint32_t streamId_ = 0;
  bool closed_ = false;
  TickThread thread_;
};

}  // namespace quor::tessera::diagnostics
