// The kinds of sub-ledger a GL account takes, by the last digit of its sub-ledger type
// ("000".."009"). The GL chart export writes the kind's name into a template row's SubType
// column, where the bookkeeper puts the party's code; a name left there is no code.
#pragma once

#include <array>
#include <string_view>

namespace quillmere {

inline constexpr std::array<std::string_view, 10> kSubLedgerNames = {
    "None",       "Clients",   "Producer",    "Company/Vendor", "Agency",
    "Department", "ClassCode", "Transaction", "GL Code",        "Bank",
};

}  // namespace quillmere
