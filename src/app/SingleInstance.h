#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class QLocalServer;

namespace ovalis {

// Keeps one running copy of the application per user and library. The first
// process to claim a key listens on a local socket; a later launch finds it
// there, asks it to come forward and exits.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    explicit SingleInstance(const QString &libraryDirectory, QObject *parent = nullptr);
    ~SingleInstance() override;

    // True when this process is the first with the key: it listens from now
    // on, replacing a socket left behind by a process that crashed. False when
    // another process is listening: that process has been asked to show its
    // library window and open files (absolute paths), if any. Blocks for at
    // most a few seconds; call once.
    bool claim(const QString &key, const QStringList &files = {});

    // The socket name for the key: the key, the user id and a digest of the
    // library directory, so that other users and other libraries do not meet.
    QString serverName(const QString &key) const;

signals:
    // Another launch connected while this process was listening. Emitted on
    // this object's thread, from its event loop.
    void activationRequested();
    // A later launch was given files to open (absolute paths, in order).
    void openFilesRequested(const QStringList &files);

private:
    bool askRunningInstance(const QString &name, const QStringList &files);
    void acceptConnections();

    QString m_libraryDirectory;
    QLocalServer *m_server = nullptr; // Owned (child).
};

} // namespace ovalis
