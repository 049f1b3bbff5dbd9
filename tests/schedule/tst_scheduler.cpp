// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/backuprun.h"
#include "jobs/jobfile.h"
#include "jobs/tauftraege.h"
#include "platform/archivecatalog.h"
#include "platform/clock.h"
#include "jobs/nextstart.h"
#include "schedule/scheduler.h"
#include "runfixture.h"
#include "scriptedrunhost.h"
#include "testutil.h"

#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using TestUtil::readFile;
using TestUtil::writeFile;

namespace {
const QDate kThursday(2026, 12, 10);

QDateTime at(int h, int m, int s = 0, int days = 0)
{
    return QDateTime(kThursday.addDays(days), QTime(h, m, s));
}
} // namespace

class TestScheduler : public QObject, private RunFixture
{
    Q_OBJECT

public:
    TestScheduler()
        : RunFixture(at(8, 0))
    {
    }

private:
    std::unique_ptr<BackupRun> m_run;
    std::unique_ptr<Scheduler> m_scheduler;
    QStringList m_started;

    TAuftrag &addJob(const QString &name, const QString &startzeit)
    {
        TAuftrag &job = makeJob(name);
        job.Proto = false;
        job.autostart = true;
        job.startzeit = startzeit;
        if (!saveJob(job)) // computes next_start with the test clock
            qFatal("job file not saved");
        return job;
    }

    // The two one-second timers of a second: the queue's first, then the clock's.
    void tick(const QDateTime &now)
    {
        m_clock.set(now);
        if (m_scheduler->checkNextEnabled)
            m_scheduler->checkNextTick();
        m_scheduler->autoStartTick(now);
    }

private slots:
    void initTestCase()
    {
        isolateSettings();
    }

    void init()
    {
        m_clock.set(at(8, 0));
        freshFolder();
        writeFile(path(QStringLiteral("quelle/a.txt")), "a");
        m_run = std::make_unique<BackupRun>(m_host, m_actions, *m_catalog);
        m_scheduler = std::make_unique<Scheduler>(*m_jobs, *m_run, m_host);
        m_run->setHooks(m_scheduler->runHooks());
        m_started.clear();
        m_scheduler->onStart = [this](TAuftrag &job) { m_started.append(job.Name + u'@' + Clock::now().toString(QStringLiteral("hh:mm:ss"))); };
        // The window's timers tick while a run keeps the window alive.
        m_host.onProcessEvents = [this](ScriptedRunHost &) { m_scheduler->autoStartTick(Clock::now()); };
    }

    void cleanup()
    {
        m_scheduler.reset();
        m_run.reset();
        finish();
    }

    void testDueJobStartsOnceInItsMinute()
    {
        TAuftrag &job = addJob(QStringLiteral("Abend"), QStringLiteral("14:30"));
        tick(at(14, 29, 59));
        QVERIFY(m_started.isEmpty());
        for (int s = 0; s < 60; ++s)
            tick(at(14, 30, s));
        QCOMPARE(m_started, QStringList{QStringLiteral("Abend@14:30:00")});
        QCOMPARE(job.next_start, at(14, 30, 0, 1)); // tomorrow, computed at the start
        QVERIFY(m_scheduler->runningAuftraege.isEmpty());
        QCOMPARE(m_scheduler->finishedAuftraege.size(), 1);
        QCOMPARE(m_scheduler->finishedAuftraege[0].count, 15);
        QCOMPARE(job.letzte_meldung, QStringLiteral("Erfolgreich. Kein Fehler!"));
    }

    void testSameStartTimeRunsOneAfterTheOther()
    {
        addJob(QStringLiteral("Erster"), QStringLiteral("14:30"));
        addJob(QStringLiteral("Zweiter"), QStringLiteral("14:30"));
        tick(at(14, 30, 0));
        // The later job of the list is checked first; the other one waits for it.
        QCOMPARE(m_started, QStringList{QStringLiteral("Zweiter@14:30:00")});
        QCOMPARE(m_scheduler->waitingAuftraege.size(), 1);
        tick(at(14, 30, 1));
        QCOMPARE(m_started, QStringList({QStringLiteral("Zweiter@14:30:00"), QStringLiteral("Erster@14:30:01")}));
        QVERIFY(!m_scheduler->checkNextEnabled);
        QVERIFY(m_scheduler->runningAuftraege.isEmpty());
    }

    void testUserRunQueuesDueJob_data()
    {
        QTest::addColumn<bool>("held");
        QTest::newRow("a run the user started") << false;
        QTest::newRow("the restore window is open") << true;
    }

    void testUserRunQueuesDueJob()
    {
        QFETCH(bool, held);
        addJob(QStringLiteral("Plan"), QStringLiteral("14:30"));
        bool busy = true;
        if (held)
            m_scheduler->isHeld = [&busy] { return busy; };
        else
            m_run->jobRunning = true;
        tick(at(14, 30, 0));
        tick(at(14, 30, 1));
        QVERIFY(m_started.isEmpty());
        QCOMPARE(m_scheduler->runningAuftraege, QStringList{QStringLiteral("0")});
        busy = false;
        m_run->jobRunning = false;
        tick(at(14, 30, 2));
        QCOMPARE(m_started, QStringList{QStringLiteral("Plan@14:30:02")});
    }

    void testMissedRuns_data()
    {
        QTest::addColumn<QString>("flags"); // confirm, autobackup, nobackup
        QTest::addColumn<Answer::Button>("answer");
        QTest::addColumn<bool>("asked");
        QTest::addColumn<bool>("queued");
        QTest::addColumn<bool>("moved");
        QTest::newRow("asked, yes") << "100" << Answer::Yes << true << true << false;
        QTest::newRow("asked, no") << "100" << Answer::No << true << false << true;
        QTest::newRow("made up silently") << "010" << Answer::None << false << true << false;
        QTest::newRow("dropped silently") << "001" << Answer::None << false << false << true;
        QTest::newRow("left alone") << "000" << Answer::None << false << false << false;
    }

    void testMissedRuns()
    {
        QFETCH(QString, flags);
        QFETCH(Answer::Button, answer);
        QFETCH(bool, asked);
        QFETCH(bool, queued);
        QFETCH(bool, moved);
        m_clock.set(at(9, 0, 0, -1));
        TAuftrag &job = addJob(QStringLiteral("Nacht"), QStringLiteral("22:00"));
        QCOMPARE(job.next_start, at(22, 0, 0, -1));
        job.lost_backup_confirm = flags[0] == u'1';
        job.lost_backup_autobackup = flags[1] == u'1';
        job.lost_backup_nobackup = flags[2] == u'1';
        m_host.answers = {answer};
        m_clock.set(at(8, 0));
        m_scheduler->handleMissedRuns(at(8, 0));
        QCOMPARE(m_host.questions.size(), asked ? 1 : 0);
        if (asked)
            QCOMPARE(m_host.questions[0].text,
                     QStringLiteral("Der Auftrag Nacht konnte am 9. Dez. 2026 - 22:00 nicht ausgeführt werden. \n\n"
                                    "Wahrscheinlich war der Copmputer ausgeschaltet. Hinweis: Sie können diese Meldung auch "
                                    "in den Einstellungen des Sicherungsauftrages ausschalten.\n\nMöchten Sie Ihn jetzt starten?"));
        QCOMPARE(m_scheduler->checkNextEnabled, queued);
        QCOMPARE(job.next_start == at(22, 0), moved);
        if (moved)
            QVERIFY(readFile(job.filePath()).contains("next_start=10.12.2026 22:00:00"));
        if (queued) {
            tick(at(8, 0, 1));
            QCOMPARE(m_started, QStringList{QStringLiteral("Nacht@08:00:01")});
            QCOMPARE(job.next_start, at(22, 0, 1)); // the made-up run keeps tonight's regular one
        }
    }

    void testSleptThroughStartMinute()
    {
        TAuftrag &job = addJob(QStringLiteral("Mittag"), QStringLiteral("12:00"));
        TAuftrag &none = addJob(QStringLiteral("Nie"), QStringLiteral("12:00"));
        none.mon = none.die = none.mit = none.don = none.fre = none.sam = none.son = false;
        none.next_start = at(12, 0); // as if computed before the days were unticked
        tick(at(11, 59, 58));
        // The computer sleeps from 11:59:58 to 12:07:10.
        m_host.answers = {Answer::Yes};
        tick(at(12, 7, 10));
        QCOMPARE(m_host.questions.size(), 1); // only for the job that would have started
        QVERIFY(m_host.questions[0].text.startsWith(QStringLiteral("Der Auftrag Mittag konnte am 10. Dez. 2026 - 12:00")));
        tick(at(12, 7, 11));
        QCOMPARE(m_started, QStringList{QStringLiteral("Mittag@12:07:11")});
        QCOMPARE(job.next_start.date(), kThursday.addDays(1));
        QVERIFY(none.next_start > at(12, 7, 11)); // moved on without a question
    }

    void testHoldOffLivesSixteenTicks()
    {
        m_scheduler->runningAuftraege = {QStringLiteral("7")};
        m_scheduler->jobFinished(QStringLiteral("7"));
        for (int i = 0; i < 15; ++i)
            m_scheduler->killTick();
        QCOMPARE(m_scheduler->finishedAuftraege.size(), 1);
        m_scheduler->killTick();
        QVERIFY(m_scheduler->finishedAuftraege.isEmpty());
        QVERIFY(m_scheduler->killEnabled);
        m_scheduler->killTick();
        QVERIFY(!m_scheduler->killEnabled);
    }

    void testHint()
    {
        QCOMPARE(m_scheduler->scheduleHint(), QStringLiteral("Trevalo - Kein geplanter Auftrag"));
        addJob(QStringLiteral("Eins"), QStringLiteral("10:00"));
        QCOMPARE(m_scheduler->scheduleHint(), QStringLiteral("Trevalo - 1 geplanter Auftrag"));
        addJob(QStringLiteral("Zwei"), QStringLiteral("10:00"));
        QCOMPARE(m_scheduler->scheduleHint(), QStringLiteral("Trevalo - 2 geplante Aufträge"));
        m_run->jobRunning = true;
        QCOMPARE(m_scheduler->scheduleHint(), QStringLiteral("Backupauftrag wird ausgeführt ..."));
        m_run->jobRunning = false;
    }

    void testHeadlessSchedulerRunsDueJob()
    {
        Clock::setInstance(nullptr);
        // Due in the next minute, by the real clock.
        const QDateTime due = QDateTime::currentDateTime().addSecs(60);
        const QString base = m_dir->path();
        writeFile(path(QStringLiteral("Scripts/0.scr")),
                  "[Einstellungen]\r\nName=Bald\r\nZiel=" + path(QStringLiteral("ziel")).toUtf8()
                      + "\r\nStart_Meldung=0\r\nbackup_ok_anzeigen=0\r\nproto=0\r\nautostart=1\r\nstartzeit="
                      + due.toString(QStringLiteral("hh:mm")).toLatin1() + "\r\n[Verzeichnisse]\r\nVerz1="
                      + path(QStringLiteral("quelle")).toUtf8() + "\r\n");
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), path(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_STATE_HOME"), path(QStringLiteral("state")));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir->path());
        QProcess scheduler;
        scheduler.setProcessEnvironment(env);
        scheduler.start(QStringLiteral(TREVALO_CLI), {QStringLiteral("--scripts-folder"), base, QStringLiteral("scheduler")});
        QVERIFY(scheduler.waitForStarted());
        QByteArray output;
        QTRY_VERIFY_WITH_TIMEOUT((output += scheduler.readAllStandardOutput()).contains("Zeitplaner gestartet"), 10000);

        // A second scheduler says so and ends.
        QString said;
        QCOMPARE(cli({QStringLiteral("scheduler")}, &said, 30000, [&](QProcess &p) { p.setProcessEnvironment(env); }), 2);
        QVERIFY(said.contains(QStringLiteral("bereits")));

        const QString copy = path(QStringLiteral("ziel/B-T01") + due.toString(QStringLiteral("yyMMdd"))
                                             + QStringLiteral("-Bald/root") + path(QStringLiteral("quelle/a.txt")));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(copy), 90000);
        QTRY_VERIFY_WITH_TIMEOUT((output += scheduler.readAllStandardOutput()).contains("Ende: Bald"), 10000);
        ::kill(pid_t(scheduler.processId()), SIGTERM);
        QVERIFY(scheduler.waitForFinished(10000));
        QCOMPARE(scheduler.exitCode(), 0);
        output += scheduler.readAllStandardOutput();
        QVERIFY2(output.contains("Start: Bald"), output.constData());
        QVERIFY(output.contains("Ende: Bald: Erfolgreich. Kein Fehler!"));
        QVERIFY(output.contains("Zeitplaner beendet."));
    }
};

QTEST_GUILESS_MAIN(TestScheduler)
#include "tst_scheduler.moc"
