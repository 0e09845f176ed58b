// The balance sheet CSV: a header line, then one row per line. Six comma-separated fields, a
// field in double quotes may hold commas; further fields are ignored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "recfiles/sha256.h"

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
  bool amount_quoted = false;  // the sixth field opens with a quote
  // The sixth field's quote never closes: amount_field is "", and amount_unclosed_text holds
  // the rest of the line from that quote on ("\"500.00").
  bool amount_unclosed = false;
  std::string amount_unclosed_text;
  std::string next_field;  // the seventh field, when the line has one
  bool has_next_field = false;
};

// Reads the six fields of `line` (and notes the seventh).
CsvRow ReadRow(std::string_view line);
// Removes '"', '\'', ',' and '$', trims, and gives "0" for nothing left.
std::string CleanAmount(std::string_view amount_field);

// Why the amount of `row` cannot be read as written, or nullopt when it can. Asked of every
// row, zero rows too: the text decides whether the amount is zero.
//   unquoted, no decimal point or exponent, and a seventh field that starts with a digit: cut
//   at a comma ("1234,56", "0,50", "$1,234.50"): "Amount split at a comma (1234,56)"; an amount
//   holding "." is whole and the fields after it are ignored ("1500.00,123" is 1500.00);
//   quoted with a comma that is not a thousands separator ("\"1234,56\"", "\"1.234,50\""; the
//   digits before the decimal point in groups of three, "\"-$12,345.67\"", are fine):
//   "Amount with a comma that is not a thousands separator (1.234,50)";
//   a quote that never closes: "Amount without its closing quote (\"500.00)".
std::optional<std::string> AmountTextProblem(const CsvRow& row);

// Reads the lines of an open file: a line ends at LF or CR LF (a lone CR is data); a last line
// without an end is a line; a file that ends with a line end has no empty line after it. Each
// byte is searched for a line end once, however long the line, so reading is linear in the
// file's size. With a copy descriptor, every byte read is written there too, in the order read,
// before a line holding it is returned: the copy holds exactly the bytes the lines came from.
class CsvLineReader {
 public:
  static constexpr size_t kChunkSize = 1 << 16;

  // Reads `fd` from its current offset, `chunk_size` bytes at a time at most; `copy_fd` < 0
  // for no copy. The reader closes neither descriptor.
  explicit CsvLineReader(int fd, int copy_fd = -1, size_t chunk_size = kChunkSize);
  CsvLineReader(const CsvLineReader&) = delete;
  CsvLineReader& operator=(const CsvLineReader&) = delete;

  // The next line into `*line`, without its end. False at the end of the file, and after a
  // read or copy write failed (failure() says which; the lines before it were returned).
  bool NextLine(std::string* line);

  enum class Failure { kNone, kRead, kCopyWrite };
  Failure failure() const { return failure_; }
  // The errno of the failed call (0 when none failed).
  int failure_errno() const { return failure_errno_; }
  // Bytes read so far.
  uint64_t size() const { return size_; }
  // Every byte read from now on is also added to `hash` (nullptr: none), in the order read.
  void set_hash(Sha256* hash) { hash_ = hash; }

 private:
  // Reads the next chunk onto the buffer; false at the end of the file or on a failure.
  bool Fill();

  int fd_;
  int copy_fd_;
  size_t chunk_size_;
  std::string buffer_;
  size_t pos_ = 0;      // the start of the next line in buffer_
  size_t scanned_ = 0;  // buffer_ up to here holds no LF after pos_
  bool eof_ = false;
  Failure failure_ = Failure::kNone;
  int failure_errno_ = 0;
  uint64_t size_ = 0;
  Sha256* hash_ = nullptr;
};

}  // namespace quillmere
