#include "app/MirrorPasswordStore.h"

#include <qt6keychain/keychain.h>

#include "util/Log.h"

namespace ovalis {

namespace {

const QString serviceName = QStringLiteral("Ovalis");

class KeychainPasswordStore : public MirrorPasswordStore
{
public:
    void read(const QString &conninfo, QObject *context, std::function<void(const QString &)> done) override
    {
        auto *job = new QKeychain::ReadPasswordJob(serviceName);
        job->setKey(entryName(conninfo));
        start(job, context, [done](QKeychain::Job *finished) {
            auto *reading = static_cast<QKeychain::ReadPasswordJob *>(finished);
            if (reading->error() != QKeychain::NoError && reading->error() != QKeychain::EntryNotFound)
                Log::error(LogArea::Networking, QStringLiteral("The mirror password cannot be read: ") + reading->errorString());
            done(reading->error() == QKeychain::NoError ? reading->textData() : QString());
        });
    }

    void write(const QString &conninfo, const QString &password, QObject *context,
               std::function<void(bool, const QString &)> done) override
    {
        QKeychain::Job *job;
        if (password.isEmpty()) {
            job = new QKeychain::DeletePasswordJob(serviceName);
        } else {
            auto *writing = new QKeychain::WritePasswordJob(serviceName);
            writing->setTextData(password);
            job = writing;
        }
        job->setKey(entryName(conninfo));
        const bool removing = password.isEmpty();
        start(job, context, [done, removing](QKeychain::Job *finished) {
            // Removing an entry that is not there leaves the store as wanted.
            const bool ok = finished->error() == QKeychain::NoError
                            || (removing && finished->error() == QKeychain::EntryNotFound);
            if (!ok)
                Log::error(LogArea::Networking, QStringLiteral("The mirror password cannot be stored: ") + finished->errorString());
            if (done)
                done(ok, ok ? QString() : finished->errorString());
        });
    }

private:
    static void start(QKeychain::Job *job, QObject *context, std::function<void(QKeychain::Job *)> finished)
    {
        job->setInsecureFallback(false);
        job->setAutoDelete(true);
        QObject::connect(job, &QKeychain::Job::finished, context, std::move(finished));
        job->start();
    }
};

} // namespace

std::unique_ptr<MirrorPasswordStore> MirrorPasswordStore::keychain()
{
    return std::make_unique<KeychainPasswordStore>();
}

} // namespace ovalis
