// SPDX-License-Identifier: GPL-3.0-or-later
// Hostile but ordinary file trees through trevalo-cli: backed up, copied or packed, and
// restored with every name's exact bytes, every file's content, time and mode.
#include "bytetree.h"
#include "runfixture.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

constexpr qint64 kMtime = 1262304000; // 2010-01-01

// Names that are bytes, not UTF-8; look-alikes; a backslash; brackets; "%1"; an empty folder;
// and a file below a path longer than one system call takes.
ByteTree::Tree hostileTree()
{
    const QByteArray deepFolder = QByteArray(250, 'd');
    QByteArray deep;
    for (int i = 0; i < 18; ++i)
        deep += deepFolder + QByteArray::number(i % 10) + '/';
    const QList<QPair<QByteArray, QByteArray>> files = {
        {"B\xfcro/brief.txt", "Latin-1-Ordner"},
        {"\xff.txt", "ein Byte"},
        {"\xef\xbf\xbd.txt", "das Ersatzzeichen"},
        {"\xff\xfe.txt", "zwei Bytes"},
        {"a\\b.txt", "Rückstrich"},
        {"Liste[1].txt", "Klammern"},
        {"Ordner %1/Datei %2.txt", "Platzhalter"},
        {deep + "tief.txt", "tief"},
    };
    ByteTree::Tree tree;
    for (const auto &f : files) {
        ByteTree::Node n;
        n.content = f.second;
        n.mtime = kMtime;
        n.mode = 0640;
        tree.insert(f.first, n);
        // Every folder on the way.
        for (qsizetype slash = f.first.indexOf('/'); slash >= 0; slash = f.first.indexOf('/', slash + 1)) {
            ByteTree::Node folder;
            folder.folder = true;
            tree.insert(f.first.left(slash), folder);
        }
    }
    ByteTree::Node empty;
    empty.folder = true;
    tree.insert("leer", empty);
    return tree;
}

void makeTree(const QByteArray &root, const ByteTree::Tree &tree)
{
    for (auto it = tree.begin(); it != tree.end(); ++it) {
        if (it->folder)
            QVERIFY(ByteTree::makeFolder(root, it.key()));
        else
            QVERIFY(ByteTree::write(root, it.key(), it->content, it->mtime));
    }
}

} // namespace

class TestRoundTrip : public QObject, private RunFixture
{
    Q_OBJECT

public:
    TestRoundTrip()
        : RunFixture(QDateTime(QDate(2026, 12, 10), QTime(21, 30)))
    {
    }

private slots:
    void initTestCase()
    {
        isolateSettings();
    }

    void init()
    {
        freshFolder();
    }

    void cleanup()
    {
        finish();
    }

    void testHostileTrees_data()
    {
        QTest::addColumn<bool>("packed");
        QTest::addColumn<QString>("setCode");
        QTest::addColumn<QString>("summary");
        QTest::newRow("copied") << false << "B-T01" << "Es wurden 8 Dateien mit 0,00 MB gesichert.";
        QTest::newRow("zipped") << true << "B-T03"
                                << "Es wurden 8 Dateien mit 0,00 MB in 4 komprimierten Archiven mit 0,00 MB gesichert.";
    }

    void testHostileTrees()
    {
        QFETCH(bool, packed);
        QFETCH(QString, setCode);
        QFETCH(QString, summary);
        const QString row = QString::fromLatin1(QTest::currentDataTag());
        const QString source = path(QStringLiteral("quelle"));
        const ByteTree::Tree tree = hostileTree();
        QDir().mkpath(source);
        makeTree(QFile::encodeName(source), tree);
        QCOMPARE(ByteTree::read(QFile::encodeName(source)), tree);

        TAuftrag *job = &makeJob(row);
        job->sources = {{source, QStringLiteral("*.*"), true}};
        job->komprimieren = packed;
        QVERIFY(saveJob(*job));

        QString output;
        QCOMPARE(cli({QStringLiteral("run"), row}, &output), 0);
        const QString log = QString::fromUtf8(TestUtil::readFile(job->proto_pfad + QStringLiteral("/protokoll.txt")));
        QVERIFY2(log.contains(QStringLiteral("Es trat kein Fehler auf.")), qPrintable(log));
        QVERIFY2(log.contains(summary), qPrintable(log));
        // The log shows the bytes of a name that is not UTF-8 readably.
        QVERIFY2(log.contains(QStringLiteral("B\\xFCro")), qPrintable(log));

        const QStringList sets = QDir(job->Ziel).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        QCOMPARE(sets.size(), 1);
        QVERIFY(sets.first().startsWith(setCode));
        const QString set = job->Ziel + u'/' + sets.first();
        if (!packed)
            QCOMPARE(ByteTree::read(QFile::encodeName(set + QStringLiteral("/root") + source)), tree);

        const QString back = path(QStringLiteral("zurueck"));
        const int restored = cli({QStringLiteral("restore"), job->Ziel, QStringLiteral("--set"), sets.first(),
                                  QStringLiteral("--to"), back},
                                 &output);
        QVERIFY2(restored == 0, qPrintable(output));
        QCOMPARE(ByteTree::read(QFile::encodeName(back + QStringLiteral("/root") + source)), tree);
    }
};

QTEST_GUILESS_MAIN(TestRoundTrip)
#include "tst_roundtrip.moc"
