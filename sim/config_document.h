#pragma once
// Configuration documents in device files: the JSON form the server's "getconfig" answers with
// ({"Configs": [{"Type": ..., "Ordinal": ..., "Values": {...}}, ...]}), turned into the bytes a
// device of a family keeps. The device side's own encoding, written from the field layout of
// the devices' firmware, never from the server's configuration code.
#include <cstddef>
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "sim/device_attributes.h"

namespace quor::tessera::sim {

// Writes every value the document names into `image` (`length` bytes, the family's image
// length); fields it does not name keep their bytes. "Name", "Description" and "Sort" are not
// needed; "Ordinal" picks the slot of a "SlotGroup" entry (0 when absent). A group type the
// family lacks, an unknown key, a value of the wrong type or out of its field's range is an
// error: false with `error` naming the entry and key.
bool EncodeConfigDocument(DeviceFamily family, const nlohmann::json& document, uint8_t* image,
                          size_t length, std::string* error);

}  // namespace quor::tessera::sim
