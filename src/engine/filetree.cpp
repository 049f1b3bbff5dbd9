// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/filetree.h"

#include <algorithm>

namespace FileTree {

namespace {

// Case-insensitive glob match with backtracking over the last '*'.
bool globMatch(QStringView pattern, QStringView name)
{
    qsizetype p = 0, n = 0, starP = -1, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == u'?' || pattern[p] == name[n])) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == u'*') {
            starP = p++;
            starN = n;
        } else if (starP >= 0) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*')
        ++p;
    return p == pattern.size();
}

} // namespace

bool listDirectory(const QString &dir,
                   std::vector<Entry> *entries,
                   QString *error,
                   Platform::ListDetail detail,
                   const std::function<void()> &keepAlive)
{
    if (!Platform::listDirectory(dir, entries, error, detail, keepAlive))
        return false;
    const auto less = [](const Entry &a, const Entry &b) {
        const int c = a.name.compare(b.name, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a.name < b.name;
    };
    constexpr size_t kPiece = 4096;
    const size_t n = entries->size();
    if (!keepAlive || n <= 2 * kPiece) {
        std::sort(entries->begin(), entries->end(), less);
        return true;
    }
    // 100,000 names take longer to sort than a window may wait: pieces first, then merged, with its events
    // handled in between.
    const auto at = [entries](size_t i) { return entries->begin() + std::ptrdiff_t(i); };
    for (size_t from = 0; from < n; from += kPiece) {
        std::sort(at(from), at(std::min(from + kPiece, n)), less);
        keepAlive();
    }
    for (size_t width = kPiece; width < n; width *= 2) {
        for (size_t from = 0; from + width < n; from += 2 * width) {
            std::inplace_merge(at(from), at(from + width), at(std::min(from + 2 * width, n)), less);
            keepAlive();
        }
    }
    return true;
}

QStringList splitMasks(const QString &filter)
{
    return filter.split(u';', Qt::SkipEmptyParts);
}

Mask::Mask(const QString &pattern)
    : m_pattern(pattern.toCaseFolded())
    , m_all(pattern == QLatin1String("*") || pattern == QLatin1String("*.*"))
{
}

QList<Mask> compileMasks(const QStringList &masks)
{
    QList<Mask> compiled;
    for (const QString &m : masks)
        compiled.append(Mask(m));
    return compiled;
}

bool Mask::matches(const QString &name) const
{
    if (m_all)
        return true;
    return globMatch(m_pattern, name.toCaseFolded());
}

bool copyFile(const QString &source,
              const QString &target,
              const std::function<void()> &keepAlive,
              Platform::FileStat *sourceStat,
              QString *error,
              Platform::NewCopy newCopy)
{
    return Platform::copyFile(source, target, keepAlive, sourceStat, error, newCopy);
}

} // namespace FileTree
