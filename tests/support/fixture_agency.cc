#include "support/fixture_agency.h"

#include "support/test_support.h"

namespace quillmere::testing {

std::string MakeFixtureAgency(const std::filesystem::path& dir) {
  const std::string settings = InitStore(dir);
  for (const char* agency : {"01", " 1"}) {
    PutMaster(kGlKind, agency, "1000", "Cash in Bank", 'A', "009");
    PutMaster(kGlKind, agency, "4000", "Commission Income", 'I', "000");
    PutMaster(kGlKind, agency, "5000", "Office Expense", 'E', "005");
    PutMaster(kGlKind, agency, "1120", "Client Receivables", 'A', "001");
    PutMaster(kGlKind, agency, "1130", "Company Receivables", 'A', "003");
    PutMaster(kGlKind, agency, "2110", "Company Payables", 'L', "003");
    PutMaster(kGlKind, agency, "2120", "Producer Payables", 'L', "002");
    PutMaster(kDepartmentKind, agency, "GA", "General Agency");
    PutMaster(kDepartmentKind, agency, "01", "Personal Lines");
    PutMaster(kClientKind, agency, "C001", "Smith, John");
    PutMaster(kClientKind, agency, "1234", "Acme Hardware");
    PutMaster(kCompanyKind, agency, "ABC", "ABC Insurance", 'C');
    PutMaster(kCompanyKind, agency, "7", "Seventh Mutual", 'C');
    PutMaster(kCompanyKind, agency, "NOC", "Not A Company", 'V');
    PutMaster(kProducerKind, agency, "P01", "Pat Producer");
    PutMaster(kProducerKind, agency, "ABC", "Abby Producer");
  }
  return settings;
}

}  // namespace quillmere::testing
