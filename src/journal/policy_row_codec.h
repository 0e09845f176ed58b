// A Policy row's intended values as the run journal keeps them: every field of PolicyRow in a
// byte string that reads back to the same values (texts byte for byte, amounts bit for bit).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "context/policy_table.h"

namespace quillmere {

std::string EncodePolicyRow(const PolicyRow& row);
// nullopt for bytes EncodePolicyRow did not write (a damaged journal).
std::optional<PolicyRow> DecodePolicyRow(std::string_view bytes);

}  // namespace quillmere
