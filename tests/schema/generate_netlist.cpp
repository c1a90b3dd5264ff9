// Writes a generated netlist of N instance lines, as the benchmarks read: for the tests that
// need a large, realistic netlist.

#include <fstream>
#include <iostream>
#include <string>

#include "netlist_generator.hpp"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: generate_netlist N FILE\n";
    return 2;
  }
  std::ofstream(argv[2], std::ios::binary) << orvelle::bench::generate_netlist(std::stoul(argv[1]));
  return 0;
}
