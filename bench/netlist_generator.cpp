#include "netlist_generator.hpp"

#include <array>
#include <charconv>
#include <type_traits>

namespace orvelle::bench {

namespace {

constexpr std::string_view kLeaves =
    "* leaf cells\n"
    ".subckt arm a b length=10u\n"
    "X1 a m1 straight length=5u width=0.5u $ location=(0,0,0)\n"
    "X2 m1 b bend_euler radius=10u\n"
    "+ width=0.5u $ location=(5,0,90)\n"
    ".ends arm\n"
    ".subckt tap a b t\n"
    "X1 a x1 x2 mmi1x2 width=1.5u length=5.5u $ location=(0,0,0)\n"
    "X2 x1 b straight length=2u $ location=(10,1,0)\n"
    "X3 x2 t straight length=2u $ location=(10,-1,0)\n"
    ".ends tap\n";
constexpr std::size_t kLeafInstances = 5;

// Appends each piece; numbers as decimal text.
template <class... Pieces>
void append(std::string& out, const Pieces&... pieces) {
  const auto one = [&out](const auto& piece) {
    if constexpr (std::is_integral_v<std::decay_t<decltype(piece)>>) {
      std::array<char, 24> digits;
      const auto end = std::to_chars(digits.data(), digits.data() + digits.size(), piece).ptr;
      out.append(digits.data(), end);
    } else {
      out += piece;
    }
  };
  (one(pieces), ...);
}

void append_instance(std::string& out, std::size_t i) {
  const std::size_t x = (i % 1000) * 25;
  const std::size_t y = (i / 1000) * 40;
  switch (i % 8) {
    case 0:
      append(out, "Xs", i, " n", i, " n", i + 1, " straight length=", i % 97,
             ".5u width=0.5u $ location=(", x, ",", y, ",0)\n");
      break;
    case 1:
      append(out, "Xb", i, " n", i, " n", i + 1, " bend_euler radius=10u\n");
      break;
    case 2:
      append(out, "Xa", i, " n", i, " n", i + 1, " arm length=", i % 50 + 1, "u\n+ $ location=(", x,
             ",", y, ",90)\n");
      break;
    case 3:
      append(out, "Xt", i, " n", i, " n", i + 1, " tap", i, " tap $ location=(", x, ".5,", y,
             ",180)(o1)\n");
      break;
    case 4:
      append(out, "Xp", i, " n", i, " n", i + 1, " phase_shifter length=100u\n+ width=0.8u",
             " $ location=(", x, ",", y, ",0)\n");
      break;
    default:
      append(out, "Xw", i, " n", i, " n", i + 1, " straight length=", i % 1000 + 1,
             "n width=500n $ location=(", x, ",", y, ",270)\n");
  }
}

}  // namespace

std::string generate_netlist(std::size_t instance_lines) {
  std::string out;
  out.reserve(instance_lines * 72 + kLeaves.size() + 64);
  out += kLeaves;
  const std::size_t top = instance_lines > kLeafInstances ? instance_lines - kLeafInstances : 0;
  append(out, ".subckt top n0 n", top, "\n");
  for (std::size_t i = 0; i < top; ++i) {
    if (i % 50 == 0) append(out, "* section ", i / 50, "\n");
    append_instance(out, i);
  }
  out += ".ends top\n";
  return out;
}

}  // namespace orvelle::bench
