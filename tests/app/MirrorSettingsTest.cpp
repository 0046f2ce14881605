#include <QCheckBox>
#include <QDirIterator>
#include <QFile>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "app/AppDelegate.h"
#include "app/MirrorPasswordStore.h"
#include "app/SettingsWindowController.h"
#include "support/StoreFixture.h"
#include "transfer/MirrorService.h"

namespace ovalis::test {
namespace {

// A server that cannot be reached: the mirror goes offline at once.
const QString unreachable = QStringLiteral("host=/nonexistent dbname=x");
const QString otherUnreachable = QStringLiteral("host=/nonexistent dbname=y");

// The secret store as a dictionary of entries, answering on a later turn of
// the event loop as the desktop's store does.
class MemoryPasswordStore : public MirrorPasswordStore
{
public:
    void read(const QString &conninfo, QObject *context, std::function<void(const QString &)> done) override
    {
        const QString password = entries.value(entryName(conninfo));
        QTimer::singleShot(0, context, [done, password] { done(password); });
    }

    void write(const QString &conninfo, const QString &password, QObject *context,
               std::function<void(bool, const QString &)> done) override
    {
        if (password.isEmpty())
            entries.remove(entryName(conninfo));
        else
            entries.insert(entryName(conninfo), password);
        if (done)
            QTimer::singleShot(0, context, [done] { done(true, QString()); });
    }

    QHash<QString, QString> entries;
};

class MirrorSettingsTest : public StoreFixture
{
protected:
    void SetUp() override
    {
        StoreFixture::SetUp();
        m_delegate = std::make_unique<AppDelegate>(*m_stack);
        auto store = std::make_unique<MemoryPasswordStore>();
        m_store = store.get();
        m_delegate->setMirrorPasswordStore(std::move(store));
        m_mirror = m_delegate->mirrorService();
    }

    void TearDown() override
    {
        m_delegate.reset();
        StoreFixture::TearDown();
    }

    SettingsWindowController *openSettings()
    {
        m_delegate->showSettings();
        SettingsWindowController *settings = m_delegate->settingsWindowController();
        settings->setSyncFailurePresenter([this](const QString &error) { m_failures << error; });
        return settings;
    }

    static void type(QLineEdit *field, const QString &text)
    {
        field->selectAll();
        if (text.isEmpty())
            QTest::keyClick(field, Qt::Key_Backspace);
        else
            QTest::keyClicks(field, text);
        QTest::keyClick(field, Qt::Key_Return);
    }

    // The files under the test's folder (library, mirror settings, settings) holding bytes.
    QStringList filesHolding(const QByteArray &bytes) const
    {
        QStringList holding;
        QDirIterator files(m_directory.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (files.hasNext()) {
            QFile file(files.next());
            if (file.open(QIODevice::ReadOnly) && file.readAll().contains(bytes))
                holding << file.fileName();
        }
        return holding;
    }

    std::unique_ptr<AppDelegate> m_delegate;
    MemoryPasswordStore *m_store = nullptr;
    MirrorService *m_mirror = nullptr;
    QStringList m_failures;
};

TEST_F(MirrorSettingsTest, TheServerGoesToTheServiceAndThePasswordOnlyToTheSecretStore)
{
    SettingsWindowController *settings = openSettings();
    QLineEdit *server = settings->mirrorServerField();
    QLineEdit *password = settings->mirrorPasswordField();
    EXPECT_EQ(password->echoMode(), QLineEdit::Password);
    EXPECT_FALSE(settings->syncNowButton()->isEnabled());

    type(server, unreachable);
    EXPECT_EQ(m_mirror->server(), unreachable);
    EXPECT_TRUE(m_mirror->isRunning());
    EXPECT_TRUE(settings->syncNowButton()->isEnabled());

    type(password, QStringLiteral("s3cret-word"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_mirror->state() == MirrorService::State::Offline; }));
    EXPECT_EQ(m_store->entries, (QHash<QString, QString>{{QStringLiteral("mirror ") + unreachable, QStringLiteral("s3cret-word")}}));
    QCoreApplication::processEvents(); // the settings reach their file
    EXPECT_EQ(filesHolding("s3cret-word"), QStringList());

    // The password moves with the server; an emptied field removes it.
    type(server, otherUnreachable);
    EXPECT_EQ(m_mirror->server(), otherUnreachable);
    EXPECT_EQ(m_store->entries.keys(), QStringList{QStringLiteral("mirror ") + otherUnreachable});
    type(password, QString());
    EXPECT_TRUE(m_store->entries.isEmpty());

    // A new mirror keeps media on the server until the box is cleared.
    QCheckBox *media = settings->keepMediaOnServerCheckBox();
    EXPECT_TRUE(media->isChecked());
    media->click();
    EXPECT_FALSE(m_mirror->keepsMediaOnServer());

    // A window opened later shows the stored server and password.
    auto store = std::make_unique<MemoryPasswordStore>();
    store->entries.insert(QStringLiteral("mirror ") + otherUnreachable, QStringLiteral("kept"));
    m_delegate.reset();
    m_delegate = std::make_unique<AppDelegate>(*m_stack);
    m_store = store.get();
    m_delegate->setMirrorPasswordStore(std::move(store));
    m_mirror = m_delegate->mirrorService();
    settings = openSettings();
    EXPECT_EQ(settings->mirrorServerField()->text(), otherUnreachable);
    EXPECT_FALSE(settings->keepMediaOnServerCheckBox()->isChecked());
    ASSERT_TRUE(QTest::qWaitFor([&] { return settings->mirrorPasswordField()->text() == QStringLiteral("kept"); }));
}

TEST_F(MirrorSettingsTest, DisablingCloudSyncingStopsTheMirrorAndEnablingStartsIt)
{
    m_mirror->setServer(unreachable);
    Settings::shared().setValue(QStringLiteral("Disable_Cloud_Syncing"), true);
    m_delegate->startMirror();
    QCoreApplication::processEvents();
    EXPECT_FALSE(m_mirror->isRunning());

    SettingsWindowController *settings = openSettings();
    QCheckBox *disable = settings->disableCloudSyncingCheckBox();
    EXPECT_TRUE(disable->isChecked());
    EXPECT_FALSE(settings->syncNowButton()->isEnabled());
    disable->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_mirror->isRunning(); }));
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_mirror->state() == MirrorService::State::Offline; }));
    EXPECT_TRUE(settings->syncNowButton()->isEnabled());

    disable->click();
    EXPECT_FALSE(m_mirror->isRunning());
    EXPECT_EQ(m_mirror->state(), MirrorService::State::Off);

    // Without a server there is nothing to start.
    disable->click();
    settings->mirrorServerField()->clear();
    QTest::keyClick(settings->mirrorServerField(), Qt::Key_Return);
    QCoreApplication::processEvents(); // the password read for the start comes too late
    EXPECT_FALSE(m_mirror->isRunning());
    m_delegate->startMirror();
    QCoreApplication::processEvents();
    EXPECT_FALSE(m_mirror->isRunning());
}

TEST_F(MirrorSettingsTest, TestAndSyncNowTellTheConnectionsAnswerOnlyWhenAsked)
{
    m_mirror->setServer(unreachable);
    m_delegate->startMirror();
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_mirror->state() == MirrorService::State::Offline; }));
    SettingsWindowController *settings = openSettings();
    EXPECT_TRUE(m_failures.isEmpty()); // the automatic sync failed quietly

    QLabel *result = settings->connectionResultLabel();
    EXPECT_EQ(result->textFormat(), Qt::PlainText);
    settings->testConnectionButton()->click();
    EXPECT_EQ(result->text(), QStringLiteral("Connecting…"));
    EXPECT_FALSE(settings->testConnectionButton()->isEnabled());
    ASSERT_TRUE(QTest::qWaitFor([&] { return result->text().startsWith(QStringLiteral("Could not connect")); }));
    EXPECT_TRUE(settings->testConnectionButton()->isEnabled());

    settings->syncNowButton()->click();
    // While it runs, the button stops it.
    EXPECT_EQ(m_mirror->state(), MirrorService::State::Syncing);
    EXPECT_EQ(settings->syncNowButton()->text(), QStringLiteral("Stop Sync"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_failures.size() == 1; }));
    EXPECT_EQ(settings->syncNowButton()->text(), QStringLiteral("Sync Now"));
    EXPECT_FALSE(m_failures.first().isEmpty());
    EXPECT_EQ(settings->lastSyncLabel()->textFormat(), Qt::PlainText);
    EXPECT_TRUE(settings->lastSyncLabel()->text().endsWith(QStringLiteral("failed")));
    EXPECT_EQ(settings->lastSyncLabel()->toolTip(), m_failures.first().simplified());
}

} // namespace
} // namespace ovalis::test
