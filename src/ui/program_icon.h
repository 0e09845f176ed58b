// The program's identity for the desktop: its icon, built into the program, and the name of its
// desktop entry.
#pragma once

class QIcon;

namespace quillmere {

// The name of the desktop entry (quillmere.desktop) and of the icon in the icon theme.
inline constexpr char kDesktopEntryName[] = "quillmere";

// The program's icon in each of its sizes (16, 32, 48, 64, 128 and 256 px). Never null: the
// images are in the program's resources.
QIcon ProgramIcon();

// Gives every window of the running QApplication the program's icon, and tells the window
// system which desktop entry the program belongs to (so a Wayland desktop shows the entry's
// icon and name). Call once, after the QApplication is made.
void ApplyProgramIcon();

}  // namespace quillmere
