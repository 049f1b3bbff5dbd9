// SPDX-License-Identifier: GPL-3.0-or-later
// The zip format as the archive writer and reader share it: numbers, flags, extra fields.
#pragma once

#include <QByteArray>
#include <QtGlobal>

namespace ZipFormat {

constexpr quint16 kExtendedTimestampId = 0x5455;
constexpr quint16 kZip64Id = 0x0001;
constexpr quint64 kMax32 = 0xffffffffu;
constexpr quint16 kFlagUtf8 = 0x0800;
constexpr quint16 kMethodStored = 0;
constexpr quint16 kMethodDeflated = 8;
constexpr quint16 kMadeByUnix = 3 << 8;

inline void put16(QByteArray &out, quint32 v)
{
    const char b[2] = {char(v & 0xff), char((v >> 8) & 0xff)};
    out.append(b, 2);
}

inline void put32(QByteArray &out, quint64 v)
{
    const char b[4] = {char(v & 0xff), char((v >> 8) & 0xff), char((v >> 16) & 0xff), char((v >> 24) & 0xff)};
    out.append(b, 4);
}

inline void put64(QByteArray &out, quint64 v)
{
    put32(out, v & kMax32);
    put32(out, v >> 32);
}

/// The extended timestamp holds the modification time in UTC to the second, from 1970 to 2038.
inline bool fitsTimestamp(qint64 mtime)
{
    return mtime >= 0 && mtime <= 0x7fffffff;
}

/// Bytes appendTimestampExtra adds.
inline int timestampExtraSize(qint64 mtime)
{
    return fitsTimestamp(mtime) ? 9 : 0;
}

/// The extended-timestamp field with the modification time, where it fits.
inline void appendTimestampExtra(QByteArray &out, qint64 mtime)
{
    if (!fitsTimestamp(mtime))
        return;
    put16(out, kExtendedTimestampId);
    put16(out, 5);
    out.append(char(1));
    put32(out, quint64(mtime));
}

/// Bytes appendZip64Extra adds for values (8 bytes each, as put64 wrote them).
inline int zip64ExtraSize(const QByteArray &values)
{
    return values.isEmpty() ? 0 : 4 + int(values.size());
}

/// The ZIP64 field holding values; nothing when there are none.
inline void appendZip64Extra(QByteArray &out, const QByteArray &values)
{
    if (values.isEmpty())
        return;
    put16(out, kZip64Id);
    put16(out, quint32(values.size()));
    out.append(values);
}

} // namespace ZipFormat
