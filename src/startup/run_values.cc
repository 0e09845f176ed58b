#include "startup/run_values.h"

namespace quillmere {

RunValues DefaultRunValues(const RunOptions& options, const Date& today) {
  RunValues values;
  values.agency_code = options.sLastAgyCode;
  values.posting_date = FormatShortDate(LastDayOfLastMonth(today));
  return values;
}

}  // namespace quillmere
