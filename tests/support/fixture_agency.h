// A small fixture agency on the real store: GL accounts, departments, clients, companies and
// producers of agency "01", and a neighbouring agency " 1" that must never be touched.
#pragma once

#include <filesystem>
#include <string>

namespace quillmere::testing {

// Creates the store in `dir` (InitStore) and loads the fixture's master records:
//   GL 1000 4000 5000 1120 1130 2110 2120, departments GA and 01, clients C001 and 1234,
//   companies ABC and 7 (ApType C) and NOC (ApType V, not a company), producers P01 and ABC.
// Returns the settings file's path.
std::string MakeFixtureAgency(const std::filesystem::path& dir);

}  // namespace quillmere::testing
