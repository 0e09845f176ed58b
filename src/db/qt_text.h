// The one boundary between the core's 8-bit text and Qt's QString. Record text, codes, names
// and messages are Latin-1 bytes as the host stores them; file paths are in the file system's
// own 8-bit encoding. Every other Qt file converts through these helpers, and the Qt targets
// build with QT_NO_CAST_FROM_ASCII and QT_NO_CAST_TO_ASCII so a forgotten conversion fails.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <string>
#include <string_view>

namespace quillmere {

// Latin-1 bytes -> QString, one character per byte: FromRecordText("Caf\xe9") == "Café".
inline QString FromRecordText(std::string_view text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

// QString -> Latin-1 bytes; a character outside Latin-1 becomes "?".
inline std::string ToRecordText(const QString& text) {
  const QByteArray bytes = text.toLatin1();
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

// A path as the file system spells it (normally UTF-8) -> QString.
inline QString FromPath(std::string_view path) {
  return QFile::decodeName(QByteArray(path.data(), static_cast<qsizetype>(path.size())));
}

// QString -> the bytes the file system expects for that path.
inline std::string ToPath(const QString& path) {
  const QByteArray bytes = QFile::encodeName(path);
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

}  // namespace quillmere
