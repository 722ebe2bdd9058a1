// Writes the client's model-to-device-type table as JSON for the page's bundle, so the page
// and tessera-diag never disagree on which devices share their IDs.
//   tessera-page-device-types OUT.json
#include <cstdio>
#include <fstream>

#include "cli/device_types.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: tessera-page-device-types OUT.json\n");
    return 2;
  }
  std::ofstream out(argv[1], std::ios::trunc);
  out << tessera::cli::DeviceTypesJson() << '\n';
  return out.good() ? 0 : 1;
}
