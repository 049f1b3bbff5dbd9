// SPDX-License-Identifier: GPL-3.0-or-later
// What every test that runs jobs sets up: a folder of its own with the scripts folder, the job
// list, the archive-attribute catalog, a scripted user, recorded system actions and a fixed clock.
#pragma once

#include "engine/backuprun.h"
#include "jobs/jobfile.h"
#include "jobs/tauftraege.h"
#include "platform/archivecatalog.h"
#include "platform/clock.h"
#include "platform/filesystem.h"
#include "scriptedrunhost.h"
#include "testutil.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>

/**
 * Test classes derive from it: initTestCase() calls isolateSettings(), init() freshFolder(),
 * cleanup() finish(). makeJob() gives a job that saves the folder "quelle" into "ziel"
 * with its log in "log", without prompts; tests change what they need and save again.
 */
class RunFixture
{
protected:
    explicit RunFixture(const QDateTime &now)
        : m_clock(now)
    {
    }

    void isolateSettings()
    {
        m_settingsDir = TestUtil::isolateSettings();
    }

    void freshFolder()
    {
        Clock::setInstance(&m_clock);
        m_dir = std::make_unique<QTemporaryDir>();
        QDir().mkpath(path(QStringLiteral("Scripts")));
        m_jobs = std::make_unique<TAuftraege>(path(QStringLiteral("Scripts")));
        m_catalog = std::make_unique<ArchiveCatalog>();
        QVERIFY(m_catalog->open(path(QStringLiteral("state/catalog.sqlite"))));
        m_host = ScriptedRunHost();
        m_actions = RecordingActions();
    }

    /// Gives the clock back and removes the test's folder, also what is too deep for QTemporaryDir.
    void finish()
    {
        Clock::setInstance(nullptr);
        removeTree(m_dir->path());
    }

    static void removeTree(const QString &dir)
    {
        std::vector<Platform::DirEntry> entries;
        Platform::changeMode(dir, 0700);
        if (Platform::listDirectory(dir, &entries)) {
            for (const Platform::DirEntry &e : entries) {
                if (e.kind == Platform::FileStat::Directory && !e.isLink)
                    removeTree(dir + u'/' + e.name);
                else
                    Platform::removeFile(dir + u'/' + e.name);
            }
        }
        Platform::removeDirectory(dir);
    }

    QString path(const QString &rel) const
    {
        return m_dir->filePath(rel);
    }

    TAuftrag &makeJob(const QString &name = QStringLiteral("Test"))
    {
        TAuftrag *job = m_jobs->addNewJob(m_jobs->nextFreeStem());
        job->Name = name;
        job->Ziel = path(QStringLiteral("ziel"));
        job->proto_pfad = path(QStringLiteral("log"));
        job->Start_Meldung = false;
        job->backup_ok_anzeigen = false;
        job->sources.append({path(QStringLiteral("quelle")), QStringLiteral("*.*"), true});
        if (!saveJob(*job))
            qFatal("job file not saved");
        return *job;
    }

    /// Runs job as the user's "Starten" does, on state or on a run of its own.
    BackupRun::Outcome run(TAuftrag &job, BackupRun *state = nullptr)
    {
        BackupRun local(m_host, m_actions, *m_catalog);
        BackupRun &r = state ? *state : local;
        r.startAuftrag(job, BackupRun::StartedBy::User);
        return r.outcome;
    }

    QString logText() const
    {
        return QString::fromUtf8(TestUtil::readFile(path(QStringLiteral("log/protokoll.txt"))));
    }

    /**
     * trevalo-cli on the test's scripts folder, with the test's settings and state and no
     * terminal: its exit code (-1 when it did not end in time) and what it printed on both
     * channels. prepare may change the process before it starts.
     */
    int cli(const QStringList &args,
            QString *output = nullptr,
            int timeoutMs = 120000,
            const std::function<void(QProcess &)> &prepare = {}) const
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), path(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_STATE_HOME"), path(QStringLiteral("state")));
        env.insert(QStringLiteral("HOME"), path(QStringLiteral("home")));
        p.setProcessEnvironment(env);
        p.setStandardInputFile(QProcess::nullDevice());
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.setProgram(QStringLiteral(TREVALO_CLI));
        p.setArguments(QStringList{QStringLiteral("--scripts-folder"), m_dir->path()} + args);
        if (prepare)
            prepare(p);
        p.start();
        if (!p.waitForFinished(timeoutMs)) {
            p.kill();
            p.waitForFinished(5000);
            return -1;
        }
        if (output)
            *output = QString::fromUtf8(p.readAll());
        return p.exitCode();
    }

    std::unique_ptr<QTemporaryDir> m_settingsDir;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<TAuftraege> m_jobs;
    std::unique_ptr<ArchiveCatalog> m_catalog;
    ScriptedRunHost m_host;
    RecordingActions m_actions;
    FixedClock m_clock;
};
