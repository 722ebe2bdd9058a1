#include "sim/sim_device.h"

#include <algorithm>
#include <cstring>

#include "sim/family_traits.h"
#include "sim/information_record.h"
#include "sim/rivuduvoz_client.h"
#include "sim/sim_wire.h"

namespace quor::tessera::sim {
namespace {

constexpr uint8_t kPresenceAnswer[] = {wire::AnswerCode(wire::kRequestPresence), 0x00};
constexpr uint8_t kConfigurationAnswerTwoPart =
    wire::AnswerCode(wire::kRequestConfigurationTwoPart);
constexpr uint8_t kSubCodedAnswer = wire::AnswerCode(wire::kRequestSubCoded);

}  // namespace

SimDevice::SimDevice(FrameSink& sink, const DeviceAttributes& attributes, uint32_t token)
    : attributes_(attributes),
      iso_(sink),
      dynamicId_(sink, token),
      statusRelay_(sink),
      statusAndControl_(statusRelay_, attributes.family),
      config_(attributes.family, attributes.config),
      effects_(attributes.family),
      bootloader_(attributes) {
  dynamicId_.setIdentity(TraitsOf(attributes_.family).deviceType, attributes_.deviceNumber);
  iso_.askForSeparationTime(attributes_.flowControlSeparation_ms);
  if (attributes_.customName.size() > kMaxCustomNameLength) {
    attributes_.customName.resize(kMaxCustomNameLength);
  }
}

uint32_t SimDevice::baseArbId() const {
  if (ribbonHost_ != nullptr) return RibbonClientBaseId(*ribbonHost_);
  return wire::MakeArbId(TraitsOf(attributes_.family).deviceType, wire::kClassStatic,
                         wire::kStaticRequestIndex, attributes_.deviceNumber);
}

void SimDevice::attachRibbonClient(SimDevice& client) {
  client.ribbonHost_ = this;
  client.statusRelay_.routeThrough(*this);
  hasRibbonClient_ = true;
}

void SimDevice::plugIn(uint64_t now_us) {
  plugged_ = true;
  iso_.reset();
  bootloader_.reset();
  pendingDeviceNumber_ = -1;
  // Power-up starts the application only when the bootloader trusts the image.
  if (attributes_.mode == DeviceMode::kApplication && !bootloader_.flash().holdsValidApplication())
    attributes_.mode = DeviceMode::kBootloader;
  powerUpDynamicIds(now_us);
}

void SimDevice::powerUpDynamicIds(uint64_t now_us) {
  if (!answers() || !attributes_.dynamicIds || !hasBusIdentity()) {
    dynamicId_.powerDown();
  } else if (attributes_.heldDynamicNumber >= 0) {
    // Only the first power-up finds the number from before; a power cycle forgets it.
    dynamicId_.powerUpHolding(attributes_.heldDynamicNumber);
    attributes_.heldDynamicNumber = -1;
  } else {
    dynamicId_.powerUp(now_us);
  }
  // Only a running application broadcasts status and takes control frames; a ribbon IMU's
  // frames go out once its controller is there to pass them on (poll() runs only then).
  if (plugged_ && attributes_.mode != DeviceMode::kSilent && applicationRunning()) {
    statusAndControl_.start(now_us);
  } else {
    statusAndControl_.stop();
  }
}

void SimDevice::unplug() {
  plugged_ = false;
  iso_.reset();
  bootloader_.reset();
  pendingDeviceNumber_ = -1;
  dynamicId_.powerDown();
  statusAndControl_.stop();
}

void SimDevice::setMode(DeviceMode mode, uint64_t now_us) {
  attributes_.mode = mode;
  if (plugged_) plugIn(now_us);  // a mode change is a reset into the new mode
}

void SimDevice::setCustomName(const std::string& name) {
  attributes_.customName = name.substr(0, kMaxCustomNameLength);
}

void SimDevice::setUnansweredRequests(const std::vector<uint8_t>& requestCodes) {
  attributes_.faults.unansweredRequests = requestCodes;
}

uint64_t SimDevice::nextDeadline_us() const {
  if (!answers()) return kNever;
  const uint64_t status =
      statusReachesBus() ? statusAndControl_.nextDeadline_us(attributes_) : kNever;
  return std::min({iso_.nextDeadline_us(), dynamicId_.nextDeadline_us(), status,
                   bootloader_.nextDeadline_us()});
}

void SimDevice::poll(uint64_t now_us) {
  if (!answers()) return;
  iso_.poll(now_us);
  dynamicId_.poll(now_us);
  if (statusReachesBus()) statusAndControl_.poll(attributes_, now_us);
  if (const auto reply = bootloader_.poll(now_us)) carryOut(*reply, now_us);
}

uint32_t SimDevice::staticAnswerId() const {
  return wire::MakeArbId(TraitsOf(attributes_.family).deviceType, wire::kClassStatic,
                         wire::kStaticAnswerIndex, attributes_.deviceNumber);
}

uint32_t SimDevice::answerIdFor(uint32_t id) const {
  if (ribbonHost_ != nullptr) return RibbonAnswerIdFor(id, *ribbonHost_);
  const uint8_t type = TraitsOf(attributes_.family).deviceType;
  if (id == wire::kPresenceBroadcastId || id == wire::kLegacyPresenceId || id == baseArbId()) {
    return staticAnswerId();
  }
  const int dynamicNumber = dynamicId_.dynamicNumber();
  if (dynamicNumber != DynamicIdClient::kNoDynamicNumber &&
      id == wire::MakeArbId(type, wire::kClassDynamic, wire::kDynamicRequestIndex,
                            static_cast<uint32_t>(dynamicNumber))) {
    return wire::MakeArbId(type, wire::kClassDynamic, wire::kDynamicAnswerIndex,
                           static_cast<uint32_t>(dynamicNumber));
  }
  return 0;
}

void SimDevice::onFrame(const CanStreamMessage& frame, uint64_t now_us) {
  if (!answers()) return;
  if (statusAndControl_.onFrame(frame, attributes_, now_us)) return;
  // A ribbon IMU hears only what its controller passes on: ISO-15765 on the alternate channel.
  if (applicationRunning() && hasBusIdentity() &&
      effects_.onRawFrame(frame, attributes_.deviceNumber, attributes_.state))
    return;
  if (dynamicId_.onFrame(frame, now_us)) return;
  const uint32_t answerId = answerIdFor(frame.messageID);
  if (answerId == 0) return;
  if (!iso_.onFrame(frame.data, frame.dataSize, answerId, now_us)) return;
  const bool broadcast =
      frame.messageID == wire::kPresenceBroadcastId || frame.messageID == wire::kLegacyPresenceId;
  if (broadcast) {
    // Only presence is asked of every device at once.
    if (iso_.message()[0] == wire::kRequestPresence) answerPresence(now_us);
    return;
  }
  onRequest(iso_.message(), iso_.messageSize(), answerId, now_us);
}

void SimDevice::onRequest(const uint8_t* request, uint16_t size, uint32_t answerId,
                          uint64_t now_us) {
  if (attributes_.faults.ignores(request[0])) return;
  switch (request[0]) {
    case wire::kRequestPresence:
      answer(answerId, kPresenceAnswer, sizeof kPresenceAnswer, now_us);
      break;
    case wire::kRequestInformation:
      answerInformation(answerId, now_us);
      break;
    case wire::kRequestStatus:
      answerStatus(answerId, now_us);
      break;
    case wire::kRequestName:
      answerName(answerId, now_us);
      break;
    case wire::kRequestStoreName:
      storeName(request, size, answerId, now_us);
      break;
    case wire::kRequestConfigurationTwoPart: {
      const uint8_t header[] = {kConfigurationAnswerTwoPart};
      answerConfiguration(header, sizeof header, answerId, now_us);
      break;
    }
    case wire::kRequestConfigurationWrite:
      writeConfiguration(request, size, answerId, now_us);
      break;
    case wire::kRequestSubCoded:
      answerSubCoded(request, size, answerId, now_us);
      break;
    case wire::kRequestDeviceNumber:
      onDeviceNumberCommand(request, size, answerId, now_us);
      break;
    default:
      // Everything else is the bootloader's, or a service the firmware does not offer.
      if (Bootloader::IsBootloaderRequest(request[0]))
        onBootloaderRequest(request, size, answerId, now_us);
      break;
  }
}

void SimDevice::onBootloaderRequest(const uint8_t* request, uint16_t size, uint32_t answerId,
                                    uint64_t now_us) {
  carryOut(bootloader_.onRequest(request, size, applicationRunning(), answerId, now_us), now_us);
}

void SimDevice::carryOut(const Bootloader::Reply& reply, uint64_t now_us) {
  if (reply.size > 0) answer(reply.answerId, reply.bytes.data(), reply.size, now_us);
  switch (reply.after) {
    case Bootloader::After::kNothing:
      break;
    case Bootloader::After::kForgetApplication:
      attributes_.firmware = {kNoFirmwarePart, kNoFirmwarePart, 0, 0};
      attributes_.firmwareParts = 2;
      break;
    case Bootloader::After::kRestartIntoBootloader:
      restart(DeviceMode::kBootloader, now_us);
      break;
    case Bootloader::After::kRestartIntoApplication:
      if (const auto version = bootloader_.startedVersion()) {
        attributes_.firmware = version->version;
        attributes_.firmwareParts = version->parts;
      }
      restart(DeviceMode::kApplication, now_us);
      break;
    case Bootloader::After::kUnplug:
      unplug();
      break;
  }
}

void SimDevice::restart(DeviceMode mode, uint64_t now_us) {
  // A restart forgets every transfer and, on the bus, the dynamic ID.
  attributes_.mode = mode;
  plugIn(now_us);
}

void SimDevice::answer(uint32_t answerId, const uint8_t* bytes, uint16_t size, uint64_t now_us) {
  // A request that arrives while a long answer is still going out is answered too: the
  // transport replaces an answer the server gave up on and queues one behind an answer flowing.
  iso_.send(answerId, bytes, size, now_us);
}

void SimDevice::answerPresence(uint64_t now_us) {
  answer(staticAnswerId(), kPresenceAnswer, sizeof kPresenceAnswer, now_us);
}

void SimDevice::answerInformation(uint32_t answerId, uint64_t now_us) {
  const InformationRecord record = BuildInformationRecord(attributes_);
  answer(answerId, reinterpret_cast<const uint8_t*>(&record), sizeof record, now_us);
}

void SimDevice::answerStatus(uint32_t answerId, uint64_t now_us) {
  uint8_t features = 0;
  // The bootloader offers neither names nor configuration.
  if (offersNamesAndConfigs()) {
    features = wire::kStatusFeatureNamesAndConfigs | wire::kStatusFeatureConfigReadable;
  }
  if (hasRibbonClient_) features |= wire::kStatusFeatureRibbonBridge;
  const uint8_t status[] = {wire::AnswerCode(wire::kRequestStatus),
                            static_cast<uint8_t>(applicationRunning() ? 1 : 0), features};
  answer(answerId, status, sizeof status, now_us);
}

void SimDevice::answerName(uint32_t answerId, uint64_t now_us) {
  if (!offersNamesAndConfigs()) return;
  const std::string& name = attributes_.customName;
  const uint16_t length = static_cast<uint16_t>(name.size());
  answerBuffer_[0] = wire::AnswerCode(wire::kRequestName);
  answerBuffer_[1] = static_cast<uint8_t>(length >> 8);
  answerBuffer_[2] = static_cast<uint8_t>(length & 0xFF);
  std::memcpy(answerBuffer_.data() + 3, name.data(), length);
  answer(answerId, answerBuffer_.data(), static_cast<uint16_t>(length + 3), now_us);
}

void SimDevice::storeName(const uint8_t* request, uint16_t size, uint32_t answerId,
                          uint64_t now_us) {
  constexpr uint16_t kHeaderBytes = 3;
  if (!offersNamesAndConfigs() || size < kHeaderBytes) return;
  const uint16_t announced = static_cast<uint16_t>((request[1] << 8) | request[2]);
  // A store announces at least one byte (an empty name comes as two zero bytes): "C7 00 00" is
  // not a store and is not acknowledged.
  if (announced == 0) return;
  // Take what was announced but never more than arrived; the text ends at its first NUL
  // (an empty name arrives as two zero bytes).
  const uint16_t available = std::min<uint16_t>(announced, size - kHeaderBytes);
  const char* text = reinterpret_cast<const char*>(request + kHeaderBytes);
  setCustomName(std::string(text, strnlen(text, available)));
  const uint8_t stored[] = {wire::AnswerCode(wire::kRequestStoreName)};
  answer(answerId, stored, sizeof stored, now_us);
}

void SimDevice::answerConfiguration(const uint8_t* header, uint8_t headerSize, uint32_t answerId,
                                    uint64_t now_us) {
  if (!offersNamesAndConfigs()) return;
  uint16_t length = config_.length();
  if (config_.writesTaken() > 0) {
    switch (attributes_.config.readsAfterWrite) {
      case ReadsAfterWrite::kWhole:
        break;
      case ReadsAfterWrite::kSilent:
        return;
      case ReadsAfterWrite::kShort:
        length /= 2;
        break;
    }
  }
  std::memcpy(answerBuffer_.data(), header, headerSize);
  std::memcpy(answerBuffer_.data() + headerSize, config_.image(), length);
  answer(answerId, answerBuffer_.data(), static_cast<uint16_t>(headerSize + length), now_us);
}

void SimDevice::writeConfiguration(const uint8_t* request, uint16_t size, uint32_t answerId,
                                   uint64_t now_us) {
  if (!offersNamesAndConfigs() || !config_.write(request + 1, static_cast<uint16_t>(size - 1)))
    return;
  const std::vector<uint8_t>& told = attributes_.config.writeAnswer;
  if (!told.empty()) {
    answer(answerId, told.data(), static_cast<uint16_t>(told.size()), now_us);
  } else if (attributes_.firmwareParts == 4) {
    // Newer firmware (four-part versions) acknowledges on its sub-coded answer.
    const uint8_t written[] = {kSubCodedAnswer, wire::kSubConfigurationWritten};
    answer(answerId, written, sizeof written, now_us);
  } else {
    const uint8_t written[] = {wire::AnswerCode(wire::kRequestConfigurationWrite)};
    answer(answerId, written, sizeof written, now_us);
  }
}

void SimDevice::onDeviceNumberCommand(const uint8_t* request, uint16_t size, uint32_t answerId,
                                      uint64_t now_us) {
  constexpr uint16_t kRequestBytes = 4;
  const uint8_t done[] = {wire::AnswerCode(wire::kRequestDeviceNumber)};
  if (size >= kRequestBytes && request[1] == wire::kNumberSubRequest) {
    const uint8_t number = request[2];
    const uint8_t action = request[3];
    if (action == wire::kNumberActionTakeNumber && number <= wire::kMaxDeviceNumber) {
      pendingDeviceNumber_ = number;
      answer(answerId, done, sizeof done, now_us);
    } else if (action == wire::kNumberActionBlink && number == attributes_.deviceNumber) {
      effects_.blink(now_us);
      answer(answerId, done, sizeof done, now_us);
    }
    return;
  }
  if (size >= 2 && request[1] == wire::kNumberSubConfirm && pendingDeviceNumber_ >= 0) {
    // A device reached on its own number answers the confirm from its new number already;
    // on a dynamic number the channel stays as it is.
    const bool onStaticChannel = answerId == staticAnswerId();
    attributes_.deviceNumber = static_cast<uint8_t>(pendingDeviceNumber_);
    pendingDeviceNumber_ = -1;
    dynamicId_.setIdentity(TraitsOf(attributes_.family).deviceType, attributes_.deviceNumber);
    answer(onStaticChannel ? staticAnswerId() : answerId, done, sizeof done, now_us);
  }
}

void SimDevice::answerSubCoded(const uint8_t* request, uint16_t size, uint32_t answerId,
                               uint64_t now_us) {
  if (!applicationRunning() || size < 2) return;
  const uint8_t subCode = request[1];
  switch (subCode) {
    case wire::kSubConfigurationRead: {
      const uint8_t header[] = {kSubCodedAnswer, wire::kSubConfigurationRead};
      answerConfiguration(header, sizeof header, answerId, now_us);
      break;
    }
    case wire::kSubFactoryDefault:
      config_.restoreFactoryImage();
      effects_.restoreFactoryDefaults();
      answerSubCode(subCode, answerId, now_us);
      break;
    case wire::kSubClearStickyFaults:
      // The families that clear with a raw frame do not know this request.
      if (!effects_.clearsStickyFaultsOverIso()) break;
      effects_.clearStickyFaults(attributes_.state);
      answerSubCode(subCode, answerId, now_us);
      break;
    default:
      break;
  }
}

void SimDevice::answerSubCode(uint8_t subCode, uint32_t answerId, uint64_t now_us) {
  const uint8_t done[] = {kSubCodedAnswer, subCode};
  answer(answerId, done, sizeof done, now_us);
}

}  // namespace quor::tessera::sim
