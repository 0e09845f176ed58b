// The lowest layer: system headers and its own folder only.
#pragma once

#include <string>

#include "recfiles/encodings.h"
