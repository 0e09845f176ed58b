// What a clean file will post, before anything is posted: the opening trial balance of its
// rows, the document numbers the posting will draw, the writes it will make, and warnings about
// rows that are legal but probably not what the operator meant. The check builds it; the
// command line prints it as text or JSON, the window shows it before asking to post.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quillmere {

// One GL account of the file. Amounts are in cents, each row rounded to the cent as its record
// holds it (half a cent away from zero), so the totals add up to what the records will show.
struct AccountTotal {
  std::string gl;              // as written in the file
  int64_t rows = 0;            // rows with a non-zero amount
  int64_t debit_cents = 0;     // the positive amounts
  int64_t credit_cents = 0;    // the negative amounts, as a positive sum
  bool control = false;        // 1120, 1130, 2110 or 2120: one placeholder policy per party
  int64_t parties = 0;         // control accounts: distinct sub-ledger codes (as padded)
  int64_t shared_parties = 0;  // of them, the parties on more than one row
  friend bool operator==(const AccountTotal&, const AccountTotal&) = default;
};

// The writes the posting makes to one record file.
struct RecordFileWrites {
  std::string file;      // the record file's name, as the client file set opens it
  int64_t inserted = 0;  // records with a key not there before
  int64_t replaced = 0;  // records written over one with the same key (also one of this run)
  friend bool operator==(const RecordFileWrites&, const RecordFileWrites&) = default;
};

// A row that is legal but suspicious, or a fact about the whole file (line_number 0).
struct PreviewWarning {
  enum class Kind {
    kOutOfBalance,  // the net total is not 0.00
    kKindName,      // a SubType still holding the template's kind name ("Bank", "Agency" ...)
    kNoAmount,      // no row of the file has an amount
  };
  Kind kind = Kind::kOutOfBalance;
  int64_t line_number = 0;  // the CSV line (the header is line 1); 0: the whole file
  std::string text;         // the sentence shown to the operator
  friend bool operator==(const PreviewWarning&, const PreviewWarning&) = default;
};

struct Preview {
  std::vector<AccountTotal> accounts;  // ordered by GL text
  int64_t rows = 0;                    // data lines of the file
  int64_t zero_rows = 0;               // of them, rows the posting skips (amount 0)
  int64_t debit_cents = 0;             // sums over all accounts
  int64_t credit_cents = 0;
  int64_t net_cents() const { return debit_cents - credit_cents; }
  // The first and last journal-entry and invoice numbers the posting will draw, after passing
  // over the numbers in use; 0 when it draws none. A forecast: numbers another program takes
  // before the posting are passed over then.
  int32_t first_je = 0, last_je = 0, first_inv = 0, last_inv = 0;
  // Per record file the posting writes, in the order the client file set names them; files
  // the posting does not write are left out.
  std::vector<RecordFileWrites> record_writes;
  int64_t policy_inserted = 0;  // Policy rows
  int64_t policy_updated = 0;
  std::vector<PreviewWarning> warnings;
  // A resume: rows its earlier part posted, which this posting skips (they are in neither the
  // counts of writes nor the numbers; the trial balance covers the whole file).
  int64_t already_posted = 0;
  friend bool operator==(const Preview&, const Preview&) = default;
};

// "1234.50", "-0.13", "0.00": cents as an amount with two decimals and ".".
std::string FormatCents(int64_t cents);
// The cents `amount` is stored as in a record (as EncodeBCD rounds it).
int64_t AmountCents(double amount);

// The preview as lines of text for a terminal or a log (no line ends in them).
std::vector<std::string> PreviewLines(const Preview& preview);
// The preview as one JSON object (documented in docs/check_json.md); amounts as strings such
// as "-3571.07"; 8-bit text is written as its Latin-1 characters, so the result is valid UTF-8.
std::string PreviewJson(const Preview& preview);

}  // namespace quillmere
