// SPDX-License-Identifier: GPL-3.0-or-later
#include "jobs/tauftraege.h"

#include "jobs/jobfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

QString upperAscii(const QString &text)
{
    QString out = text;
    for (QChar &c : out) {
        if (c >= u'a' && c <= u'z')
            c = QChar(c.unicode() - 'a' + 'A');
    }
    return out;
}

TAuftraege::TAuftraege(const QString &scriptsFolder)
    : m_scriptsFolder(scriptsFolder)
{
}

QStringList TAuftraege::loadAllJobs()
{
    while (!m_jobs.empty())
        m_jobs.pop_back(); // last to first

    QDir dir(m_scriptsFolder);
    QStringList names = dir.entryList({QStringLiteral("*.scr")},
                                      QDir::Files | QDir::Dirs | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    // The order of a case-insensitive file system, so both platforms list jobs alike.
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
        const int c = a.compare(b, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a < b;
    });

    QStringList messages;
    for (const QString &fileName : names) {
        auto job = std::make_unique<TAuftrag>();
        job->scriptsFolder = m_scriptsFolder;
        job->fileStem = fileName.left(fileName.size() - 4);
        QString message;
        if (!loadJob(*job, &message))
            messages.append(message);
        m_jobs.push_back(std::move(job));
    }
    return messages;
}

TAuftrag *TAuftraege::addNewJob(const QString &stem)
{
    auto job = std::make_unique<TAuftrag>();
    job->scriptsFolder = m_scriptsFolder;
    job->fileStem = stem;
    // A new job has no file yet; a file that cannot be read leaves the defaults, as a new job has them.
    (void)loadJob(*job);
    job->BackupVersion = QStringLiteral("3");
    m_jobs.push_back(std::move(job));
    return m_jobs.back().get();
}

QString TAuftraege::nextFreeStem() const
{
    for (int n = 0;; ++n) {
        const QString stem = QString::number(n);
        if (!QFileInfo::exists(m_scriptsFolder + u'/' + stem + QStringLiteral(".scr")))
            return stem;
    }
}

void TAuftraege::removeJobByStem(const QString &stem)
{
    for (auto it = m_jobs.begin(); it != m_jobs.end(); ++it) {
        if ((*it)->fileStem.compare(stem, Qt::CaseInsensitive) == 0) {
            m_jobs.erase(it);
            return;
        }
    }
}

void TAuftraege::removeJobByName(const QString &name)
{
    for (auto it = m_jobs.rbegin(); it != m_jobs.rend(); ++it) {
        if ((*it)->Name == name) {
            m_jobs.erase(std::next(it).base());
            return;
        }
    }
}

TAuftrag *TAuftraege::findJobByName(const QString &name) const
{
    const QString wanted = upperAscii(name);
    for (auto it = m_jobs.rbegin(); it != m_jobs.rend(); ++it) {
        if (upperAscii((*it)->Name) == wanted)
            return it->get();
    }
    return nullptr;
}

TAuftrag *TAuftraege::findJobByStem(const QString &stem) const
{
    for (const auto &job : m_jobs) {
        if (job->fileStem.compare(stem, Qt::CaseInsensitive) == 0)
            return job.get();
    }
    return nullptr;
}

bool TAuftraege::deleteJob(const QString &name, QString *errorMessage)
{
    // The job whose file is deleted is the one removed from the list: a job whose name
    // differs only in case must neither lose its file nor stay listed without one.
    auto found = std::find_if(m_jobs.rbegin(), m_jobs.rend(), [&](const auto &job) { return job->Name == name; });
    if (found == m_jobs.rend()) {
        const QString wanted = upperAscii(name);
        found = std::find_if(
            m_jobs.rbegin(), m_jobs.rend(), [&](const auto &job) { return upperAscii(job->Name) == wanted; });
    }
    if (found == m_jobs.rend())
        return true;
    QFile file((*found)->filePath());
    if (file.exists() && !file.remove()) {
        if (errorMessage)
            *errorMessage = QStringLiteral("Die Auftragsdatei %1 konnte nicht gelöscht werden: %2")
                                .arg(QDir::toNativeSeparators(file.fileName()), file.errorString());
        return false;
    }
    m_jobs.erase(std::next(found).base());
    return true;
}

int TAuftraege::countScheduledJobs() const
{
    return int(std::count_if(m_jobs.begin(), m_jobs.end(), [](const auto &job) { return job->autostart; }));
}
