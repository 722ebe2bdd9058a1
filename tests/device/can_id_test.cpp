#include "device/can_id.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

#include "device/found_index.h"

namespace {

TEST(CanIdDecode, DeviceChannelIsNeitherDynamicNorAlternate) {
  _DecodedHeader header{};
  ASSERT_TRUE(QUOR_CANID_Decode(0x0204FC41, header));
  EXPECT_EQ(header.arbId, 0x0204FC41u);
  EXPECT_EQ(header.dynamic, 0u);
  EXPECT_EQ(header.alternate, 0u);
}

TEST(CanIdDecode, DynamicChannelNeedsApiIndexFive) {
  _DecodedHeader header{};
  EXPECT_FALSE(QUOR_CANID_Decode(0x0204F841, header));  // class 0x3E, index 1
  ASSERT_TRUE(QUOR_CANID_Decode(0x0204F945, header));   // class 0x3E, index 5
  EXPECT_EQ(header.dynamic, 1u);
  EXPECT_EQ(header.alternate, 0u);
}

TEST(CanIdDecode, AlternateChannels) {
  _DecodedHeader header{};
  ASSERT_TRUE(QUOR_CANID_Decode(0x0204F441, header));  // class 0x3D, index 1
  EXPECT_EQ(header.dynamic, 0u);
  EXPECT_EQ(header.alternate, 1u);
  ASSERT_TRUE(QUOR_CANID_Decode(0x0204F041, header));  // class 0x3C, index 1
  EXPECT_EQ(header.dynamic, 1u);
  EXPECT_EQ(header.alternate, 1u);
}

TEST(CanIdDecode, OtherManufacturersAndChannelsAreRejectedWithClearedFlags) {
  _DecodedHeader header{0, 1, 1};
  EXPECT_FALSE(QUOR_CANID_Decode(0x0203FC41, header));  // manufacturer 3
  EXPECT_EQ(header.arbId, 0x0203FC41u);
  EXPECT_EQ(header.dynamic, 0u);
  EXPECT_EQ(header.alternate, 0u);
  EXPECT_FALSE(QUOR_CANID_Decode(0x0204FC01, header));  // class 0x3F, index 0
  EXPECT_FALSE(QUOR_CANID_Decode(0x02041441, header));  // class 5
}

TEST(FoundIndex, UniqueAndIncreasingAcrossThreads) {
  const uint32_t first = FoundIndex_Get();
  EXPECT_EQ(FoundIndex_Get(), first + 1);
  std::vector<std::thread> threads;
  std::vector<std::vector<uint32_t>> taken(4);
  for (auto& list : taken)
    threads.emplace_back([&list] {
      for (int i = 0; i < 1000; ++i) list.push_back(FoundIndex_Get());
    });
  for (auto& thread : threads) thread.join();
  std::set<uint32_t> all;
  for (const auto& list : taken) all.insert(list.begin(), list.end());
  EXPECT_EQ(all.size(), 4000u);
  EXPECT_GT(*all.begin(), first + 1);
}

}  // namespace
