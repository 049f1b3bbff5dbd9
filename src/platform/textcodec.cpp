// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/textcodec.h"

#include <QStringDecoder>

namespace {

// Unicode of the bytes 0x80 to 0x9F; the unassigned ones keep their C1 code.
const char16_t kHighRow[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

int cp1252Byte(char16_t c)
{
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return c;
    for (int i = 0; i < 32; ++i) {
        if (kHighRow[i] == c)
            return 0x80 + i;
    }
    return -1;
}

const QByteArray kUtf8Bom("\xEF\xBB\xBF", 3);

} // namespace

namespace TextCodec {

bool fitsCp1252(const QString &text)
{
    for (QChar c : text) {
        if (cp1252Byte(c.unicode()) < 0)
            return false;
    }
    return true;
}

QByteArray toCp1252(const QString &text, bool *ok)
{
    QByteArray out;
    out.reserve(text.size());
    bool allFit = true;
    for (QChar c : text) {
        int b = cp1252Byte(c.unicode());
        if (b < 0) {
            allFit = false;
            b = '?';
        }
        out.append(char(b));
    }
    if (ok)
        *ok = allFit;
    return out;
}

QString fromCp1252(const QByteArray &bytes)
{
    QString out;
    out.reserve(bytes.size());
    for (char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        out.append(QChar(b >= 0x80 && b < 0xA0 ? kHighRow[b - 0x80] : char16_t(b)));
    }
    return out;
}

bool isValidUtf8(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString ignored = decoder.decode(bytes);
    return !decoder.hasError();
}

QString decodeFileText(const QByteArray &bytes)
{
    if (bytes.startsWith(kUtf8Bom))
        return QString::fromUtf8(bytes.mid(kUtf8Bom.size()));
    if (isValidUtf8(bytes))
        return QString::fromUtf8(bytes);
    return fromCp1252(bytes);
}

QByteArray encodeFileText(const QString &text)
{
    bool ok = false;
    QByteArray ansi = toCp1252(text, &ok);
    if (ok)
        return ansi;
    return kUtf8Bom + text.toUtf8();
}

} // namespace TextCodec
