#include "util/Settings.h"

#include <QCoreApplication>
#include <QMutexLocker>
#include <QThread>
#include <utility>

namespace ovalis {

namespace {

std::unique_ptr<QSettings> applicationStorage()
{
    return std::make_unique<QSettings>(QStringLiteral("vantor"), QStringLiteral("Ovalis"));
}

} // namespace

Settings::Settings(std::unique_ptr<QSettings> storage, QObject *parent)
    : QObject(parent)
    , m_storage(storage ? std::move(storage) : applicationStorage())
{
}

Settings::~Settings() = default;

Settings &Settings::shared()
{
    // Never destroyed, so that it outlives every static that reads it at exit.
    static Settings *instance = [] {
        auto *settings = new Settings(applicationStorage());
        // The first caller may be a worker thread; the object belongs with the application.
        if (QCoreApplication *app = QCoreApplication::instance(); app && settings->thread() != app->thread())
            settings->moveToThread(app->thread());
        return settings;
    }();
    return *instance;
}

void Settings::setSharedForTesting(std::unique_ptr<QSettings> storage)
{
    shared().replaceStorage(storage ? std::move(storage) : applicationStorage());
}

void Settings::registerApplicationDefaults()
{
    shared().registerDefaults({
        {QStringLiteral("Recognise_NZ_NHIs"), true},
    });
}

void Settings::replaceStorage(std::unique_ptr<QSettings> storage)
{
    std::unique_ptr<QSettings> previous;
    {
        QMutexLocker locker(&m_mutex);
        previous = std::exchange(m_storage, std::move(storage));
        m_defaults.clear();
    }
    if (previous)
        previous->sync();
}

void Settings::registerDefaults(const QVariantMap &defaults)
{
    QMutexLocker locker(&m_mutex);
    for (auto it = defaults.cbegin(); it != defaults.cend(); ++it)
        m_defaults.insert(it.key(), it.value());
}

QVariant Settings::value(const QString &key) const
{
    QMutexLocker locker(&m_mutex);
    QVariant stored = m_storage->value(key);
    if (stored.isValid())
        return stored;
    return m_defaults.value(key);
}

bool Settings::boolValue(const QString &key) const
{
    return value(key).toBool();
}

QString Settings::stringValue(const QString &key) const
{
    return value(key).toString();
}

QByteArray Settings::dataValue(const QString &key) const
{
    return value(key).toByteArray();
}

bool Settings::contains(const QString &key) const
{
    QMutexLocker locker(&m_mutex);
    return m_storage->contains(key) || m_defaults.contains(key);
}

void Settings::setValue(const QString &key, const QVariant &value)
{
    if (!value.isValid()) {
        remove(key);
        return;
    }
    {
        QMutexLocker locker(&m_mutex);
        m_storage->setValue(key, value);
        m_storage->sync();
    }
    emit valueChanged(key);
}

void Settings::remove(const QString &key)
{
    {
        QMutexLocker locker(&m_mutex);
        m_storage->remove(key);
        m_storage->sync();
    }
    emit valueChanged(key);
}

} // namespace ovalis
