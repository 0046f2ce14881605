#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QMutex>
#include <QThread>
#include <gtest/gtest.h>

#include "exchange/EncodedCase.h"
#include "exchange/LabelledProgressInfo.h"
#include "support/StoreFixture.h"
#include "util/NotificationCenter.h"

namespace ovalis {

// Failures show a record as its JSON.
inline void PrintTo(const EncodedCase &record, std::ostream *os)
{
    QString text;
    record.appendJson(text, 2);
    *os << text.toStdString();
}

} // namespace ovalis

namespace ovalis::test {

// A library, and the progress posts of the imports and exports run on it.
class ExchangeFixture : public StoreFixture
{
protected:
    struct Progress {
        int count;
        int total;
        std::optional<QString> label;
        friend bool operator==(const Progress &, const Progress &) = default;
        friend std::ostream &operator<<(std::ostream &os, const Progress &p)
        {
            return os << p.count << "/" << p.total << " " << (p.label ? p.label->toStdString() : "(no label)");
        }
    };

    void SetUp() override
    {
        StoreFixture::SetUp();
        m_progressToken = NotificationCenter::defaultCenter().addObserver(
            LabelledProgressInfo::notificationName, nullptr, [this](const Notification &notification) {
                const QVariantMap &info = notification.userInfo;
                QMutexLocker locker(&m_progressMutex);
                m_progress.push_back({info.value(LabelledProgressInfo::count).toInt(), info.value(LabelledProgressInfo::total).toInt(),
                                      info.contains(LabelledProgressInfo::label)
                                          ? std::optional<QString>(info.value(LabelledProgressInfo::label).toString())
                                          : std::nullopt});
            });
    }

    void TearDown() override
    {
        m_progressToken.reset();
        StoreFixture::TearDown();
    }

    std::vector<Progress> progress() const
    {
        QMutexLocker locker(&m_progressMutex);
        return m_progress;
    }

    // Runs the main thread's events until done is set (a background run posts
    // its end there), failing after a generous minute.
    static void waitFor(const bool &done)
    {
        QDeadlineTimer deadline(60000);
        while (!done && !deadline.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            QThread::yieldCurrentThread();
        }
        ASSERT_TRUE(done) << "the background run did not finish";
    }

    QList<Case *> allCases() { return fetchCases(QString()); }
    QStringList tagLabels()
    {
        QStringList labels;
        for (ManagedObject *object : context()->arrayOfObjects(Tag::entityName()))
            labels.append(static_cast<Tag *>(object)->label());
        labels.sort();
        return labels;
    }
    // The labels of a case's tags, sorted.
    static QStringList labelsOf(const Case *item)
    {
        QStringList labels;
        for (const Tag *tag : item->tags())
            labels.append(tag->label());
        labels.sort();
        return labels;
    }

    mutable QMutex m_progressMutex;
    std::vector<Progress> m_progress;
    ObserverToken m_progressToken;
};

} // namespace ovalis::test
