#include "posting/post.h"

#include <vector>

#include "import/rows.h"  // the one wrong include: posting sits below import
