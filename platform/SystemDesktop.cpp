#include "Desktop.h"

#include <QClipboard>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGuiApplication>
#include <QUrl>

namespace {
QString startupId()
{
    for (const char *name : {"XDG_ACTIVATION_TOKEN", "DESKTOP_STARTUP_ID"})
        if (QString id = qEnvironmentVariable(name); !id.isEmpty())
            return id;
    return {};
}
} // namespace

SystemDesktop::SystemDesktop(UrlOpener openFolder, std::chrono::milliseconds revealWait)
    : m_openFolder(openFolder ? std::move(openFolder) : UrlOpener(&QDesktopServices::openUrl)), m_revealWait(revealWait)
{}

bool SystemDesktop::open(const QString &path)
{
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

bool SystemDesktop::reveal(const QString &path)
{
    const QUrl folder = QUrl::fromLocalFile(QFileInfo(path).path());
    const QString service = QStringLiteral("org.freedesktop.FileManager1");
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        const bool opened = m_openFolder(folder);
        if (opened && m_revealSettled)
            m_revealSettled(path, true);
        return opened;
    }
    // Sent to be started if need be: the bus starts a file manager that is installed but not
    // running, and answers at once with an error when there is none.
    QDBusMessage call = QDBusMessage::createMethodCall(service, QStringLiteral("/org/freedesktop/FileManager1"),
                                                       service, QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded)} << startupId();
    auto *answer = new QDBusPendingCallWatcher(bus.asyncCall(call, int(m_revealWait.count())));
    QObject::connect(
        answer, &QDBusPendingCallWatcher::finished, answer,
        [path, folder, openFolder = m_openFolder, settled = m_revealSettled](QDBusPendingCallWatcher *done) {
            done->deleteLater();
            const bool shown = !done->isError() || openFolder(folder);
            if (settled)
                settled(path, shown);
        });
    return true;
}

void SystemDesktop::copyText(const QString &text)
{
    if (QClipboard *clipboard = QGuiApplication::clipboard())
        clipboard->setText(text);
}
