#pragma once
// Frame time stamps are 32-bit microseconds that wrap every 71 minutes. The bus trace needs
// whole wall-clock times; a frame is moments old when it is traced, so the full value is the
// one nearest to the present that has the stamp's low 32 bits.
#include <sys/socket.h>

#include <cstdint>

// Microseconds since the epoch (CLOCK_REALTIME, as SocketCAN stamps frames).
int64_t WallClockMicros();

// The value with low 32 bits `stamp` nearest to `reference_us` (within ±35 minutes).
int64_t UnwrapMicros(uint32_t stamp, int64_t reference_us);

// Wall-clock microseconds of a stamp taken from the monotonic clock's microseconds.
int64_t MonotonicStampToWallClock_us(uint32_t stamp);

// The kernel's receive time (SO_TIMESTAMP, wall clock) of a message read with recvmsg, as a
// frame time stamp; 0 when the message carries none.
uint32_t KernelReceiveStamp_us(const struct msghdr& header);
