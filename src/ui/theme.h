// The "Sapphire Kamri" look: a style sheet carried in the program's resources.
#pragma once

#include <string>

class QApplication;

namespace quillmere {

inline constexpr char kThemeName[] = "Sapphire Kamri";

// Applies the theme to `app`. False with the reason when it cannot be read; the program then
// keeps the default look.
bool ApplyTheme(QApplication& app, std::string* error);

}  // namespace quillmere
