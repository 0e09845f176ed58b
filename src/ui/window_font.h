// The font of the program's windows: Tahoma, 19 pixels high, or where the system lacks it a
// sans serif of similar width (the wide default would clip the fixed-size controls' texts).
#pragma once

#include <QFont>
#include <QStringList>

namespace quillmere {

inline QFont WindowFont() {
  static const bool substituted = [] {
    QFont::insertSubstitutions(
        QStringLiteral("Tahoma"),
        {QStringLiteral("Liberation Sans"), QStringLiteral("Arial"), QStringLiteral("Nimbus Sans"),
         QStringLiteral("DejaVu Sans Condensed")});
    return true;
  }();
  (void)substituted;
  QFont font(QStringLiteral("Tahoma"));
  font.setPixelSize(19);
  return font;
}

}  // namespace quillmere
