// The preview as text and as JSON (preview.h).
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "import/json_text.h"
#include "import/preview.h"
#include "recfiles/encodings.h"

namespace quillmere {
namespace {

// A table of text cells printed in aligned columns, two blanks apart, no blanks at the end of a
// line. `align` holds one letter per column: 'l' left-aligned, 'r' right-aligned (numbers).
std::vector<std::string> AlignedRows(const std::vector<std::vector<std::string>>& rows,
                                     std::string_view align, const std::string& indent) {
  std::vector<size_t> widths;
  for (const auto& row : rows) {
    if (widths.size() < row.size()) widths.resize(row.size(), 0);
    for (size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
  }
  std::vector<std::string> lines;
  for (const auto& row : rows) {
    std::string line = indent;
    for (size_t i = 0; i < row.size(); ++i) {
      const std::string pad(widths[i] - row[i].size(), ' ');
      if (i > 0) line += "  ";
      line += i < align.size() && align[i] == 'r' ? pad + row[i] : row[i] + pad;
    }
    line.erase(line.find_last_not_of(' ') + 1);
    lines.push_back(line);
  }
  return lines;
}

std::string DocumentRange(int32_t first, int32_t last) {
  if (first == 0) return "none";
  return LeftPadZero(std::to_string(first), 6) + " to " + LeftPadZero(std::to_string(last), 6);
}

const char* KindName(PreviewWarning::Kind kind) {
  switch (kind) {
    case PreviewWarning::Kind::kOutOfBalance:
      return "out_of_balance";
    case PreviewWarning::Kind::kKindName:
      return "kind_name";
    case PreviewWarning::Kind::kNoAmount:
      return "no_amount";
  }
  return "unknown";
}

// A JSON object written key by key, in the order the keys are added.
class JsonObject {
 public:
  JsonObject& Raw(std::string_view key, std::string_view json) {
    text_ += text_.empty() ? "{" : ",";
    text_ += JsonString(key);
    text_ += ':';
    text_ += json;
    return *this;
  }
  JsonObject& Text(std::string_view key, std::string_view value) {
    return Raw(key, JsonString(value));
  }
  JsonObject& Number(std::string_view key, int64_t value) {
    return Raw(key, std::to_string(value));
  }
  JsonObject& Amount(std::string_view key, int64_t cents) {
    return Raw(key, JsonString(FormatCents(cents)));
  }
  JsonObject& Bool(std::string_view key, bool value) { return Raw(key, value ? "true" : "false"); }
  std::string Done() const { return text_.empty() ? "{}" : text_ + "}"; }

 private:
  std::string text_;
};

std::string JsonArray(const std::vector<std::string>& items) {
  std::string text = "[";
  for (size_t i = 0; i < items.size(); ++i) text += (i > 0 ? "," : "") + items[i];
  return text + "]";
}

}  // namespace

std::vector<std::string> PreviewLines(const Preview& preview) {
  std::vector<std::string> lines;
  lines.push_back("Opening trial balance (amounts as the records will hold them):");
  const bool any_control = std::any_of(preview.accounts.begin(), preview.accounts.end(),
                                       [](const AccountTotal& account) { return account.control; });
  std::vector<std::vector<std::string>> table;
  table.push_back({"GL", "Rows", "Debit", "Credit"});
  if (any_control) {
    table.back().push_back("Parties");
    table.back().push_back("On several rows");
  }
  int64_t rows = 0;
  bool shared = false;
  for (const AccountTotal& account : preview.accounts) {
    // A clean check holds no control bytes in a GL; shown as \xNN anyway, a line stays a line.
    table.push_back({ShowControlBytes(account.gl), std::to_string(account.rows),
                     FormatCents(account.debit_cents), FormatCents(account.credit_cents)});
    if (account.control) {
      table.back().push_back(std::to_string(account.parties));
      table.back().push_back(std::to_string(account.shared_parties));
      shared = shared || account.shared_parties > 0;
    }
    rows += account.rows;
  }
  table.push_back({"Total", std::to_string(rows), FormatCents(preview.debit_cents),
                   FormatCents(preview.credit_cents)});
  for (std::string& line : AlignedRows(table, "lrrrrr", "  ")) lines.push_back(std::move(line));
  lines.push_back("  Net total (debits less credits): " + FormatCents(preview.net_cents()));
  if (shared) {
    lines.push_back(
        "A party on more than one row of a control account gets one placeholder policy for "
        "all of them; it keeps the department and invoice of the party's last row.");
  }
  lines.push_back("Zero rows skipped: " + std::to_string(preview.zero_rows) + " of " +
                  std::to_string(preview.rows) + " rows read");

  lines.push_back(
      "Document numbers the posting will draw (a forecast: numbers another program takes "
      "before the posting are passed over then):");
  lines.push_back("  JE numbers: " + DocumentRange(preview.first_je, preview.last_je));
  lines.push_back("  Invoice numbers: " + DocumentRange(preview.first_inv, preview.last_inv));

  lines.push_back("Writes:");
  struct Writes {
    std::string name, replaced_word;
    int64_t inserted, replaced;
  };
  std::vector<Writes> writes;
  for (const RecordFileWrites& file : preview.record_writes) {
    writes.push_back({file.file + ":", "replaced", file.inserted, file.replaced});
  }
  writes.push_back({"Policy rows:", "updated", preview.policy_inserted, preview.policy_updated});
  // The counts right-aligned, each word right after its count.
  int inserted_width = 0, replaced_width = 0;
  for (const Writes& w : writes) {
    inserted_width = std::max(inserted_width, static_cast<int>(std::to_string(w.inserted).size()));
    replaced_width = std::max(replaced_width, static_cast<int>(std::to_string(w.replaced).size()));
  }
  std::vector<std::vector<std::string>> writes_table;
  for (const Writes& w : writes) {
    writes_table.push_back(
        {w.name, LeftPad(std::to_string(w.inserted), inserted_width) + " inserted, " +
                     LeftPad(std::to_string(w.replaced), replaced_width) + " " + w.replaced_word});
  }
  for (std::string& line : AlignedRows(writes_table, "ll", "  ")) {
    lines.push_back(std::move(line));
  }
  if (preview.already_posted > 0) {
    lines.push_back("Resume: the " + std::to_string(preview.already_posted) +
                    " row(s) posted before are skipped; the numbers and writes above are those "
                    "of the other rows (the trial balance covers the whole file).");
  }

  for (const PreviewWarning& warning : preview.warnings) {
    std::string line =
        warning.kind == PreviewWarning::Kind::kOutOfBalance ? "WARNING: " : "Warning: ";
    if (warning.line_number > 0) line += "line " + std::to_string(warning.line_number) + ": ";
    lines.push_back(line + ShowControlBytes(warning.text));
  }
  return lines;
}

std::string PreviewJson(const Preview& preview) {
  std::vector<std::string> accounts;
  for (const AccountTotal& account : preview.accounts) {
    accounts.push_back(JsonObject()
                           .Text("gl", account.gl)
                           .Number("rows", account.rows)
                           .Amount("debit", account.debit_cents)
                           .Amount("credit", account.credit_cents)
                           .Bool("control", account.control)
                           .Number("parties", account.parties)
                           .Number("shared_parties", account.shared_parties)
                           .Done());
  }
  std::vector<std::string> writes;
  for (const RecordFileWrites& file : preview.record_writes) {
    writes.push_back(JsonObject()
                         .Text("file", file.file)
                         .Number("inserted", file.inserted)
                         .Number("replaced", file.replaced)
                         .Done());
  }
  std::vector<std::string> warnings;
  for (const PreviewWarning& warning : preview.warnings) {
    warnings.push_back(JsonObject()
                           .Text("kind", KindName(warning.kind))
                           .Number("line", warning.line_number)
                           .Text("text", warning.text)
                           .Done());
  }
  return JsonObject()
      .Raw("accounts", JsonArray(accounts))
      .Number("rows", preview.rows)
      .Number("zero_rows", preview.zero_rows)
      .Amount("debit", preview.debit_cents)
      .Amount("credit", preview.credit_cents)
      .Amount("net", preview.net_cents())
      .Number("first_je", preview.first_je)
      .Number("last_je", preview.last_je)
      .Number("first_inv", preview.first_inv)
      .Number("last_inv", preview.last_inv)
      .Raw("record_writes", JsonArray(writes))
      .Number("policy_inserted", preview.policy_inserted)
      .Number("policy_updated", preview.policy_updated)
      .Number("already_posted", preview.already_posted)
      .Raw("warnings", JsonArray(warnings))
      .Done();
}

}  // namespace quillmere
