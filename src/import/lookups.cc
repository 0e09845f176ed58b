#include "import/lookups.h"

#include <algorithm>

#include "recfiles/btrv_layout.h"

namespace quillmere {

namespace {

int PingMaster(ClientFileSet& files, std::string_view kind, const std::string& agency,
               const std::string& code, rApRec* found) {
  std::string key = MasterKey(kind, agency, code);
  // The library reads exactly the key length: bytes past the text are zero.
  key.resize(std::max<size_t>(key.size(), kApKeyLen) + 1, '\0');
  return files.ap().GetEqual(key.data(), found);
}

}  // namespace

int PingGL(ClientFileSet& files, const std::string& agency, const std::string& gl) {
  rApRec rec;
  return PingMaster(files, kGlKind, agency, gl, &rec);
}

int PingDpt(ClientFileSet& files, const std::string& agency, const std::string& dpt) {
  rApRec rec;
  return PingMaster(files, kDepartmentKind, agency, dpt, &rec);
}

int PingClt(ClientFileSet& files, const std::string& agency, const std::string& client) {
  rApRec rec;
  return PingMaster(files, kClientKind, agency, client, &rec);
}

int PingCmp(ClientFileSet& files, const std::string& agency, const std::string& company) {
  rApRec rec;
  const int status = PingMaster(files, kCompanyKind, agency, company, &rec);
  if (status == 0 && rec.ApType[0] != 'C') return -1;
  return status;
}

int PingPrd(ClientFileSet& files, const std::string& agency, const std::string& producer) {
  rApRec rec;
  return PingMaster(files, kProducerKind, agency, producer, &rec);
}

}  // namespace quillmere
