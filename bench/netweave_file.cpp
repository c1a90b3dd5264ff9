// Reads one netlist file and reports its size, for measuring peak memory with /usr/bin/time -v.
// With "--generate N FILE" it writes a generated netlist of N instance lines instead.

#include <fstream>
#include <iostream>

#include "netlist_generator.hpp"
#include "orvelle/core/netweave/netweave.hpp"

int main(int argc, char** argv) {
  const std::string_view usage = "usage: netweave_file FILE | netweave_file --generate N FILE\n";
  if (argc == 4 && std::string_view(argv[1]) == "--generate") {
    std::ofstream(argv[3], std::ios::binary)
        << orvelle::bench::generate_netlist(std::stoul(argv[2]));
    return 0;
  }
  if (argc != 2) {
    std::cerr << usage;
    return 2;
  }
  const orvelle::RecursiveNetlist nets = orvelle::netweave(std::filesystem::path(argv[1]));
  std::size_t instances = 0;
  for (const auto& [name, netlist] : nets)
    instances += netlist.as_map().at("instances").as_map().size();
  std::cout << nets.size() << " netlists, " << instances << " instances\n";
  return 0;
}
