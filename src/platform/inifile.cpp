// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/inifile.h"

#include "platform/textcodec.h"

IniDocument::IniDocument(const QString &text)
{
    QString section;
    bool inSection = false;
    qsizetype pos = 0;
    const qsizetype n = text.size();
    while (pos < n) {
        qsizetype end = pos;
        while (end < n && text[end] != u'\r' && text[end] != u'\n')
            ++end;
        const QString line = text.mid(pos, end - pos);
        pos = end;
        if (pos < n && text[pos] == u'\r')
            ++pos;
        if (pos < n && text[pos] == u'\n')
            ++pos;

        const QString trimmed = line.trimmed();
        if (trimmed.startsWith(u'[')) {
            const qsizetype close = trimmed.indexOf(u']');
            section = (close < 0 ? trimmed.mid(1) : trimmed.mid(1, close - 1)).trimmed().toUpper();
            inSection = true;
            if (!m_sections.contains(section))
                m_sections.append(section);
            continue;
        }
        const qsizetype eq = line.indexOf(u'=');
        if (!inSection || eq < 0)
            continue;
        const QString key = line.left(eq).trimmed().toUpper();
        if (key.isEmpty())
            continue;
        m_entries.append({section, key, line.mid(eq + 1).left(kMaxValueLength)});
    }
}

IniDocument IniDocument::fromBytes(const QByteArray &bytes)
{
    return IniDocument(TextCodec::decodeFileText(bytes));
}

bool IniDocument::hasSection(const QString &section) const
{
    return m_sections.contains(section.toUpper());
}

QString IniDocument::value(const QString &section, const QString &key, bool *found) const
{
    const QString s = section.toUpper();
    const QString k = key.toUpper();
    for (const Entry &e : m_entries) {
        if (e.section == s && e.key == k) {
            if (found)
                *found = true;
            return e.value;
        }
    }
    if (found)
        *found = false;
    return QString();
}

QString IniDocument::value(const QString &section, const QString &key, const QString &defaultValue) const
{
    bool found = false;
    QString v = value(section, key, &found);
    return found ? v : defaultValue;
}

void IniWriter::write(const QString &section, const QString &key, const QString &rawValue)
{
    // A line break inside a value would end it and turn the rest into a stray line.
    QString value = rawValue;
    value.replace(u'\r', u' ').replace(u'\n', u' ');
    for (auto &s : m_sections) {
        if (s.first.compare(section, Qt::CaseInsensitive) == 0) {
            s.second.append({key, value});
            return;
        }
    }
    m_sections.append({section, {{key, value}}});
}

QString IniWriter::text() const
{
    QString out;
    for (const auto &s : m_sections) {
        out += u'[' + s.first + QStringLiteral("]\r\n");
        for (const auto &kv : s.second)
            out += kv.first + u'=' + kv.second + QStringLiteral("\r\n");
    }
    return out;
}
