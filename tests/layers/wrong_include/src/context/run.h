#pragma once

#include "recfiles/store.h"
