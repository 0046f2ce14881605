#pragma once

#include <QCoreApplication>
#include <memory>

#include "transfer/MissingMediaManager.h"

namespace ovalis::test {

// A worklist set by the test; a refresh rebuilds it from `stillMissing`.
class ScriptedMissingMediaManager : public MissingMediaManager
{
public:
    void refreshMissingMedia(std::function<void()> completion) override
    {
        ++refreshes;
        clearMissingMedia();
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [this, completion, living = std::weak_ptr<bool>(alive)] {
                if (!living.lock())
                    return;
                setMissingMedia(int(stillMissing.size()) + unrequestable, stillMissing);
                if (completion)
                    completion();
            },
            Qt::QueuedConnection);
    }

    void storeReceivedFile(const QString &uuid, const QUrl &, std::function<void()> completion) override
    {
        stored.append(uuid);
        if (storeSucceeds)
            QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(completion), Qt::QueuedConnection);
    }

    QList<MissingMediaItem> stillMissing;
    int unrequestable = 0;
    int refreshes = 0;
    bool storeSucceeds = true;
    std::shared_ptr<bool> alive = std::make_shared<bool>(true); // gone with the manager
    QStringList stored;
};

} // namespace ovalis::test
