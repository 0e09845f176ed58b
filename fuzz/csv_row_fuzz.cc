// The balance sheet CSV reader with the amount conversion: whole files through CsvLineReader,
// each line through ReadRow, CleanAmount, ParseAmount and AmountSplitAtComma, as both import
// passes read them.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
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
  (void)quillmere::AmountSplitAtComma(row);

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

  quillmere::CsvLineReader reader;
  Require(reader.Open(file.path()), "the CSV opens");
  std::string line;
  size_t lines = 0;
  while (reader.NextLine(&line)) {
    ++lines;
    Require(line.find('\n') == std::string::npos, "a line holds no LF", line);
    CheckRow(line);
  }
  reader.ReadToEnd();
  Require(!reader.error(), "no read error");
  Require(reader.size() == size, "the reader counts every byte");
  size_t want_lines = 0;
  for (char c : input) want_lines += c == '\n';
  if (!input.empty() && input.back() != '\n') ++want_lines;
  Require(lines == want_lines, "one line per line end, plus an unended last line");

  // A second reading of the same bytes gives the same size and hash (pass 2's change check).
  const uint64_t hash = reader.hash();
  reader.Close();
  quillmere::CsvLineReader again;
  Require(again.Open(file.path()), "the CSV opens again");
  again.ReadToEnd();
  Require(again.size() == size && again.hash() == hash, "a second reading hashes alike");
  return 0;
}
