#include <QAbstractItemModelTester>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "exchange/ImportVersion1ViewModel.h"
#include "util/Settings.h"

namespace ovalis::test {
namespace {

class ImportVersion1ViewModelTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_directory.isValid());
        Settings::setSharedForTesting(
            std::make_unique<QSettings>(m_directory.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat));
        m_model = std::make_unique<ImportVersion1ViewModel>(ImportVersion1ViewModel::importableURLs(
            {QUrl::fromLocalFile(QStringLiteral("/home/u/Teaching.ovalis")), QUrl::fromLocalFile(QStringLiteral("/home/u/Old/Chest.v2.ovalis")),
             QUrl::fromLocalFile(QStringLiteral("/home/u/Neuro.ovalis"))}));
        m_tester = std::make_unique<QAbstractItemModelTester>(m_model.get(), QAbstractItemModelTester::FailureReportingMode::Fatal);
        m_model->setImporter([this](const QList<QUrl> &urls) { m_imported.append(urls); });
        m_model->setWindowCloser([this] { ++m_closed; });
    }

    void TearDown() override
    {
        m_tester.reset();
        m_model.reset();
        Settings::setSharedForTesting(nullptr);
    }

    QStringList selectedNames() const
    {
        QStringList names;
        for (const QUrl &url : m_model->selectedURLs())
            names.append(url.fileName());
        return names;
    }

    QTemporaryDir m_directory;
    std::unique_ptr<ImportVersion1ViewModel> m_model;
    std::unique_ptr<QAbstractItemModelTester> m_tester;
    QList<QList<QUrl>> m_imported;
    int m_closed = 0;
};

TEST_F(ImportVersion1ViewModelTest, RowsShowNameAndPathAndStartScheduled)
{
    ASSERT_EQ(m_model->rowCount(), 3);
    const QModelIndex second = m_model->index(1);
    EXPECT_EQ(second.data().toString(), QStringLiteral("Chest.v2"));
    EXPECT_EQ(second.data(ImportVersion1ViewModel::PathRole).toString(), QStringLiteral("/home/u/Old/Chest.v2.ovalis"));
    EXPECT_EQ(second.data(Qt::CheckStateRole).toInt(), Qt::Checked);
    EXPECT_EQ(m_model->heading(), QStringLiteral("Choose from 3 documents available to import"));
    EXPECT_EQ(ImportVersion1ViewModel(ImportVersion1ViewModel::importableURLs({QUrl::fromLocalFile(QStringLiteral("/a.ovalis"))})).heading(),
              QStringLiteral("Choose from 1 document available to import"));
    // Entries for one document are still distinct.
    const QList<ImportableURL> twice = ImportVersion1ViewModel::importableURLs({QUrl(QStringLiteral("file:///a")), QUrl(QStringLiteral("file:///a"))});
    EXPECT_FALSE(twice[0] == twice[1]);
}

TEST_F(ImportVersion1ViewModelTest, TogglingFlipsTheEqualEntryAndTheButtonReadsDoneWithNothingScheduled)
{
    QSignalSpy changed(m_model.get(), &ImportVersion1ViewModel::scheduleChanged);
    const ImportableURL first = m_model->importableURLs().at(0);

    m_model->toggle(first);
    EXPECT_EQ(selectedNames(), (QStringList{QStringLiteral("Chest.v2.ovalis"), QStringLiteral("Neuro.ovalis")}));
    // The old copy no longer equals the entry (it was scheduled): nothing changes.
    m_model->toggle(first);
    EXPECT_EQ(m_model->importableURLs().at(0).scheduledToImport, false);
    m_model->toggle(m_model->importableURLs().at(0));
    EXPECT_EQ(m_model->importableURLs().at(0).scheduledToImport, true);
    EXPECT_EQ(changed.count(), 2);

    m_model->setAll(false);
    EXPECT_TRUE(m_model->selectedURLs().isEmpty());
    EXPECT_EQ(m_model->defaultButtonTitle(), QStringLiteral("Done"));
    m_model->setData(m_model->index(2), Qt::Checked, Qt::CheckStateRole);
    EXPECT_EQ(selectedNames(), QStringList{QStringLiteral("Neuro.ovalis")});
    EXPECT_EQ(m_model->defaultButtonTitle(), QStringLiteral("Import"));
    m_model->setAll(true);
    EXPECT_EQ(m_model->selectedURLs().size(), 3);
    const int before = changed.count();
    m_model->setAll(true);
    EXPECT_EQ(changed.count(), before);
}

TEST_F(ImportVersion1ViewModelTest, ButtonsRecordTheOfferImportOnlyWhatIsScheduledAndClose)
{
    // Each button records the offer and closes the window, whatever was imported.
    const auto expectOfferRecordedAndClosed = [&](int closes) {
        EXPECT_TRUE(Settings::shared().boolValue(QStringLiteral("OfferedImportVersion1")));
        EXPECT_EQ(m_closed, closes);
        Settings::shared().remove(QStringLiteral("OfferedImportVersion1"));
    };
    m_model->toggleRow(1);
    m_model->performDefaultAction();
    ASSERT_EQ(m_imported.size(), 1);
    EXPECT_EQ(m_imported.first(), (QList<QUrl>{QUrl::fromLocalFile(QStringLiteral("/home/u/Teaching.ovalis")),
                                               QUrl::fromLocalFile(QStringLiteral("/home/u/Neuro.ovalis"))}));
    expectOfferRecordedAndClosed(1);

    m_model->setAll(false);
    m_model->performDefaultAction();
    expectOfferRecordedAndClosed(2);

    m_model->setAll(true);
    m_model->dismiss();
    expectOfferRecordedAndClosed(3);
    EXPECT_EQ(m_imported.size(), 1);
}

} // namespace
} // namespace ovalis::test
