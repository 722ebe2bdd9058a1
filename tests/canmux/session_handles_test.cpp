// Handles are process-wide, so this runs in its own executable to see the first one.
#include <gtest/gtest.h>

#include "canmux/can_mux.h"

TEST(SessionHandles, StartAt900AndGrowByOneAlsoAfterCloses) {
  uint32_t handles[4] = {};
  int32_t status = -1;
  FRC_NetworkCommunication_CANSessionMux_openStreamSession(&handles[0], 0, 0, 4, &status);
  EXPECT_EQ(0, status);
  FRC_NetworkCommunication_CANSessionMux_openStreamSession(&handles[1], 0, 0, 4, &status);
  FRC_NetworkCommunication_CANSessionMux_closeStreamSession(handles[0]);
  FRC_NetworkCommunication_CANSessionMux_closeStreamSession(handles[1]);
  FRC_NetworkCommunication_CANSessionMux_openStreamSession(&handles[2], 0, 0, 4, &status);
  CanMuxDispose();
  FRC_NetworkCommunication_CANSessionMux_openStreamSession(&handles[3], 0, 0, 4, &status);

  EXPECT_EQ(900u, handles[0]);
  EXPECT_EQ(901u, handles[1]);
  EXPECT_EQ(902u, handles[2]);
  EXPECT_EQ(903u, handles[3]);

  CanStreamMessage message;
  uint32_t read = 0;
  EXPECT_EQ(kCanMuxStatusUnknownHandle, FRC_NetworkCommunication_CANSessionMux_readStreamSession(
                                            handles[0], &message, 1, &read, &status));
  EXPECT_EQ(0, FRC_NetworkCommunication_CANSessionMux_readStreamSession(handles[3], &message, 1,
                                                                        &read, &status));
}
