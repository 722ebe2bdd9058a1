#pragma once
// The channels `plot --channels` takes by name: each is one bit of the server's channel mask.
// A status frame that feeds any of a group's bits brings every channel of its group.
#include <optional>
#include <string>
#include <vector>

namespace tessera::cli {

struct PlotChannel {
  const char* name;  // as the points name it
  unsigned bit;
};

const std::vector<PlotChannel>& PlotChannels();
// "MotorOutput,SensorVel", "0x3", "3", "all", or names and numbers mixed; nothing when a part
// is neither a channel name (any case) nor a number.
std::optional<unsigned> ParseChannels(const std::string& typed);
// "MotorOutput (0x1), SensorPos (0x2), …" for help texts.
std::string PlotChannelList();

}  // namespace tessera::cli
