#include "cli/device_table.h"

#include <algorithm>
#include <array>
#include <vector>

namespace tessera::cli {

namespace {

struct Column {
  const char* title;
  const char* key;  // member of a "DeviceArray" entry
};

constexpr std::array<Column, 7> kColumns = {{{"ID", "ID"},
                                             {"MODEL", "Model"},
                                             {"NAME", "Name"},
                                             {"FIRMWARE", "CurrentVers"},
                                             {"BOOTLOADER", "BootloaderRev"},
                                             {"HARDWARE", "HardwareRev"},
                                             {"STATUS", "SoftStatus"}}};

using Row = std::array<std::string, kColumns.size()>;

std::string TextOf(const nlohmann::json& entry, const char* key) {
  if (!entry.is_object() || !entry.contains(key)) return "";
  const auto& value = entry[key];
  if (value.is_string()) return value.get<std::string>();
  return value.is_null() ? "" : value.dump();
}

// Columns line up on screen, so UTF-8 continuation bytes take no room.
size_t DisplayWidth(const std::string& text) {
  return static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

std::vector<Row> SortedRows(const nlohmann::json& devices) {
  std::vector<std::pair<long long, Row>> keyed;
  for (const auto& entry : devices) {
    Row row;
    for (size_t c = 0; c < kColumns.size(); ++c) row[c] = TextOf(entry, kColumns[c].key);
    const long long id = entry.is_object() && entry.contains("ID") && entry["ID"].is_number()
                             ? entry["ID"].get<long long>()
                             : -1;
    keyed.emplace_back(id, row);
  }
  std::stable_sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) {
    return a.first != b.first ? a.first < b.first : a.second[1] < b.second[1];
  });
  std::vector<Row> rows;
  for (auto& [id, row] : keyed) rows.push_back(std::move(row));
  return rows;
}

}  // namespace

std::string FormatDeviceTable(const nlohmann::json& devices) {
  std::vector<Row> rows;
  Row titles;
  for (size_t c = 0; c < kColumns.size(); ++c) titles[c] = kColumns[c].title;
  rows.push_back(titles);
  for (auto& row : SortedRows(devices)) rows.push_back(std::move(row));

  std::array<size_t, kColumns.size()> widths{};
  for (const Row& row : rows)
    for (size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], DisplayWidth(row[c]));

  std::string table;
  for (const Row& row : rows) {
    std::string line;
    for (size_t c = 0; c < row.size(); ++c) {
      line += row[c];
      if (c + 1 < row.size()) line += std::string(widths[c] - DisplayWidth(row[c]) + 2, ' ');
    }
    line.erase(line.find_last_not_of(' ') + 1);
    table += line + "\n";
  }
  return table;
}

}  // namespace tessera::cli
