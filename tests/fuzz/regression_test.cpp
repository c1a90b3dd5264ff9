// Replays every input under data/fuzz/<target>/ through the fuzz target of that name: the
// inputs that once broke a target, and the seeds that steer the fuzzers to tricky corners.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "targets.hpp"

namespace orvelle {
namespace {

namespace fs = std::filesystem;

void replay(const std::string& target, void (*run)(std::string_view)) {
  const fs::path folder = fs::path(ORVELLE_TEST_DATA) / "fuzz" / target;
  int inputs = 0;
  for (const auto& entry : fs::directory_iterator(folder)) {
    std::ifstream in(entry.path(), std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    SCOPED_TRACE(entry.path().string());
    EXPECT_NO_THROW(run(bytes.str()));
    ++inputs;
  }
  EXPECT_GT(inputs, 0) << "no inputs under " << folder;
}

TEST(FuzzRegression, ReadNetlist) {
  replay("read_netlist", fuzz::read_netlist);
}
TEST(FuzzRegression, ReadValue) {
  replay("read_value", fuzz::read_value);
}
TEST(FuzzRegression, WriteNetlist) {
  replay("write_netlist", fuzz::write_netlist);
}

}  // namespace
}  // namespace orvelle
