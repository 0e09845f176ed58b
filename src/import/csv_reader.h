// The balance sheet CSV: a header line, then one row per line. Six comma-separated fields, a
// field in double quotes may hold commas; further fields are ignored.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace quillmere {

// Takes the next field off the front of `*line` and returns it; `*line` keeps the rest.
// Quoted: the text up to the next quote, trimmed; the quote and the one character after it are
// removed (no closing quote: an empty field, one character removed). Unquoted: up to the next
// comma, quotes removed, not trimmed; without a comma the whole rest, and `*line` is left as it
// is, so every further call returns the last field again. "" gives "".
std::string GetNextField(std::string* line);

// One row as the import reads it.
struct CsvRow {
  std::string gl;
  std::string sgl_as_written;  // before "NONE" becomes ""
  std::string sgl;             // "" for NONE in any case
  std::string dpt;             // a-z upper-cased
  std::string amount_field;    // the sixth field as read
  std::string amount_text;     // cleaned
  bool amount_quoted = false;  // the sixth field was in quotes
  std::string next_field;      // the seventh field, when the line has one
  bool has_next_field = false;
};

// Reads the six fields of `line` (and notes the seventh).
CsvRow ReadRow(std::string_view line);
// Removes '"', '\'', ',' and '$', trims, and gives "0" for nothing left.
std::string CleanAmount(std::string_view amount_field);
// True when an unquoted amount looks cut at a thousands comma: "$1,234.50" unquoted reads the
// amount "$1" and the next field "234.50".
bool AmountSplitAtComma(const CsvRow& row);

// Reads a file line by line: a line ends at LF or CR LF (a lone CR is data); a last line
// without an end is a line; a file that ends with a line end has no empty line after it. Keeps
// the byte count and a hash of everything read, so a second reading can tell a changed file.
class CsvLineReader {
 public:
  CsvLineReader() = default;
  CsvLineReader(const CsvLineReader&) = delete;
  CsvLineReader& operator=(const CsvLineReader&) = delete;
  ~CsvLineReader();

  bool Open(const std::string& path);
  bool NextLine(std::string* line);
  void Close();
  // Reads what is left, so that size() and hash() cover the whole file.
  void ReadToEnd();

  uint64_t size() const { return size_; }
  uint64_t hash() const { return hash_; }
  bool error() const { return error_; }

 private:
  bool Fill();

  std::FILE* file_ = nullptr;
  std::string buffer_;
  size_t pos_ = 0;
  bool eof_ = false;
  bool error_ = false;
  uint64_t size_ = 0;
  uint64_t hash_ = 14695981039346656037ull;  // FNV-1a
};

}  // namespace quillmere
