"""A python-can program on a UDP-multicast bus: it waits for one frame, prints it as JSON,
and answers with the ID plus one and the data reversed. Arguments: GROUP PORT.

python-can joins the group on the interface the routing table picks and sends with a hop limit;
our bus lives on the loopback interface only, so the peer's socket is put there too (its group
membership and its multicast interface) and its hop limit is 0: nothing leaves the machine."""
import json
import socket
import sys

import can

LOOPBACK = socket.inet_aton("127.0.0.1")


class LoopbackSocket(socket.socket):
    def setsockopt(self, level, option, value, *rest):
        if level == socket.IPPROTO_IP and option == socket.IP_ADD_MEMBERSHIP:
            super().setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, LOOPBACK)
            value = value[:4] + LOOPBACK  # struct ip_mreq: the group, then the interface
        return super().setsockopt(level, option, value, *rest)


socket.socket = LoopbackSocket

group, port = sys.argv[1], int(sys.argv[2])
bus = can.Bus(interface="udp_multicast", channel=group, port=port, hop_limit=0)
print("ready", flush=True)
message = bus.recv(20)
if message is None:
    print(json.dumps({"error": "no frame"}), flush=True)
    sys.exit(1)
print(json.dumps({"id": message.arbitration_id, "extended": message.is_extended_id,
                  "dlc": message.dlc, "data": list(message.data)}), flush=True)
bus.send(can.Message(arbitration_id=message.arbitration_id + 1, is_extended_id=True,
                     data=bytes(reversed(message.data))))
bus.shutdown()
