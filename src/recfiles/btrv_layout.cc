#include "recfiles/btrv_layout.h"

#include "recfiles/encodings.h"

namespace quillmere {

std::string MasterKey(std::string_view file_pro, std::string_view agency, std::string_view code) {
  std::string key(file_pro);
  key += LeftPad(agency, 2);
  key += LeftPad(code, 6);
  key += "00";
  return key;
}

}  // namespace quillmere
