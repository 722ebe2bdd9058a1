// A document written over the device's own image: what the document does not change keeps the
// device's bytes, whatever they are, and the comparison after the write tells values apart by
// the field they encode to. Images are random (every field, also the flags, throttles beyond
// full scale and unit texts that are not UTF-8) with each model's length and format marker.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "config/config_group_serializer.h"
#include "config/image_fields.h"

using namespace quor::tessera::diagnostics::config2;

namespace {

struct Model {
  const char* text;
  uint32_t length;
  uint32_t marker;
};

// Lengths and markers of the device image map; "kestrel kx pro" is a model text with more
// characters (its template is empty, its image that of the Kestrel KX).
const Model kModels[] = {{"kestrel kx", 356, 2}, {"kestrel kf", 412, 2}, {"harrier hx", 356, 2},
                         {"candial", 52, 1},     {"wren", 128, 1},       {"kestrel kx pro", 356, 2}};

ConfigByteArray RandomImage(const Model& model, uint32_t seed) {
  std::mt19937 random(seed);
  ConfigByteArray image;
  image.length = model.length;
  for (uint32_t i = 0; i < model.length; ++i) image.data[i] = static_cast<uint8_t>(random());
  WriteImageField(image, 0, model.marker);
  return image;
}

std::vector<uint8_t> Bytes(const ConfigByteArray& image) {
  return std::vector<uint8_t>(image.data, image.data + image.length);
}

// The document "getconfig" answers for `image`, as text and parsed again, as a client sends it.
json DocumentOf(const std::string& model, const ConfigByteArray& image) {
  json document;
  EXPECT_EQ(ConfigGroupSerializer::Serialize(model, image, document), 0);
  return json::parse(document.dump(4));
}

json& Values(json& document, const std::string& name) {
  for (json& entry : document["Configs"]) {
    if (entry["Name"] == name) return entry["Values"];
  }
  static json none;
  ADD_FAILURE() << "no entry " << name;
  return none;
}

}  // namespace

TEST(DocumentOverImage, AnUnchangedDocumentGivesEveryByteBack) {
  for (const Model& model : kModels) {
    for (uint32_t seed = 1; seed <= 20; ++seed) {
      SCOPED_TRACE(std::string(model.text) + " seed " + std::to_string(seed));
      const ConfigByteArray device = RandomImage(model, seed);
      ConfigByteArray toWrite;
      std::vector<std::string> refused;
      ASSERT_EQ(ConfigGroupSerializer::DeserializeOver(model.text, DocumentOf(model.text, device), device, toWrite,
                                                       refused),
                0);
      EXPECT_TRUE(refused.empty()) << refused.front();
      EXPECT_EQ(Bytes(toWrite), Bytes(device));
      EXPECT_TRUE(ConfigGroupSerializer::Differences(model.text, toWrite, device).empty());
    }
  }
}

TEST(DocumentOverImage, AChangeWritesItsOwnFieldOnly) {
  struct Case {
    const char* name;
    const char* model;
    std::function<void(json&)> edit;
    std::map<uint32_t, uint32_t> changed;  // position -> field; every other field stays
  };
  const Case cases[] = {
      {"harrier: no current-limit entry, 112-120 stay", "harrier hx",
       [](json& d) { Values(d, "Motor Output")["Peak Forward Output"] = 0.75; }, {{32, 767}}},
      {"kestrel kf supply time", "kestrel kf",
       [](json& d) { Values(d, "Current Limit - Supply")["Trigger Threshold Time"] = 4.007; }, {{116, 4007}}},
      {"slot 1 named with ordinal 7 is no slot", "kestrel kx",
       [](json& d) {
         for (json& entry : d["Configs"])
           if (entry["Name"] == "Slot 1") {
             entry["Ordinal"] = 7;
             entry["Values"]["kP"] = 3.0;
           }
       },
       {}},
      {"a document of one entry", "kestrel kx",
       [](json& d) {
         d = {{"Configs", {{{"Type", "SlotGroup"}, {"Ordinal", 2}, {"Values", Values(d, "Slot 2")}}}}};
         d["Configs"][0]["Values"]["kF"] = -0.25;
       },
       {{208 + 12, 0xFFF00000}}},
      {"a kestrel kf document for a kestrel kx: its own types are skipped", "kestrel kx",
       [](json& d) {
         d["Configs"].push_back({{"Type", "StatorCurrentLimitGroup"},
                                 {"Values", {{"Enable", true}, {"Current Limit", 1.0},
                                             {"Trigger Threshold Current", 2.0}, {"Trigger Threshold Time", 3.0}}}});
       },
       {}},
      {"no quad index on the kestrel kf: 332 is written as 0", "kestrel kf",
       [](json& d) {
         json& values = Values(d, "Home Sensor");
         values["Clear Pos On Quad Index"] = !values["Clear Pos On Quad Index"].get<bool>();
       },
       {{332, 0}}},
      {"candial unit text", "candial", [](json& d) { Values(d, "Unit Coefficient And String")["Unit String"] = "deg"; },
       {{36, 0x00676564}, {40, 0}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Model& model = *std::find_if(std::begin(kModels), std::end(kModels),
                                       [&](const Model& m) { return std::string(m.text) == c.model; });
    ConfigByteArray device = RandomImage(model, 7);
    if (c.changed.count(332)) WriteImageField(device, 332, 1);  // the device holds 1 there
    json document = DocumentOf(c.model, device);
    c.edit(document);
    ConfigByteArray toWrite;
    std::vector<std::string> refused;
    ASSERT_EQ(ConfigGroupSerializer::DeserializeOver(c.model, document, device, toWrite, refused), 0);
    ASSERT_TRUE(refused.empty()) << refused.front();
    ASSERT_EQ(toWrite.length, model.length);
    for (uint32_t position = 0; position < model.length; position += kFieldBytes) {
      const auto change = c.changed.find(position);
      const uint32_t expected = change != c.changed.end() ? change->second : ReadImageField(device, position);
      EXPECT_EQ(ReadImageField(toWrite, position), expected) << "position " << position;
    }
  }
}

TEST(DocumentOverImage, NothingIsWrittenWithoutAWholeImageToWriteOver) {
  const ConfigByteArray kx = RandomImage(kModels[0], 3);
  const json document = DocumentOf("kestrel kx", kx);
  ConfigByteArray shortImage = kx;
  shortImage.length = 352;
  ConfigByteArray otherMarker = kx;
  WriteImageField(otherMarker, 0, 1);
  const ConfigByteArray kfImage = RandomImage(kModels[1], 3);  // a Kestrel KF's 412 bytes
  for (const ConfigByteArray* base : std::vector<const ConfigByteArray*>{&shortImage, &otherMarker, &kfImage}) {
    ConfigByteArray toWrite;
    std::vector<std::string> refused;
    EXPECT_EQ(ConfigGroupSerializer::DeserializeOver("kestrel kx", document, *base, toWrite, refused), -128);
    EXPECT_FALSE(ConfigGroupSerializer::IsWholeImage("kestrel kx", *base));
  }
  EXPECT_TRUE(ConfigGroupSerializer::IsWholeImage("kestrel kx", kx));
  EXPECT_TRUE(ConfigGroupSerializer::IsWholeImage("pdp", shortImage));  // no image this system knows
}

// Two values are the same when they encode to the same field: a difference far below 1.0 is
// one, a flag stored as 2 or an output beyond full scale reads as the value it encodes to.
TEST(DocumentOverImage, TheComparisonSeesEveryFieldThatReadsDifferently) {
  struct Case {
    const char* name;
    const char* model;
    uint32_t position;
    uint32_t readBackField;
    std::vector<std::string> differences;
  };
  const Case cases[] = {
      {"peak forward kept at 0.4888 when 0.75 was sent", "kestrel kx", 32, 500,
       {"MotorOutputGroup / Peak Forward Output"}},
      {"kP one unit of 2^-22 apart", "kestrel kf", 136, 767 * 4194304u + 1, {"SlotGroup 0 / kP"}},
      {"voltage 1/256 V apart", "harrier hx", 48, 3073, {"VoltageCompGroup / Voltage Compensation Saturation"}},
      {"time 1 ms apart", "kestrel kf", 364, 4008, {"StatorCurrentLimitGroup / Trigger Threshold Time"}},
      {"unit text", "candial", 36, 0x00646172, {"UnitCoeffGroup / Unit String"}},
      {"unit text in other letters", "candial", 36, 0x00474544, {}},
      {"a flag stored as 2 reads true", "kestrel kx", 24, 2, {}},
      {"2000 throttle units read as full output", "kestrel kx", 36, 2000, {}},
      {"bytes no field owns", "kestrel kf", 380, 0xDEADBEEF, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Model& model = *std::find_if(std::begin(kModels), std::end(kModels),
                                       [&](const Model& m) { return std::string(m.text) == c.model; });
    ConfigByteArray sent;
    sent.length = model.length;
    WriteImageField(sent, 0, model.marker);
    if (model.marker == 1) {
      WriteImageField(sent, 36, 0x00676564);  // "deg"
    } else {
      WriteImageField(sent, 32, 767);
      WriteImageField(sent, 136, 767 * 4194304u);
      WriteImageField(sent, 48, 3072);
      WriteImageField(sent, 24, 1);
      WriteImageField(sent, 36, 1023);
      if (model.length > 364) WriteImageField(sent, 364, 4007);
    }
    ConfigByteArray readBack = sent;
    WriteImageField(readBack, c.position, c.readBackField);
    EXPECT_EQ(ConfigGroupSerializer::Differences(c.model, sent, readBack), c.differences);
  }
}
