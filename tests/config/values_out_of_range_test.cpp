// Numbers a field cannot hold are refused as a document is written over the device's image, so
// nothing clamped is ever sent. Ranges are those of the field encodings: unsigned fields hold
// nothing negative, output fractions stop at full scale, gains at 1024 (unsigned) and 512
// (signed), ramps at 10.23 s.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/config_group_serializer.h"

using namespace quor::tessera::diagnostics::config2;

namespace {

// A device's whole image with every field 0.
ConfigByteArray ZeroImage(const std::string& model) {
  ConfigByteArray image;
  image.length = model == "candial" ? 52 : 356;
  image.data[0] = model == "candial" ? 1 : 2;
  return image;
}

json ZeroDocument(const std::string& model) {
  json document;
  EXPECT_EQ(ConfigGroupSerializer::Serialize(model, ZeroImage(model), document), 0);
  return document;
}

struct Case {
  const char* model;
  const char* entry;  // the entry's "Name"
  const char* key;
  json value;
  bool fits;
};

TEST(ValuesOutOfRange, RefusedWhereTheEncodingWouldClamp) {
  const Case cases[] = {
      {"kestrel kx", "Slot 0", "kP", -0.5, false},
      {"kestrel kx", "Slot 0", "kP", 1023.9, true},
      {"kestrel kx", "Slot 0", "kP", 1024.0, false},
      {"kestrel kx", "Slot 1", "kF", -511.9, true},
      {"kestrel kx", "Slot 1", "kF", -512.0, false},
      {"kestrel kx", "Slot 2", "Peak Output", 1.01, false},
      {"kestrel kx", "Slot 3", "Loop Period Ms", -1, false},
      {"kestrel kx", "Motor Output", "Peak Forward Output", -0.5, false},
      {"kestrel kx", "Motor Output", "Peak Forward Output", 1.0, true},
      {"kestrel kx", "Motor Output", "Peak Reverse Output", 0.5, false},
      {"kestrel kx", "Motor Output", "Peak Reverse Output", -1.0, true},
      {"kestrel kx", "Motor Output", "Neutral Deadband", -1.0, true},
      {"kestrel kx", "Motor Output", "Neutral Deadband", 1.5, false},
      {"kestrel kx", "Motor Output", "Open Loop Ramp", 10.23, true},
      {"kestrel kx", "Motor Output", "Open Loop Ramp", 10.24, false},
      {"kestrel kx", "Motor Output", "Open Loop Ramp", -1.0, false},
      {"kestrel kx", "Motor Output", "Neutral Mode", 1.9, true},
      {"kestrel kx", "Motor Output", "Neutral Mode", 2147483647.49, true},
      {"kestrel kx", "Motor Output", "Neutral Mode", 2147483647.5, false},  // nearest is 2^31
      {"kestrel kx", "Motor Output", "Neutral Mode", 3e9, false},
      {"kestrel kx", "Current Limit", "Peak Current Limit", -0.3, false},
      {"kestrel kx", "Current Limit", "Peak Current Limit", 4294967295.0, true},
      {"kestrel kx", "Slot 3", "Loop Period Ms", 4294967295.49, true},
      {"kestrel kx", "Slot 3", "Loop Period Ms", 4294967295.5, false},  // nearest is 2^32
      {"kestrel kx", "Current Limit", "Peak Current Limit", 4294967296.0, false},
      {"kestrel kx", "Software Limit Switches", "Soft Limit Forward Value", -5.0, true},
      {"kestrel kx", "Voltage Comp", "Voltage Compensation Saturation", -0.5, false},
      {"candial", "Advanced Sensor and Meas", "Velocity Period", -2, false},
      {"candial", "Integrated Sensor", "Magnet Offset (deg)", -90.0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.entry) + " / " + c.key + " = " + c.value.dump());
    json document = ZeroDocument(c.model);
    for (json& entry : document["Configs"]) {
      if (entry["Name"] == c.entry) entry["Values"][c.key] = c.value;
    }
    ConfigByteArray image;
    std::vector<std::string> refused;
    EXPECT_EQ(ConfigGroupSerializer::DeserializeOver(c.model, document, ZeroImage(c.model), image, refused), 0);
    EXPECT_EQ(refused.size(), c.fits ? 0u : 1u);
    if (!c.fits && refused.size() == 1) {
      EXPECT_NE(refused[0].find(c.key), std::string::npos) << refused[0];
    }
  }
}

}  // namespace
