#include <QString>

#include "db/connection.h"
#include "import/rows.h"
