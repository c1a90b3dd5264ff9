#include "orvelle/memory.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "orvelle/value.hpp"

namespace orvelle {
namespace {

std::size_t mapped_bytes() {
  std::ifstream statm("/proc/self/statm");
  std::size_t pages = 0;
  statm >> pages;
  return pages * 4096;
}

Map small_map(int i) {
  Map map;
  map.reserve(4);
  map.emplace("x", i);
  map.emplace("y", static_cast<double>(i) / 2);
  map.emplace("rotation", 90);
  std::string port = "a text long enough for the heap, number ";
  port += std::to_string(i);
  map.emplace("port", port);
  return map;
}

// Pooled mappings are carved from shared slabs: they must behave as any other mapping, on
// any thread and after their pool is gone, and the slabs must go back once all are freed.
TEST(MapPool, PooledMappingsBehaveAsAnyAndGiveTheirSlabsBack) {
  constexpr int kMaps = 30'000;  // about four slabs
  const std::size_t before = mapped_bytes();
  {
    std::vector<Map> maps(kMaps);
    const MapPool pool;
    for (auto& map : maps) map = small_map(1);
  }
  EXPECT_LT(mapped_bytes(), before + (std::size_t{2} << 20));

  {
    std::vector<Map> maps;
    maps.reserve(kMaps);
    {
      const MapPool pool;
      for (int i = 0; i < kMaps; ++i) maps.push_back(small_map(i));
      {
        const MapPool inner;
        maps[1] = small_map(-1);
      }
      for (int i = 0; i < 20; ++i) maps[2].emplace(std::to_string(i), i);  // off the pool
      maps[3] = maps[0];
      maps[4].clear();
      maps[5].erase("y");
    }
    maps[6].emplace("after", "the pool");
    EXPECT_EQ(maps[1], small_map(-1));
    EXPECT_EQ(maps[2].size(), 24u);
    EXPECT_EQ(maps[2].at("19"), Value(19));
    EXPECT_EQ(maps[3], small_map(0));
    EXPECT_TRUE(maps[4].empty());
    EXPECT_EQ(maps[5].size(), 3u);
    EXPECT_EQ(maps[6].at("after"), Value("the pool"));

    // Every other mapping is freed on another thread while this one still reads the rest.
    std::thread other([&] {
      for (int i = 8; i < kMaps; i += 2) maps[i] = Map{};
    });
    other.join();
    for (int i = 9; i < kMaps; i += 2) ASSERT_EQ(maps[i], small_map(i)) << i;
  }
}

}  // namespace
}  // namespace orvelle
