// Existence tests against the agency's master file: one keyed read each, no caching.
#pragma once

#include <string>

#include "context/client_files.h"

namespace quillmere {

// 0 when the record exists, else the record-file library's status. The agency arrives padded to
// 2; the code is right-aligned in 6 and never cut.
int PingGL(ClientFileSet& files, const std::string& agency, const std::string& gl);
int PingDpt(ClientFileSet& files, const std::string& agency, const std::string& dpt);
int PingClt(ClientFileSet& files, const std::string& agency, const std::string& client);
// As the others, and -1 when the record found is not a company (its ApType is not "C").
int PingCmp(ClientFileSet& files, const std::string& agency, const std::string& company);
int PingPrd(ClientFileSet& files, const std::string& agency, const std::string& producer);

}  // namespace quillmere
