#include <QSet>
#include <QUuid>
#include <gtest/gtest.h>
#include <thread>

#include "store/MediaUuid.h"

using namespace ovalis;

TEST(MediaUuidTest, NewUuidsAreUpperCaseVersionFourAndDistinctAcrossThreads)
{
    constexpr int perThread = 20000;
    QList<QString> made[4];
    std::vector<std::thread> threads;
    for (QList<QString> &list : made)
        threads.emplace_back([&list] {
            for (int i = 0; i < perThread; ++i)
                list.append(MediaUuid::generate());
        });
    for (std::thread &thread : threads)
        thread.join();
    QSet<QString> distinct;
    int version4 = 0;
    for (const QList<QString> &list : made)
        for (const QString &text : list) {
            distinct.insert(text);
            ASSERT_TRUE(MediaUuid::isValid(text)) << text.toStdString();
            ASSERT_EQ(MediaUuid::canonical(text), text) << "not upper case: " << text.toStdString();
            const QUuid uuid(text);
            version4 += uuid.version() == QUuid::Random && uuid.variant() == QUuid::DCE;
        }
    EXPECT_EQ(distinct.size(), 4 * perThread);
    EXPECT_EQ(version4, 4 * perThread);
}
