#include "sim/bootloader.h"

#include <algorithm>

namespace quor::tessera::sim {
namespace {

uint32_t BigEndian32(const uint8_t* bytes) {
  return static_cast<uint32_t>(bytes[0]) << 24 | static_cast<uint32_t>(bytes[1]) << 16 |
         static_cast<uint32_t>(bytes[2]) << 8 | bytes[3];
}

uint16_t BigEndian16(const uint8_t* bytes) {
  return static_cast<uint16_t>(bytes[0] << 8 | bytes[1]);
}

Bootloader::Reply Answer(uint8_t requestCode, uint32_t answerId) {
  Bootloader::Reply reply;
  reply.answerId = answerId;
  reply.bytes[0] = wire::AnswerCode(requestCode);
  reply.size = 1;
  return reply;
}

}  // namespace

Bootloader::Bootloader(const DeviceAttributes& attributes)
    : flash_(HasApplicationFirmware(attributes)),
      minApplicationVersion_(attributes.minApplicationVersion),
      faults_(attributes.faults) {}

bool Bootloader::IsBootloaderRequest(uint8_t code) {
  switch (code) {
    case wire::kRequestApplicationCheck:
    case wire::kRequestEnterBootloader:
    case wire::kRequestErase:
    case wire::kRequestWriteSector:
    case wire::kRequestWriteSectorPart:
    case wire::kRequestCommitSector:
    case wire::kRequestRunApplication:
      return true;
    default:
      return false;
  }
}

Bootloader::Reply Bootloader::onRequest(const uint8_t* request, uint16_t size,
                                        bool applicationRunning, uint32_t answerId,
                                        uint64_t now_us) {
  Reply reply = answerRequest(request, size, applicationRunning, answerId, now_us);
  if (reply.size > 0 && request[0] == faults_.unplugAfterRequest && !unplugAfterRequestFired_) {
    unplugAfterRequestFired_ = true;
    reply.after = After::kUnplug;
  }
  return reply;
}

Bootloader::Reply Bootloader::answerRequest(const uint8_t* request, uint16_t size,
                                            bool applicationRunning, uint32_t answerId,
                                            uint64_t now_us) {
  if (eraseDone_us_ != kNever) return Reply{};  // busy erasing
  const uint8_t code = request[0];
  if (code == wire::kRequestApplicationCheck) return applicationCheck(answerId);
  if (code == wire::kRequestEnterBootloader) return enterBootloader(applicationRunning, answerId);
  // The application leaves its flash alone.
  if (applicationRunning) return Reply{};
  switch (code) {
    case wire::kRequestErase:
      return erase(answerId, now_us);
    case wire::kRequestWriteSector:
      return writeSector(request, size, answerId);
    case wire::kRequestWriteSectorPart:
      return writeSectorPart(request, size, answerId);
    case wire::kRequestCommitSector:
      return commitSector(request, size, answerId);
    case wire::kRequestRunApplication:
      return runApplication(answerId);
    default:
      return Reply{};
  }
}

std::optional<Bootloader::Reply> Bootloader::poll(uint64_t now_us) {
  if (eraseDone_us_ == kNever || now_us < eraseDone_us_) return std::nullopt;
  eraseDone_us_ = kNever;
  return Answer(wire::kRequestErase, eraseAnswerId_);
}

std::optional<ImageVersion> Bootloader::startedVersion() const {
  if (!erasedOnce_) return std::nullopt;
  return flash_.applicationVersion().value_or(ImageVersion{});
}

Bootloader::Reply Bootloader::applicationCheck(uint32_t answerId) const {
  Reply reply = Answer(wire::kRequestApplicationCheck, answerId);
  reply.bytes[1] = flash_.holdsValidApplication() ? 1 : 0;
  reply.size = wire::kApplicationCheckShortBytes;
  if (minApplicationVersion_) {
    reply.bytes[2] = minApplicationVersion_->major;
    reply.bytes[3] = minApplicationVersion_->minor;
    reply.size = wire::kApplicationCheckLongBytes;
  }
  return reply;
}

Bootloader::Reply Bootloader::enterBootloader(bool applicationRunning, uint32_t answerId) const {
  Reply reply = Answer(wire::kRequestEnterBootloader, answerId);
  // A bootloader asked again stays where it is.
  if (applicationRunning) reply.after = After::kRestartIntoBootloader;
  return reply;
}

Bootloader::Reply Bootloader::erase(uint32_t answerId, uint64_t now_us) {
  flash_.erase();
  erasedOnce_ = true;
  sectorsWritten_ = 0;
  received_.reset();
  committed_ = false;
  eraseAnswerId_ = answerId;
  eraseDone_us_ = now_us + kErase_us;
  Reply reply;
  reply.after = After::kForgetApplication;
  return reply;
}

Bootloader::Reply Bootloader::writeSector(const uint8_t* request, uint16_t size,
                                          uint32_t answerId) {
  if (size != wire::kWriteSectorRequestBytes) return Reply{};
  flash_.write(BigEndian32(request + 1), request + wire::kAddressedRequestHeader);
  const int sector = sectorsWritten_++;
  return acknowledge(request[0], sector, true, answerId);
}

Bootloader::Reply Bootloader::writeSectorPart(const uint8_t* request, uint16_t size,
                                              uint32_t answerId) {
  if (size < wire::kSectorPartHeader) return Reply{};
  const uint16_t offset = BigEndian16(request + 1);
  const uint16_t count = BigEndian16(request + 3);
  if (count != size - wire::kSectorPartHeader || offset + count > wire::kSectorBytes)
    return Reply{};
  if (committed_) {  // the first part of the next sector
    received_.reset();
    committed_ = false;
  }
  std::copy(request + wire::kSectorPartHeader, request + size, assembly_.begin() + offset);
  for (uint16_t i = 0; i < count; ++i) received_.set(offset + i);
  return acknowledge(request[0], sectorsWritten_, false, answerId);
}

Bootloader::Reply Bootloader::commitSector(const uint8_t* request, uint16_t size,
                                           uint32_t answerId) {
  if (size != wire::kAddressedRequestHeader || !received_.all()) return Reply{};
  const uint32_t address = BigEndian32(request + 1);
  // A commit sent again because its answer was lost writes nothing new.
  const bool repeated = committed_ && address == lastCommitAddress_;
  if (!repeated) {
    flash_.write(address, assembly_.data());
    ++sectorsWritten_;
  }
  committed_ = true;
  lastCommitAddress_ = address;
  return acknowledge(request[0], sectorsWritten_ - 1, !repeated, answerId);
}

Bootloader::Reply Bootloader::runApplication(uint32_t answerId) const {
  // A bootloader never jumps into an image it does not trust.
  if (!flash_.holdsValidApplication()) return Reply{};
  Reply reply = Answer(wire::kRequestRunApplication, answerId);
  reply.after = faults_.applicationFailsToStart ? After::kRestartIntoBootloader
                                                : After::kRestartIntoApplication;
  return reply;
}

Bootloader::Reply Bootloader::acknowledge(uint8_t requestCode, int sector, bool completed,
                                          uint32_t answerId) {
  Reply reply = Answer(requestCode, answerId);
  if (losesAcknowledgement(sector)) reply.size = 0;
  if (completed && !unplugFired_ && faults_.unplugAfterSectors != DeviceFaults::kNone &&
      sectorsWritten_ >= faults_.unplugAfterSectors) {
    unplugFired_ = true;
    reply.after = After::kUnplug;
  }
  return reply;
}

bool Bootloader::losesAcknowledgement(int sector) {
  if (sector != faults_.lostSectorAck) return false;
  if (faults_.lostSectorAckAlways) return true;
  if (lostAckFired_) return false;
  lostAckFired_ = true;
  return true;
}

}  // namespace quor::tessera::sim
