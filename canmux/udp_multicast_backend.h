#pragma once
// A CAN bus between the processes of this machine, carried in UDP multicast datagrams with
// python-can's UDP-multicast format (canmux/udp_frame_codec.h): the server, tessera-sim and
// python-can programs on the same group and port hear each other. No kernel CAN support is
// needed, so the server and the simulated robot run as separate processes on any Linux machine
// (a host killed mid-operation leaves the devices running).
//
// The bus stays on this machine: the group is joined and sent to on the loopback interface with
// a time-to-live of 0, so no datagram (nor a group report) reaches a network. IPv4 groups only,
// since Linux's loopback carries no IPv6 multicast.
//
// Every member hears every frame; a frame this backend sent comes back to it through the
// kernel's multicast loop and is recognised by its source port (each backend sends from a
// port of its own) and dropped. Like python-can's bus it makes no promise of delivery or order
// beyond what the kernel gives, and has no arbitration.
#include <netinet/in.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "canmux/can_backend.h"

class UdpMulticastBackend : public CanBackend {
 public:
  // python-can's defaults: its IPv4 group and port.
  static constexpr const char* kDefaultGroup = "239.74.163.2";
  static constexpr uint16_t kDefaultPort = 43113;
  static constexpr unsigned kReceiveBatch = 64;

  // `where`: "" (the defaults), "GROUP" or "GROUP:PORT". nullptr and the reason when the
  // address is not an IPv4 multicast group or the sockets cannot be set up.
  static std::shared_ptr<UdpMulticastBackend> open(const std::string& where, std::string* error);
  ~UdpMulticastBackend() override;
  UdpMulticastBackend(const UdpMulticastBackend&) = delete;
  UdpMulticastBackend& operator=(const UdpMulticastBackend&) = delete;

  int32_t transmit(uint32_t id, const uint8_t* data, uint8_t size) override;
  int32_t receive(CanStreamMessage* buffer, uint32_t capacity, uint32_t* count) override;
  void waitForFrames(int timeout_ms) override;
  void wakeReceiver() override;
  int64_t receivedAtWallClock_us(const CanStreamMessage& frame) const override;
  const char* interfaceName() const override { return "udp_multicast"; }

  // Datagrams that carried no frame this bus takes (malformed, FD, standard IDs...).
  uint64_t datagramsIgnored() const { return ignored_; }

 private:
  UdpMulticastBackend(int receiveFd, int sendFd, int wakeFd, uint16_t ownPort,
                      const sockaddr_in& destination);

  int receiveFd_;  // bound to the group's port, a member of the group
  int sendFd_;     // sends to the group from a port of its own
  int wakeFd_;     // eventfd: readable while a wake-up is pending
  uint16_t ownPort_;
  sockaddr_in destination_;  // the group and its port
  std::atomic<uint64_t> ignored_{0};
};
