// The values an operation runs with: what the operator types in the window or gives on the
// command line, and the defaults both start from.
#pragma once

#include <cstdint>
#include <string>

#include "recfiles/encodings.h"
#include "startup/run_options.h"

namespace quillmere {

inline constexpr char kDefaultCsvName[] = "balances.csv";
inline constexpr int64_t kDefaultFirstJeNumber = 100000;
inline constexpr int64_t kDefaultFirstInvNumber = 500000;

struct RunValues {
  std::string agency_code;   // as typed; at most 2 characters
  std::string posting_date;  // M/D/YYYY
  std::string csv_path = kDefaultCsvName;
  int64_t first_je_number = kDefaultFirstJeNumber;    // the first JE posted is the next free above
  int64_t first_inv_number = kDefaultFirstInvNumber;  // likewise for invoices
};

// The defaults: the start-up agency code of `options`, the last day of the month before
// `today`'s (as M/D/YYYY), balances.csv and the starting numbers 100000 and 500000.
RunValues DefaultRunValues(const RunOptions& options, const Date& today);

}  // namespace quillmere
