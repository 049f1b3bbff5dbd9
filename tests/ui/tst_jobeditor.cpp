// SPDX-License-Identifier: GPL-3.0-or-later
// The job editor and its dialogs on the offscreen platform.
#include "jobs/tauftrag.h"
#include "testutil.h"
#include "ui/databasedialogs.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QTest>

namespace
{

template <typename T> T *child(const QWidget *parent, const char *name)
{
    T *w = parent->findChild<T *>(QString::fromLatin1(name));
    if (!w)
        qFatal("no widget %s", name);
    return w;
}

TODBC_DB entry(const QString &name, const QString &login = QStringLiteral("nein"))
{
    TODBC_DB e;
    e.DB_Name = name;
    e.DB_Login = login;
    e.DB_User = name + QStringLiteral("-user");
    e.DB_Pass = name + QStringLiteral("-pass");
    e.DB_Host = QStringLiteral("db.example");
    e.DB_Port = QStringLiteral("3307");
    e.DB_DBName = name.toLower();
    return e;
}

} // namespace

class TestJobEditor : public QObject
{
    Q_OBJECT

private slots:
    void testAccessDialogKeepsEveryValueAndTheLoginRule()
    {
        DatabaseAccessDialog dialog;
        TODBC_DB e = entry(QStringLiteral("Kunden"), QStringLiteral("ja"));
        e.DB_TLS = QStringLiteral("ja");
        dialog.setEntry(e);
        auto *user = child<QLineEdit>(&dialog, "dbUserEdit");
        auto *password = child<QLineEdit>(&dialog, "dbPasswordEdit");
        auto *login = child<QCheckBox>(&dialog, "dbLoginCheckBox");
        QVERIFY(login->isChecked());
        QVERIFY(!user->isEnabled() && !password->isEnabled());
        QCOMPARE(password->echoMode(), QLineEdit::Password);
        // Asked at every connect, the stored user and password are still kept.
        const TODBC_DB back = dialog.entry();
        QCOMPARE(back.DB_User, e.DB_User);
        QCOMPARE(back.DB_Pass, e.DB_Pass);
        QCOMPARE(back.DB_Login, QStringLiteral("ja"));
        QCOMPARE(back.DB_TLS, QStringLiteral("ja"));
        QCOMPARE(back.DB_Port, QStringLiteral("3307"));
        login->setChecked(false);
        QVERIFY(user->isEnabled() && password->isEnabled());
        QCOMPARE(dialog.entry().DB_Login, QStringLiteral("nein"));

        // A port is taken as typed; nothing is checked.
        child<QLineEdit>(&dialog, "dbPortEdit")->setText(QStringLiteral("abc"));
        child<QCheckBox>(&dialog, "dbTlsCheckBox")->setChecked(false);
        QCOMPARE(dialog.entry().DB_Port, QStringLiteral("abc"));
        QCOMPARE(dialog.entry().DB_TLS, QString());
        QVERIFY(child<QLineEdit>(&dialog, "dbHostEdit")->toolTip().contains(u"\n\nBeispiel:  \""));
    }

    void testChooser_data()
    {
        QTest::addColumn<QString>("preset");
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("host");
        QTest::newRow("preset entry") << "Lager" << 1 << "db.example";
        QTest::newRow("unknown name") << "Fehlt" << -1 << "";
    }

    void testChooser()
    {
        QFETCH(QString, preset);
        QFETCH(int, index);
        QFETCH(QString, host);
        TAuftrag job;
        job.databases = { entry(QStringLiteral("Kunden")), entry(QStringLiteral("Lager")) };
        DatabaseChooserDialog chooser;
        chooser.setPresetName(preset);
        chooser.fill(&job);
        auto *combo = child<QComboBox>(&chooser, "dbChoiceCombo");
        QCOMPARE(combo->count(), 2);
        QCOMPARE(combo->itemText(0), QStringLiteral("Kunden"));
        QCOMPARE(combo->currentIndex(), index);
        QCOMPARE(chooser.access().DB_Host, host);
        QCOMPARE(chooser.access().DB_DBName, index < 0 ? QString() : QStringLiteral("lager"));
        QVERIFY(!child<QLineEdit>(&chooser, "dbNameEdit")->isVisibleTo(&chooser));

        // Inputs are off until "Zugang manuell bearbeiten" is ticked, and the box stays for the next use.
        auto *hostEdit = child<QLineEdit>(&chooser, "dbHostEdit");
        QVERIFY(!hostEdit->isEnabled());
        chooser.setManualEdit(true);
        QVERIFY(hostEdit->isEnabled() && child<QLineEdit>(&chooser, "dbPasswordEdit")->isEnabled());
        hostEdit->setText(QStringLiteral("127.0.0.1"));
        QCOMPARE(chooser.access().DB_Host, QStringLiteral("127.0.0.1"));
        chooser.fill(nullptr);
        QCOMPARE(combo->count(), 0);
        QVERIFY(chooser.manualEdit() && hostEdit->isEnabled());
        QCOMPARE(chooser.access().DB_Host, QString());
    }
};

QTEST_MAIN(TestJobEditor)
#include "tst_jobeditor.moc"
