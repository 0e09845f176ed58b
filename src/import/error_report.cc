#include "import/error_report.h"

#include <cstring>
#include <unordered_map>

#include "context/output_file.h"
#include "import/csv_reader.h"
#include "import/json_text.h"

namespace quillmere {
namespace {

constexpr int kFields = 6;  // GL, Name, SubType, Normal, Dept, Value

// The six fields of `line` as the import splits them. The import's reader gives the last
// field of a line again for every field after it; a report shows "" for those instead, so a
// short line reads as short.
std::vector<std::string> LineFields(std::string line) {
  std::vector<std::string> fields;
  bool used_up = false;
  for (int i = 0; i < kFields; ++i) {
    if (used_up) {
      fields.emplace_back();
      continue;
    }
    const size_t before = line.size();
    fields.push_back(GetNextField(&line));
    // Only a field that ends the line leaves the rest as it was.
    used_up = line.size() == before;
  }
  return fields;
}

std::string CsvField(std::string_view text) {
  std::string field = "\"";
  for (const char c : text) {
    if (c == '"') field += '"';
    field += c;
  }
  return field + "\"";
}

std::string CsvLine(const std::vector<std::string>& fields) {
  std::string row;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) row += ',';
    row += CsvField(fields[i]);
  }
  return row + "\r\n";
}

std::string JoinedReasons(const std::vector<std::string>& reasons) {
  std::string joined;
  for (const std::string& reason : reasons) {
    if (!joined.empty()) joined += "; ";
    joined += reason;
  }
  return joined;
}

}  // namespace

std::vector<ErrorLine> GroupErrors(const std::vector<Pass1Error>& errors) {
  std::vector<ErrorLine> lines;
  std::unordered_map<int64_t, size_t> index_of_line;
  for (const Pass1Error& error : errors) {
    if (error.line_number != 0) {
      const auto [it, added] = index_of_line.try_emplace(error.line_number, lines.size());
      if (!added) {
        lines[it->second].reasons.push_back(error.reason);
        continue;
      }
    }
    lines.push_back(ErrorLine{error.line_number, {error.reason}, error.line});
  }
  return lines;
}

std::string NumberedErrorLine(const Pass1Error& error) {
  if (error.line_number == 0) return error.RunLogLine();
  return "line " + std::to_string(error.line_number) + ": " + error.RunLogLine();
}

std::string ErrorsCsv(const std::vector<Pass1Error>& errors) {
  std::string csv =
      CsvLine({"Line", "Reasons", "GL", "Name", "SubType", "Normal", "Dept", "Value"});
  for (const ErrorLine& line : GroupErrors(errors)) {
    std::vector<std::string> row = {
        line.line_number == 0 ? std::string() : std::to_string(line.line_number),
        JoinedReasons(line.reasons)};
    if (line.line_number == 0) {
      row.resize(2 + kFields);
    } else {
      for (std::string& field : LineFields(line.text)) row.push_back(std::move(field));
    }
    csv += CsvLine(row);
  }
  return csv;
}

bool WriteErrorsCsv(const std::string& path, const std::vector<Pass1Error>& errors,
                    std::string* error) {
  OutputFile output(path);
  int failure = 0;
  if (!output.Create(&failure)) {
    *error = "Unable to create " + path + ": " + std::strerror(failure);
    return false;
  }
  output.Write(ErrorsCsv(errors));
  if (!output.Commit(&failure)) {
    *error = "Unable to write " + path + ": " + std::strerror(failure);
    return false;
  }
  return true;
}

std::string ErrorsJson(const std::vector<Pass1Error>& errors) {
  std::string json = "{\"errors\":[";
  bool first = true;
  for (const ErrorLine& line : GroupErrors(errors)) {
    json += first ? "{" : ",{";
    first = false;
    json += "\"line\":" + std::to_string(line.line_number) + ",\"reasons\":[";
    for (size_t i = 0; i < line.reasons.size(); ++i) {
      if (i > 0) json += ',';
      json += JsonString(line.reasons[i]);
    }
    json += "],\"text\":" + JsonString(line.text) + "}";
  }
  return json + "]}";
}

}  // namespace quillmere
