// SPDX-License-Identifier: GPL-3.0-or-later
// The section/key=value text files of job files and data-source lists.
#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

/**
 * A parsed INI text, read the way the Windows profile functions read it: section names and
 * keys without regard to letter case, the first occurrence of a key wins, a value is the
 * rest of the line after the first '=' and is cut to 2047 characters.
 */
class IniDocument
{
public:
    static constexpr int kMaxValueLength = 2047;

    IniDocument() = default;
    /// Parses decoded text; line ends may be CRLF, LF or CR.
    explicit IniDocument(const QString &text);
    /// Decodes bytes with TextCodec::decodeFileText and parses them.
    static IniDocument fromBytes(const QByteArray &bytes);

    bool hasSection(const QString &section) const;
    /// The value, or nullopt-like: *found false and an empty string when the key is missing.
    QString value(const QString &section, const QString &key, bool *found = nullptr) const;
    QString value(const QString &section, const QString &key, const QString &defaultValue) const;

private:
    struct Entry {
        QString section; // upper-cased
        QString key;     // upper-cased
        QString value;
    };
    QList<Entry> m_entries;
    QList<QString> m_sections; // upper-cased, in order of appearance
};

/**
 * Builds an INI text in write order: each section appears once, where it was first
 * written, holding its keys in the order written. Lines end with CRLF.
 */
class IniWriter
{
public:
    void write(const QString &section, const QString &key, const QString &value);
    QString text() const;

private:
    QList<QPair<QString, QList<QPair<QString, QString>>>> m_sections;
};
