// tessera-make-bfl: writes a BFL firmware file that the simulated devices accept, to try a field
// upgrade against `--can sim` (or to test a server's refusals with a malformed one).
//
//   tessera-make-bfl (--family NAME | --model-code N) --version MAJOR.MINOR [--sectors N]
//                    [--address ADDR] [--bad-marker-sector N] -o FILE
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>

#include "sim/bfl_writer.h"
#include "sim/family_traits.h"

namespace {

using quor::tessera::sim::BflPlan;

constexpr int kUsageError = 2;
constexpr int kWriteError = 1;
constexpr unsigned long kMaxSectors = 320;  // the whole application region

int Usage(const std::string& problem) {
  if (!problem.empty()) std::cerr << "tessera-make-bfl: " << problem << "\n";
  std::cerr << "usage: tessera-make-bfl (--family NAME | --model-code N) --version MAJOR.MINOR\n"
               "                        [--sectors N] [--address ADDR] [--bad-marker-sector N]"
               " -o FILE\n"
               "families: " << quor::tessera::sim::KnownFamilyNames() << "\n";
  return kUsageError;
}

bool ReadNumber(const std::string& text, unsigned long maximum, unsigned long* value) {
  char* end = nullptr;
  *value = std::strtoul(text.c_str(), &end, 0);
  return !text.empty() && *end == '\0' && *value <= maximum;
}

bool ReadVersion(const std::string& text, BflPlan* plan) {
  unsigned major = 0, minor = 0;
  char extra = 0;
  if (std::sscanf(text.c_str(), "%u.%u%c", &major, &minor, &extra) != 2 || major > 255 ||
      minor > 255)
    return false;
  plan->versionMajor = static_cast<uint8_t>(major);
  plan->versionMinor = static_cast<uint8_t>(minor);
  return true;
}

// Applies one option and its value; an empty text when it was understood.
std::string Apply(const std::string& option, const std::string& value, BflPlan* plan,
                  std::string* output) {
  unsigned long number = 0;
  if (option == "--family") {
    const auto* family = quor::tessera::sim::FindFamilyByFileName(value);
    if (family == nullptr) return "unknown family \"" + value + "\"";
    plan->chipId = family->modelCode;
  } else if (option == "--model-code") {
    if (!ReadNumber(value, 255, &number)) return "--model-code needs a number 0-255";
    plan->chipId = static_cast<uint8_t>(number);
  } else if (option == "--version") {
    if (!ReadVersion(value, plan)) return "--version needs MAJOR.MINOR, each 0-255";
  } else if (option == "--sectors") {
    if (!ReadNumber(value, kMaxSectors, &number)) return "--sectors needs a number 0-320";
    plan->sectors = static_cast<uint32_t>(number);
  } else if (option == "--address") {
    if (!ReadNumber(value, 0xFFFFFFFFul, &number)) return "--address needs a number";
    plan->firstAddress = static_cast<uint32_t>(number);
  } else if (option == "--bad-marker-sector") {
    if (!ReadNumber(value, kMaxSectors, &number)) return "--bad-marker-sector needs a number";
    plan->badMarkerSector = static_cast<int>(number);
  } else if (option == "-o") {
    *output = value;
  } else {
    return "unknown option " + option;
  }
  return "";
}

}  // namespace

int main(int argc, char** argv) {
  BflPlan plan;
  plan.sectors = 64;
  std::string output;
  bool versionGiven = false;
  for (int i = 1; i < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--help" || option == "-h") return Usage("");
    if (i + 1 >= argc) return Usage(option + " needs a value");
    const std::string problem = Apply(option, argv[i + 1], &plan, &output);
    if (!problem.empty()) return Usage(problem);
    versionGiven = versionGiven || option == "--version";
  }
  if (output.empty() || !versionGiven) return Usage("--version and -o are required");
  const std::vector<uint8_t> file = quor::tessera::sim::MakeBflFile(plan);
  std::ofstream out(output, std::ios::binary | std::ios::trunc);
  if (!out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()))) {
    std::cerr << "tessera-make-bfl: cannot write " << output << "\n";
    return kWriteError;
  }
  return 0;
}
