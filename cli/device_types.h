#pragma once
// What the client knows of each model by itself: the device type its arbitration IDs carry.
// The listing names a device's model, never its device type; devices of one type share the
// arbitration-ID space, so two of them at one device number answer as one.
#include <optional>
#include <string>
#include <vector>

namespace tessera::cli {

// The device type of a model as the server compares it ("kestrel kx"); nothing for models
// this client does not know.
std::optional<int> DeviceTypeOf(const std::string& model);

// Every model as typed on the command line ("kestrel-kx"), for completion.
std::vector<std::string> KnownModels();

// The whole table as a JSON object, model as the server compares it to device type; the
// browser page is built with it, so both clients know one table.
std::string DeviceTypesJson();

}  // namespace tessera::cli
