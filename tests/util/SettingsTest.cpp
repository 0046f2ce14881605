#include "util/Settings.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

using namespace ovalis;

namespace {

class SettingsTest : public ::testing::Test
{
protected:
    std::unique_ptr<QSettings> storage(const QString &name = QStringLiteral("settings.ini")) const
    {
        return std::make_unique<QSettings>(dir.filePath(name), QSettings::IniFormat);
    }

    QTemporaryDir dir;
};

TEST_F(SettingsTest, StoredValuesWinOverDefaultsWhichAreNeverWritten)
{
    Settings settings(storage());

    EXPECT_FALSE(settings.contains(QStringLiteral("ShowSidebar")));
    EXPECT_FALSE(settings.value(QStringLiteral("ShowSidebar")).isValid());
    EXPECT_FALSE(settings.boolValue(QStringLiteral("ShowSidebar")));
    EXPECT_TRUE(settings.stringValue(QStringLiteral("LastCase")).isEmpty());
    EXPECT_TRUE(settings.dataValue(QStringLiteral("WindowState")).isEmpty());

    settings.registerDefaults({{QStringLiteral("ShowSidebar"), true}, {QStringLiteral("LastCase"), QStringLiteral("none")}});
    settings.registerDefaults({{QStringLiteral("LastCase"), QStringLiteral("first")}});
    EXPECT_TRUE(settings.contains(QStringLiteral("ShowSidebar")));
    EXPECT_TRUE(settings.boolValue(QStringLiteral("ShowSidebar")));
    EXPECT_EQ(settings.stringValue(QStringLiteral("LastCase")), QStringLiteral("first"));

    settings.setValue(QStringLiteral("ShowSidebar"), false);
    EXPECT_FALSE(settings.boolValue(QStringLiteral("ShowSidebar")));

    const QByteArray state("\x00\x01\xff geometry", 13);
    settings.setValue(QStringLiteral("WindowState"), state);
    EXPECT_EQ(settings.dataValue(QStringLiteral("WindowState")), state);

    // Another reader of the same file sees what was stored and none of the defaults.
    QSettings file(dir.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
    EXPECT_FALSE(file.contains(QStringLiteral("LastCase")));
    EXPECT_TRUE(file.contains(QStringLiteral("ShowSidebar")));
    Settings reopened(storage());
    EXPECT_FALSE(reopened.boolValue(QStringLiteral("ShowSidebar")));
    EXPECT_EQ(reopened.dataValue(QStringLiteral("WindowState")), state);
    EXPECT_FALSE(reopened.contains(QStringLiteral("LastCase")));

    settings.remove(QStringLiteral("ShowSidebar"));
    EXPECT_TRUE(settings.boolValue(QStringLiteral("ShowSidebar")));
    settings.setValue(QStringLiteral("WindowState"), QVariant());
    EXPECT_FALSE(settings.contains(QStringLiteral("WindowState")));
}

TEST_F(SettingsTest, ValueChangedNamesTheKeyOnSetAndRemove)
{
    Settings settings(storage());
    QSignalSpy spy(&settings, &Settings::valueChanged);

    settings.setValue(QStringLiteral("Theme"), QStringLiteral("dark"));
    settings.remove(QStringLiteral("Theme"));
    settings.registerDefaults({{QStringLiteral("Theme"), QStringLiteral("light")}});

    ASSERT_EQ(spy.count(), 2);
    EXPECT_EQ(spy.at(0).at(0).toString(), QStringLiteral("Theme"));
    EXPECT_EQ(spy.at(1).at(0).toString(), QStringLiteral("Theme"));
}

TEST_F(SettingsTest, SharedInstanceCanBePointedAtAnotherStore)
{
    Settings &shared = Settings::shared();
    QSignalSpy spy(&shared, &Settings::valueChanged);

    Settings::setSharedForTesting(storage(QStringLiteral("first.ini")));
    EXPECT_FALSE(shared.boolValue(QStringLiteral("Recognise_NZ_NHIs")));
    Settings::registerApplicationDefaults();
    EXPECT_TRUE(shared.boolValue(QStringLiteral("Recognise_NZ_NHIs")));
    shared.setValue(QStringLiteral("Recognise_NZ_NHIs"), false);
    EXPECT_FALSE(shared.boolValue(QStringLiteral("Recognise_NZ_NHIs")));

    // A new store starts without the defaults registered on the old one.
    Settings::setSharedForTesting(storage(QStringLiteral("second.ini")));
    EXPECT_EQ(&Settings::shared(), &shared);
    EXPECT_FALSE(shared.contains(QStringLiteral("Recognise_NZ_NHIs")));
    Settings::registerApplicationDefaults();
    EXPECT_TRUE(shared.boolValue(QStringLiteral("Recognise_NZ_NHIs")));
    EXPECT_EQ(spy.count(), 1);

    Settings::setSharedForTesting(storage(QStringLiteral("first.ini")));
    EXPECT_FALSE(shared.boolValue(QStringLiteral("Recognise_NZ_NHIs")));
    EXPECT_TRUE(shared.contains(QStringLiteral("Recognise_NZ_NHIs")));
}

TEST_F(SettingsTest, ConcurrentWritersAndReadersKeepEveryValue)
{
    Settings settings(storage());
    settings.registerDefaults({{QStringLiteral("Shared"), QStringLiteral("default")}});
    constexpr int writers = 4;
    constexpr int rounds = 100;

    std::vector<std::unique_ptr<QThread>> threads;
    for (int writer = 0; writer < writers; ++writer) {
        threads.emplace_back(QThread::create([&settings, writer] {
            const QString key = QStringLiteral("Writer%1").arg(writer);
            for (int round = 0; round < rounds; ++round) {
                settings.setValue(key, round);
                settings.stringValue(QStringLiteral("Shared"));
            }
        }));
        threads.back()->start();
    }
    for (const auto &thread : threads)
        ASSERT_TRUE(thread->wait());

    for (int writer = 0; writer < writers; ++writer)
        EXPECT_EQ(settings.value(QStringLiteral("Writer%1").arg(writer)).toInt(), rounds - 1);
    EXPECT_EQ(settings.stringValue(QStringLiteral("Shared")), QStringLiteral("default"));
}

} // namespace
