// The pass-1 errors of a file as the operator fixes them: grouped by CSV line, printed with the
// line number in front, or written as a CSV file to open in a spreadsheet.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "import/import_run.h"

namespace quillmere {

// The errors of one CSV line (line_number 0: about the whole file, such as too few document
// numbers), in the order the check found them.
struct ErrorLine {
  int64_t line_number = 0;
  std::vector<std::string> reasons;
  std::string text;  // the line as read (control bytes shown as \xNN)
  friend bool operator==(const ErrorLine&, const ErrorLine&) = default;
};

// Groups `errors` by line, lines in the order of their first error; whole-file errors stay at
// the place the check found them.
std::vector<ErrorLine> GroupErrors(const std::vector<Pass1Error>& errors);

// The line the command line prints for one error: "line N: " + the run log's line; a
// whole-file error has no prefix.
std::string NumberedErrorLine(const Pass1Error& error);

// The errors as a CSV file's text: the header row "Line","Reasons","GL","Name","SubType",
// "Normal","Dept","Value", then one row per failing line (reasons joined with "; "; the six
// fields of the line as written), every field quoted and a quote inside doubled; CR LF line
// ends. The fields are split as the import splits them (GetNextField); a line with fewer than
// six fields gives "" for those it lacks. A whole-file error has an empty Line and empty
// fields. The text stays 8-bit, as the file held it:
//   "Line","Reasons","GL","Name","SubType","Normal","Dept","Value"
//   "3","GL not found [9999]; Dpt not found [ZZ]","9999","Cash","NONE","Debit","ZZ","10.00"
std::string ErrorsCsv(const std::vector<Pass1Error>& errors);

// Writes ErrorsCsv(errors) to `path` whole or not at all (an existing file is replaced only
// once the new one is complete). False with `*error` saying why.
bool WriteErrorsCsv(const std::string& path, const std::vector<Pass1Error>& errors,
                    std::string* error);

// The errors as one JSON object (docs/check_json.md): {"errors": [{"line": 3, "reasons":
// ["GL not found [9999]"], "text": "9999,Cash,NONE,Debit,GA,10.00"}, ...]}, one entry per
// GroupErrors line, "line" 0 for a whole-file error; 8-bit text as its Latin-1 characters.
std::string ErrorsJson(const std::vector<Pass1Error>& errors);

}  // namespace quillmere
