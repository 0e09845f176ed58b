#include "journal/entry.h"
#include "posting/post.h"
#include "recfiles/store.h"
#include "startup/options.h"
