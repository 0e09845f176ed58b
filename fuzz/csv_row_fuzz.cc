// The balance sheet CSV reader with the amount conversion: whole files through CsvLineReader
// and the private copy, each line through ReadRow, CleanAmount, AmountTextProblem and
// ParseAmount, as both import passes read them.
#include <unistd.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "import/csv_file.h"
#include "import/csv_reader.h"
#include "recfiles/encodings.h"

using quillmere::fuzz::Require;

namespace {

void CheckRow(const std::string& line) {
  const quillmere::CsvRow row = quillmere::ReadRow(line);
  Require(row.dpt.find_first_of("abcdefghijklmnopqrstuvwxyz") == std::string::npos,
          "department is upper-cased", row.dpt);
  Require(row.sgl.empty() || row.sgl == row.sgl_as_written, "SGL is as written or NONE");
  Require(row.amount_text == quillmere::CleanAmount(row.amount_field), "amount text is cleaned");
  Require(!row.amount_text.empty(), "a cleaned amount is never empty");
  Require(row.amount_text.find_first_of("\"',$") == std::string::npos,
          "cleaning removes quotes, commas and dollar signs", row.amount_text);
  const std::optional<std::string> problem = quillmere::AmountTextProblem(row);
  Require(!problem || !problem->empty(), "a problem has a text");

  const std::optional<double> amount = quillmere::ParseAmount(row.amount_text);
  if (!amount) return;
  Require(std::isfinite(*amount), "a parsed amount is finite", row.amount_text);
  // What pass 1 accepts must store and log without surprises.
  if (quillmere::AmountFitsField(*amount)) {
    const std::string bcd = quillmere::EncodeBCD(*amount);
    Require(bcd.size() == 10, "an amount that fits encodes in 10 characters", row.amount_text);
    for (size_t i = 0; i + 1 < bcd.size(); ++i) {
      Require(bcd[i] >= '0' && bcd[i] <= '9', "amount digits", bcd);
    }
    const char last = bcd.back();
    Require((last >= '0' && last <= '9') || (last >= 'p' && last <= 'y'), "amount sign digit", bcd);
    const std::string logged = quillmere::FormatAmount(*amount);
    Require(logged.size() >= 10, "the logged amount fills its column", logged);
    const auto back = quillmere::ParseAmount(quillmere::Trim(logged));
    Require(back.has_value(), "the logged amount reads back", logged);
    Require(std::fabs(*back - *amount) <= 0.005000001 + std::fabs(*amount) * 1e-15,
            "the logged amount is the amount to the cent", logged);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  static quillmere::fuzz::ScratchFile file("csv");
  file.Write(input);

  uint64_t file_size = 0;
  std::string reason;
  quillmere::UniqueFd csv = quillmere::OpenCsvFile(file.path(), &file_size, &reason);
  Require(static_cast<bool>(csv), "the CSV opens", reason);
  Require(file_size == size, "the CSV's size");
  quillmere::UniqueFd copy = quillmere::CreatePrivateCopy(quillmere::PrivateCopyFolder(), &reason);
  Require(static_cast<bool>(copy), "the private copy is made", reason);

  // Chunks of every size from 1 byte, so that line ends fall across chunk boundaries.
  quillmere::CsvLineReader reader(csv.get(), copy.get(), 1 + size % 97);
  std::vector<std::string> lines;
  for (std::string line; reader.NextLine(&line);) {
    Require(line.find('\n') == std::string::npos, "a line holds no LF", line);
    CheckRow(line);
    lines.push_back(line);
  }
  Require(reader.failure() == quillmere::CsvLineReader::Failure::kNone, "no read failure");
  Require(reader.size() == size, "the reader counts every byte");
  size_t want_lines = 0;
  for (char c : input) want_lines += c == '\n';
  if (!input.empty() && input.back() != '\n') ++want_lines;
  Require(lines.size() == want_lines, "one line per line end, plus an unended last line");

  // The copy holds the bytes read, and reads back as the same lines (the posting pass).
  Require(::lseek(copy.get(), 0, SEEK_SET) == 0, "the copy rewinds");
  quillmere::CsvLineReader again(copy.get());
  std::vector<std::string> lines_again;
  for (std::string line; again.NextLine(&line);) lines_again.push_back(line);
  Require(again.failure() == quillmere::CsvLineReader::Failure::kNone, "the copy reads back");
  Require(again.size() == size, "the copy holds every byte");
  Require(lines_again == lines, "the copy reads as the same lines");
  return 0;
}
