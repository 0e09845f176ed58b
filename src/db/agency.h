// The agency lookup: the name of an agency in the host's `Agency` table.
#pragma once

#include <QSqlDatabase>
#include <optional>
#include <string>
#include <string_view>

namespace quillmere {

// The text shown for an agency code that has no row.
inline constexpr std::string_view kAgencyNotFound = " Not Found";

// The `AgencyName` of the first `Agency` row whose `AgyCode` equals the typed code right-aligned
// in 2 (`LeftPad`): "5" looks up " 5", "005" looks up "005", "" looks up "  ", and a quote is
// just a character (the code is a bound parameter). " Not Found" when no row matches; nullopt
// with the database's error text in `*error` when the statement fails (no connection, no table).
std::optional<std::string> LookupAgencyName(const QSqlDatabase& db, std::string_view typed_code,
                                            std::string* error);

}  // namespace quillmere
