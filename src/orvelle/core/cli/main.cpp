#include "orvelle/core/cli/app.hpp"

int main(int argc, char** argv) {
  return orvelle::cli::run(argc, argv);
}
