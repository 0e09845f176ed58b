#include "recfiles/store.h"

// An include in a comment is no include:
// #include "posting/post.h"
