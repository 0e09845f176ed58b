// The font of the program's windows: Tahoma, 19 pixels high, or the closest the system has.
#pragma once

#include <QFont>

namespace quillmere {

inline QFont WindowFont() {
  QFont font(QStringLiteral("Tahoma"));
  font.setPixelSize(19);
  return font;
}

}  // namespace quillmere
