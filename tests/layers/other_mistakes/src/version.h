// Files directly in src belong to no folder and are not checked.
#pragma once

#include "ui/window.h"
