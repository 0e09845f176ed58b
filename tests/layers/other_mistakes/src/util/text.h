// A file in a folder without a layering rule.
#pragma once
