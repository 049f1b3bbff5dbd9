// SPDX-License-Identifier: GPL-3.0-or-later
#include "jobs/password.h"

#include "platform/textcodec.h"

// Passwords are byte strings in the Windows code page. A character beyond it makes the
// whole password UTF-8, marked by a leading byte-order mark: code-page bytes can happen to
// be valid UTF-8 ("Ä€" is C4 80), so only the mark tells the two apart.

namespace {
const QByteArray kUtf8Mark("\xEF\xBB\xBF");
}

QString encodePassword(const QString &password)
{
    bool fits = false;
    QByteArray bytes = TextCodec::toCp1252(password, &fits);
    if (!fits)
        bytes = kUtf8Mark + password.toUtf8();
    QString out;
    out.reserve(bytes.size() * 3);
    for (char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        const unsigned rotated = ((b >> 1) | (b << 7)) & 0xFF;
        out += QStringLiteral("%1").arg(rotated, 3, 10, QLatin1Char('0'));
    }
    return out;
}

QString decodePassword(const QString &value)
{
    QByteArray bytes;
    for (qsizetype i = 0; i + 3 <= value.size(); i += 3) {
        bool ok = false;
        int code = value.mid(i, 3).trimmed().toInt(&ok);
        if (!ok)
            code = 1;
        const unsigned b = unsigned(code) & 0xFF;
        bytes.append(char(((b << 1) | (b >> 7)) & 0xFF));
    }
    if (bytes.startsWith(kUtf8Mark))
        return QString::fromUtf8(bytes.mid(kUtf8Mark.size()));
    return TextCodec::fromCp1252(bytes);
}
