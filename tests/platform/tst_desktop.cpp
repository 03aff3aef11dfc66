// Reveal in File Manager against a file manager of our own on a private session bus.

#include "Desktop.h"
#include "TestFiles.h"
#include "TestMain.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

#include <signal.h>

namespace {
const QString FileManager = QStringLiteral("org.freedesktop.FileManager1");
}

class DesktopTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QProcess m_bus;

    QString path(const char *name) const { return m_dir.filePath(QString::fromLatin1(name)); }

private slots:
    // A bus that starts the fake file manager when asked for its name, as an installed file
    // manager is started; set up before anything in this process reaches for the session bus.
    void initTestCase()
    {
        const QByteArray dir = QFile::encodeName(m_dir.path());
        QVERIFY(writeFile(path("services/fm.service"),
                          "[D-BUS Service]\nName=org.freedesktop.FileManager1\nExec=" TWINFOLD_FAKE_FILE_MANAGER " "
                              + dir + "/mode " + dir + "/log\n"));
        QVERIFY(
            writeFile(path("bus.conf"),
                      "<busconfig><type>session</type><listen>unix:tmpdir=" + dir + "</listen><servicedir>" + dir
                          + "/services</servicedir><policy context=\"default\"><allow send_destination=\"*\"/><allow "
                            "receive_sender=\"*\"/><allow own=\"*\"/></policy></busconfig>"));
        m_bus.setStandardErrorFile(QProcess::nullDevice()); // it cannot raise its descriptor limit here
        m_bus.start(
            QStringLiteral("dbus-daemon"),
            {"--config-file=" + path("bus.conf"), QStringLiteral("--nofork"), QStringLiteral("--print-address")});
        if (!m_bus.waitForStarted(30000))
            QSKIP("dbus-daemon is not installed");
        QVERIFY(m_bus.waitForReadyRead(30000));
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_bus.readLine().trimmed());
        QVERIFY(QDBusConnection::sessionBus().isConnected());
    }
    void cleanupTestCase()
    {
        m_bus.kill();
        m_bus.waitForFinished(30000);
    }

    // The file manager is asked, started by the bus as an installed one is, with the startup id the
    // program has; the folder opens instead when it answers with an error, not at all, or cannot start.
    void revealAsksTheFileManagerElseOpensTheFolder_data()
    {
        QTest::addColumn<QByteArray>("mode");
        QTest::addColumn<bool>("asked");
        QTest::addColumn<bool>("folderOpened");
        QTest::newRow("installed, not running") << QByteArray("answer") << true << false;
        QTest::newRow("answers with an error") << QByteArray("error") << true << true;
        QTest::newRow("never answers") << QByteArray("silent") << true << true;
        QTest::newRow("cannot start") << QByteArray("exit") << false << true;
    }
    void revealAsksTheFileManagerElseOpensTheFolder()
    {
        QFETCH(QByteArray, mode);
        QFETCH(bool, asked);
        QFETCH(bool, folderOpened);
        QVERIFY(writeFile(path("mode"), mode));
        QFile::remove(path("log"));
        QDBusConnectionInterface &bus = *QDBusConnection::sessionBus().interface();
        QTRY_VERIFY_WITH_TIMEOUT(!bus.isServiceRegistered(FileManager), 30000); // the last row's has gone

        QList<QUrl> opened;
        std::optional<bool> shown;
        // Waits long for an answer, but not for one that never comes.
        SystemDesktop desktop(
            [&opened](const QUrl &url) {
                opened << url;
                return true;
            },
            std::chrono::milliseconds(mode == "silent" ? 1000 : 120000));
        desktop.setRevealSettled([&shown](const QString &, bool ok) { shown = ok; });
        qputenv("XDG_ACTIVATION_TOKEN", "token-" + mode);
        const QString picture = m_dir.filePath(QStringLiteral("50% off/a b.png"));
        QVERIFY(desktop.reveal(picture));
        qunsetenv("XDG_ACTIVATION_TOKEN");
        QTRY_VERIFY_WITH_TIMEOUT(shown.has_value(), 120000);
        QCOMPARE(*shown, true);
        QCOMPARE(opened,
                 folderOpened ? QList<QUrl>{QUrl::fromLocalFile(m_dir.filePath(QStringLiteral("50% off")))}
                              : QList<QUrl>());
        const QByteArray call = "file://" + QUrl::toPercentEncoding(picture, "/") + "|token-" + mode + '\n';
        QCOMPARE(readFile(path("log")), asked ? call : QByteArray("<unreadable>"));
        if (mode == "silent")
            ::kill(pid_t(bus.servicePid(FileManager).value()), SIGTERM);
    }
};

TWINFOLD_GUILESS_TEST_MAIN(DesktopTest)
#include "tst_desktop.moc"
