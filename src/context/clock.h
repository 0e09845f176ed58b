// The system clock, read in one place: operations take a clock so tests can fix the time.
#pragma once

#include "recfiles/encodings.h"

namespace quillmere {

// The current local date and time from the system clock.
DateTime NowLocal();

}  // namespace quillmere
