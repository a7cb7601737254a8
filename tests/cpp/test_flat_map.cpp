#include <gtest/gtest.h>

#include <cstdint>
#include <unordered_map>

#include "common/flat_map.h"

using strokegraph::FlatMap;

namespace {

// Every key lands in the same few home slots: long probe runs across rehashes.
struct Clumping {
  std::size_t operator()(std::uint64_t k) const { return static_cast<std::size_t>(k % 3); }
};

}  // namespace

TEST(FlatMap, AgreesWithAStandardMapThroughGrowthAndCollisions) {
  FlatMap<std::uint64_t, int, Clumping> flat;  // starts small, grows many times
  std::unordered_map<std::uint64_t, int> reference;
  for (std::uint64_t i = 0; i < 3000; ++i) {
    const std::uint64_t key = (i * 7919) % 4001;
    const auto [value, inserted] = flat.try_emplace(key, static_cast<int>(i));
    const auto [it, ref_inserted] = reference.try_emplace(key, static_cast<int>(i));
    ASSERT_EQ(inserted, ref_inserted);
    ASSERT_EQ(*value, it->second);
  }
  EXPECT_EQ(flat.size(), reference.size());
  for (std::uint64_t key = 0; key < 4001; ++key) {
    const int* found = flat.find(key);
    const auto it = reference.find(key);
    ASSERT_EQ(found != nullptr, it != reference.end());
    if (found) {
      EXPECT_EQ(*found, it->second);
    }
  }
}
