#include "recfiles/store.h"
#include "ui/window.h"
