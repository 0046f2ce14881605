#include "media/FileManagerReveal.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QFileInfo>

#include "util/Log.h"

namespace ovalis {

namespace {

void openFolderOf(const QUrl &file)
{
    const QUrl folder = QUrl::fromLocalFile(QFileInfo(file.toLocalFile()).absolutePath());
    if (!QDesktopServices::openUrl(folder))
        Log::error(LogArea::UI, QStringLiteral("Unable to open folder ") + folder.toString());
}

} // namespace

void FileManagerReveal::reveal(const QList<QUrl> &files)
{
    if (files.isEmpty())
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        openFolderOf(files.first());
        return;
    }
    QStringList uris;
    for (const QUrl &file : files)
        uris.append(file.toString(QUrl::FullyEncoded));
    QDBusMessage message = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    message << uris << QString();
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(message));
    const QUrl first = files.first();
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [first](QDBusPendingCallWatcher *call) {
        if (call->isError())
            openFolderOf(first);
        call->deleteLater();
    });
}

} // namespace ovalis
