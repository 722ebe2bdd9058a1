#include "cli/plot_channels.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "core/string_util.h"

namespace tessera::cli {

namespace {
constexpr unsigned kEveryChannel = 0x3FF;
}

const std::vector<PlotChannel>& PlotChannels() {
  static const std::vector<PlotChannel> channels = {
      {"MotorOutput", 0x001},   {"SensorPos", 0x002},     {"SensorVel", 0x004},
      {"Current", 0x008},       {"SensorPos1", 0x010},    {"SensorVel1", 0x020},
      {"CloseLoopErr0", 0x040}, {"CloseLoopErr1", 0x080}, {"ActTrajPos", 0x100},
      {"ActTrajVel", 0x200},
  };
  return channels;
}

std::optional<unsigned> ParseChannels(const std::string& typed) {
  using quor::tessera::string_util::toLower;
  if (typed.empty() || typed.back() == ',') return std::nullopt;
  unsigned mask = 0;
  std::istringstream parts(typed);
  std::string part;
  bool any = false;
  while (std::getline(parts, part, ',')) {
    any = true;
    const std::string name = toLower(part);
    if (name == "all") {
      mask |= kEveryChannel;
      continue;
    }
    bool known = false;
    for (const PlotChannel& channel : PlotChannels())
      if (name == toLower(channel.name)) mask |= channel.bit, known = true;
    if (known) continue;
    char* end = nullptr;
    const unsigned long number = std::strtoul(part.c_str(), &end, 0);
    if (part.empty() || *end != '\0' || number > kEveryChannel || part[0] == '-') return std::nullopt;
    mask |= static_cast<unsigned>(number);
  }
  if (!any) return std::nullopt;
  return mask;
}

std::string PlotChannelList() {
  std::string list;
  for (const PlotChannel& channel : PlotChannels()) {
    char bit[16];
    std::snprintf(bit, sizeof bit, "0x%X", channel.bit);
    list += (list.empty() ? "" : ", ") + std::string(channel.name) + " (" + bit + ")";
  }
  return list;
}

}  // namespace tessera::cli
