#include "cli/device_table.h"

#include "cli/device_listing.h"

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
// `list --wide` adds these.
constexpr std::array<Column, 3> kWideColumns = {
    {{"SERIAL", "SerialNo"}, {"VENDOR", "Vendor"}, {"MADE", "ManDate"}}};

using Row = std::vector<std::string>;

// Columns line up on screen, so UTF-8 continuation bytes take no room.
size_t DisplayWidth(const std::string& text) {
  return static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

std::vector<Row> SortedRows(const nlohmann::json& devices, const std::vector<Column>& columns) {
  std::vector<std::pair<long long, Row>> keyed;
  for (const auto& entry : devices) {
    Row row;
    for (const Column& column : columns) row.push_back(TextOf(entry, column.key));
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

std::string FormatDeviceTable(const nlohmann::json& devices, bool wide) {
  std::vector<Column> columns(kColumns.begin(), kColumns.end());
  if (wide) columns.insert(columns.end(), kWideColumns.begin(), kWideColumns.end());
  std::vector<Row> rows;
  Row titles;
  for (const Column& column : columns) titles.push_back(column.title);
  rows.push_back(titles);
  for (auto& row : SortedRows(devices, columns)) rows.push_back(std::move(row));

  std::vector<size_t> widths(columns.size(), 0);
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
