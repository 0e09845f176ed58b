// The one boundary between the core's 8-bit text and Qt's QString. Record text, codes, names
// and messages are Latin-1 bytes as the host stores them; file paths are in the file system's
// own 8-bit encoding; the database connection's names and password reach the driver as the
// exact UTF-8 bytes of the settings file. Every other Qt file converts through these helpers,
// and the Qt targets build with QT_NO_CAST_FROM_ASCII and QT_NO_CAST_TO_ASCII so a forgotten
// conversion fails.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <optional>
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

// The QString whose UTF-8 form is exactly `bytes`: the QMYSQL driver hands the host, user,
// password and database names to the client library with toUtf8(), so this is how the server
// receives the bytes of the settings file unchanged. nullopt when no QString gives them back:
// bytes that are not valid UTF-8 (a Latin-1 "\xE4"), or a NUL byte, where the C string the
// driver passes would end. FromExactUtf8("p\xC3\xA4ss") == "päss".
inline std::optional<QString> FromExactUtf8(std::string_view bytes) {
  if (bytes.find('\0') != std::string_view::npos) return std::nullopt;
  const QByteArray raw(bytes.data(), static_cast<qsizetype>(bytes.size()));
  QString text = QString::fromUtf8(raw);
  if (text.toUtf8() != raw) return std::nullopt;
  return text;
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
