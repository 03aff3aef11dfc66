// A stand-in file manager for the reveal tests: `fake_file_manager MODE-FILE LOG` owns
// org.freedesktop.FileManager1 on the session bus and writes each ShowItems call to LOG as
// "items|startup id". MODE-FILE says how it answers: "answer", "error", "silent" (never), or
// "exit" (it quits before owning the name).

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QFile>
#include <QTimer>

class FakeFileManager : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")

public:
    FakeFileManager(QByteArray mode, QString log) : m_mode(std::move(mode)), m_log(std::move(log)) {}

public slots:
    void ShowItems(const QStringList &items, const QString &startupId)
    {
        QFile log(m_log);
        if (log.open(QIODevice::Append))
            log.write((items.join(QLatin1Char(' ')) + QLatin1Char('|') + startupId + QLatin1Char('\n')).toUtf8());
        log.close();
        if (m_mode == "error")
            sendErrorReply(QDBusError::Failed, QStringLiteral("cannot show them"));
        else if (m_mode == "silent")
            setDelayedReply(true);
        // Gone once answered, so the next call starts a fresh one; a silent one is ended by the test.
        QTimer::singleShot(m_mode == "silent" ? 60000 : 0, qApp, &QCoreApplication::quit);
    }

private:
    QByteArray m_mode;
    QString m_log;
};

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QFile modeFile(app.arguments().value(1));
    const QByteArray mode = modeFile.open(QIODevice::ReadOnly) ? modeFile.readAll().trimmed() : QByteArray();
    if (argc != 3 || mode == "exit")
        return 1;
    FakeFileManager manager(mode, app.arguments().value(2));
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.registerObject(QStringLiteral("/org/freedesktop/FileManager1"), &manager, QDBusConnection::ExportAllSlots)
        || !bus.registerService(QStringLiteral("org.freedesktop.FileManager1")))
        return 1;
    return app.exec();
}

#include "fake_file_manager.moc"
