#include "export/chart.h"

#include <context/run.h>  // angle brackets on an allowed folder: fine
#include <import/rows.h>  // angle brackets do not hide a wrong include

#include <string>

#include "chart_format.h"  // no folder
#include "util/text.h"     // a folder src does not have
