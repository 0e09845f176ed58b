#pragma once

#include "context/run.h"
#include "recfiles/store.h"  // a skipped level is fine
