// SPDX-License-Identifier: GPL-3.0-or-later
// Text encodings of the files Trevalo shares with its Windows side.
#pragma once

#include <QByteArray>
#include <QString>

namespace TextCodec {

/// True when every character of text has a Windows-1252 code.
bool fitsCp1252(const QString &text);

/// Windows-1252 bytes of text; characters without a code become '?' and clear *ok.
QByteArray toCp1252(const QString &text, bool *ok = nullptr);

/// Text of Windows-1252 bytes (the five unassigned codes map to the C1 controls, as Windows does).
QString fromCp1252(const QByteArray &bytes);

/// True when bytes is well-formed UTF-8.
bool isValidUtf8(const QByteArray &bytes);

/**
 * Reads a text file's bytes the way job files are read: a byte-order mark means UTF-8,
 * else valid UTF-8 is UTF-8, else Windows-1252. The mark is not part of the result.
 */
QString decodeFileText(const QByteArray &bytes);

/**
 * Bytes for a text file that Windows tools read as ANSI: Windows-1252 when every character
 * fits, otherwise UTF-8 with a byte-order mark.
 */
QByteArray encodeFileText(const QString &text);

} // namespace TextCodec
