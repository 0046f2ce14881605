#pragma once

#include <QByteArray>
#include <QMutex>
#include <QObject>
#include <QSettings>
#include <QString>
#include <QVariant>
#include <QVariantMap>
#include <memory>

namespace ovalis {

// The user's preferences: values stored through QSettings, falling back to
// defaults registered at startup. Registered defaults live in memory only and
// are never written to the store.
//
// Thread-safe: every method may be called from any thread. valueChanged is
// emitted on the thread that made the change, after the change is stored.
class Settings : public QObject
{
    Q_OBJECT

public:
    // Takes ownership of the store.
    explicit Settings(std::unique_ptr<QSettings> storage, QObject *parent = nullptr);
    ~Settings() override;

    // The application's settings (organisation "vantor", application "Ovalis").
    static Settings &shared();
    // Points the shared instance at another store and forgets its registered
    // defaults; nullptr returns it to the user's own settings. References to
    // shared() and connections to it stay valid.
    static void setSharedForTesting(std::unique_ptr<QSettings> storage);
    static void registerApplicationDefaults();

    // Merged into the defaults already registered; later registrations win.
    void registerDefaults(const QVariantMap &defaults);

    // The stored value, else the registered default, else an invalid QVariant.
    QVariant value(const QString &key) const;
    bool boolValue(const QString &key) const;
    QString stringValue(const QString &key) const;
    QByteArray dataValue(const QString &key) const;
    // True when value(key) is valid: stored or registered as a default.
    bool contains(const QString &key) const;

    // Setting an invalid QVariant removes the stored value.
    void setValue(const QString &key, const QVariant &value);
    // Removes the stored value; a registered default shows through again.
    void remove(const QString &key);

signals:
    void valueChanged(const QString &key);

private:
    void replaceStorage(std::unique_ptr<QSettings> storage);

    mutable QMutex m_mutex;
    std::unique_ptr<QSettings> m_storage; // Guarded by m_mutex.
    QVariantMap m_defaults; // Guarded by m_mutex.
};

} // namespace ovalis
