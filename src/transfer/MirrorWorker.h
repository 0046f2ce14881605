#pragma once

#include <QObject>
#include <QString>
#include <atomic>

#include "transfer/LibraryMirror.h"
#include "transfer/PostgresConnection.h"

class QSocketNotifier;

namespace ovalis {

class CoreDataStack;

// The mirror service's thread: the mirror, and a second connection that
// listens for other machines' notifications.
class MirrorWorker : public QObject
{
    Q_OBJECT

public:
    explicit MirrorWorker(CoreDataStack *stack);

    // One sync; done tells how it went.
    void run(bool requested, bool media, bool allFiles, const QString &password, const QString &machine,
             std::atomic_bool *cancel);
    // Closes both connections.
    void finish();

signals:
    void progressed(const ovalis::LibraryMirror::Progress &progress);
    void done(const ovalis::LibraryMirror::Report &report, bool requested);
    void notified();

private:
    void listen();
    void stopListening();

    LibraryMirror m_mirror;
    PostgresConnection m_listener;
    QSocketNotifier *m_notifier = nullptr;
    QString m_password;
    QString m_server;
    bool m_opened = false;
};

} // namespace ovalis
