#pragma once
// "getconfig" and "setconfig" the way the PC tool and a user with curl send them: the document
// goes up as a file with `curl -F file=@doc.json`.
#include <unistd.h>

#include <fstream>
#include <string>

#include <nlohmann/json.hpp>

#include "tests/support/http_client.h"
#include "tests/support/server_process.h"
#include "tests/support/wait_until.h"

namespace tessera_test {

inline std::string DeviceQuery(const std::string& action, const std::string& model, int id) {
  std::string plussed = model;
  for (char& c : plussed) c = c == ' ' ? '+' : c;
  return "action=" + action + "&model=" + plussed + "&id=" + std::to_string(id);
}

inline nlohmann::json GetConfig(int port, const std::string& model, int id) {
  return GetJson(port, "/?" + DeviceQuery("getconfig", model, id));
}

// The "getconfig" answer once the server holds the device's image (the last answer when the
// deadline passes first): right after a device is listed its image may still be on the way.
inline nlohmann::json WaitForConfig(int port, const std::string& model, int id,
                                    std::chrono::seconds deadline = std::chrono::seconds(15)) {
  nlohmann::json answer;
  WaitUntil(
      [&] {
        answer = GetConfig(port, model, id);
        return !answer.is_discarded() && answer["GeneralReturn"]["Error"] == 0;
      },
      deadline, std::chrono::milliseconds(50));
  return answer;
}

// Uploads `text` as the file part of a "setconfig" POST through curl; the parsed answer.
inline nlohmann::json CurlSetConfigText(int port, const std::string& model, int id,
                                        const std::string& text) {
  char path[] = "/tmp/tessera-config-XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) return nlohmann::json(nlohmann::json::value_t::discarded);
  close(fd);
  std::ofstream(path, std::ios::binary) << text;
  const std::string url =
      "http://127.0.0.1:" + std::to_string(port) + "/?" + DeviceQuery("setconfig", model, id);
  const std::string body =
      RunCommand("curl -s --max-time 20 -F 'file=@" + std::string(path) + "' '" + url + "'");
  unlink(path);
  return nlohmann::json::parse(body, nullptr, false);
}

inline nlohmann::json CurlSetConfig(int port, const std::string& model, int id,
                                    const nlohmann::json& document) {
  return CurlSetConfigText(port, model, id, document.dump(4));
}

inline int ErrorOf(const nlohmann::json& answer) {
  if (answer.is_discarded() || !answer.contains("GeneralReturn")) return 1;  // no answer at all
  return answer["GeneralReturn"]["Error"].get<int>();
}

// True for the answers a device that takes configurations gives only when it was slow to
// answer: -102 (no answer to the write's 20 ms mode query), -125 (its last status poll got no
// answer, so the engine does not know it takes configurations) and -133 (its acknowledgement
// came more than 200 ms after the image). On a heavily loaded machine the simulated devices can
// miss those deadlines now and then.
inline bool DeviceWasSlow(int error) { return error == -102 || error == -125 || error == -133; }

// "setconfig" to a device that takes configurations, sent again (at most three times in all)
// while the device was slow to answer.
inline nlohmann::json CurlSetConfigToAnsweringDevice(int port, const std::string& model, int id,
                                                     const nlohmann::json& document) {
  nlohmann::json answer;
  for (int attempt = 0; attempt < 3; ++attempt) {
    answer = CurlSetConfig(port, model, id, document);
    if (!DeviceWasSlow(ErrorOf(answer))) break;
  }
  return answer;
}

// The "Values" of the entry named `name` in a configuration document; null when it has none.
inline nlohmann::json& ValuesOf(nlohmann::json& document, const std::string& name) {
  static nlohmann::json none;
  for (auto& entry : document["Configs"]) {
    if (entry["Name"] == name) return entry["Values"];
  }
  none = nullptr;
  return none;
}

}  // namespace tessera_test
