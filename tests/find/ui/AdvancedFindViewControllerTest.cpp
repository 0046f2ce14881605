#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QScrollArea>
#include <QTableView>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

#include "find/AdvancedFindFavorites.h"
#include "find/ui/AdvancedFindResultsModel.h"
#include "find/ui/AdvancedFindRuleRowView.h"
#include "find/ui/AdvancedFindViewController.h"
#include "find/ui/UserActions.h"
#include "store/LibraryNotifications.h"
#include "support/MenuTitles.h"
#include "support/StoreFixture.h"
#include "util/Log.h"
#include "util/NotificationCenter.h"

namespace ovalis::test {
namespace {

using Field = AdvancedFindField;
using Op = AdvancedFindOperator;

class AdvancedFindViewControllerTest : public StoreFixture
{
protected:
    void TearDown() override
    {
        m_view.reset();
        StoreFixture::TearDown();
    }

    void openView()
    {
        context()->saveWithParent(true);
        m_view = std::make_unique<AdvancedFindViewController>(context());
        m_view->setLabelPresenter([this](const AdvancedFindLabelAlert::Texts &alert) {
            m_alerts.append(alert);
            return m_nextLabel;
        });
        m_view->resize(800, 560);
        m_view->show();
    }

    // A case added on day 1 + daysAfterStart of 2024.
    Case *caseAdded(const QString &patientID, const QString &summary, int daysAfterStart)
    {
        Case *item = newCase(patientID, summary);
        item->setDateAdded(QDateTime(QDate(2024, 1, 1).addDays(daysAfterStart), QTime(9, 0)));
        return item;
    }

    AdvancedFindRuleRowView *row(int index) const { return m_view->ruleRowViews().at(index); }
    void typeValue(int rowIndex, const QString &text)
    {
        static_cast<QLineEdit *>(row(rowIndex)->valueControl())->setText(text);
    }
    QStringList resultIDs() const
    {
        QStringList ids;
        for (const Case *item : m_view->results())
            ids << item->patientID();
        return ids;
    }
    QString countText() const { return m_view->resultCountLabel()->text(); }
    QAction *menuItem(QMenu *menu, const QString &title) const
    {
        for (QAction *action : menu->actions())
            if (action->text() == title)
                return action;
        return nullptr;
    }
    QMenu *removeMenu() const
    {
        QAction *item = menuItem(m_view->favoritesMenu(), QStringLiteral("Remove Favourite"));
        return item ? item->menu() : nullptr;
    }
    void saveFavorite(const std::optional<QString> &label)
    {
        m_nextLabel = label;
        menuItem(m_view->favoritesMenu(), QStringLiteral("Save Current Rule Set…"))->trigger();
    }
    QStringList favoriteLabels() const
    {
        QStringList labels;
        for (const AdvancedFindFavorite &favorite : m_view->favorites())
            labels << favorite.label;
        return labels;
    }
    void clickHeader(int column)
    {
        QHeaderView *header = m_view->resultsTableView()->horizontalHeader();
        const QPoint centre(header->sectionViewportPosition(column) + header->sectionSize(column) / 2, header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier, centre);
    }

    std::unique_ptr<AdvancedFindViewController> m_view;
    QList<AdvancedFindLabelAlert::Texts> m_alerts;
    std::optional<QString> m_nextLabel;
};

TEST_F(AdvancedFindViewControllerTest, RowsAreAddedAfterTheirRowAndTheLastOneCannotBeRemoved)
{
    openView();
    ASSERT_EQ(m_view->ruleRowViews().size(), 1);
    EXPECT_EQ(row(0)->fieldPopUp()->currentText(), QStringLiteral("Summary"));
    EXPECT_FALSE(row(0)->removeButton()->isEnabled());
    m_view->removeRuleRow(row(0));
    EXPECT_EQ(m_view->ruleRowViews().size(), 1);

    AdvancedFindRuleRowView *first = row(0);
    QTest::mouseClick(first->addButton(), Qt::LeftButton);
    AdvancedFindRuleRowView *last = row(1);
    EXPECT_TRUE(first->removeButton()->isEnabled());
    EXPECT_TRUE(last->removeButton()->isEnabled());
    // Add on the first of two rows puts the new one between them, also on screen.
    QTest::mouseClick(first->addButton(), Qt::LeftButton);
    ASSERT_EQ(m_view->ruleRowViews().size(), 3);
    EXPECT_EQ(row(0), first);
    EXPECT_EQ(row(2), last);
    QCoreApplication::processEvents();
    EXPECT_LT(first->y(), row(1)->y());
    EXPECT_LT(row(1)->y(), last->y());

    QTest::mouseClick(row(1)->removeButton(), Qt::LeftButton);
    QTest::mouseClick(first->removeButton(), Qt::LeftButton);
    EXPECT_EQ(m_view->ruleRowViews(), QList<AdvancedFindRuleRowView *>{last});
    EXPECT_FALSE(last->removeButton()->isEnabled());
    const int rulesHeight = m_view->rulesScrollView()->height();
    EXPECT_GE(rulesHeight, 40);
    EXPECT_LE(rulesHeight, 200);
}

TEST_F(AdvancedFindViewControllerTest, SearchCountsTheWholeLibraryNewestFirst)
{
    Tag *chest = newTag(QStringLiteral("Chest"));
    for (int i = 0; i < 12; ++i)
        caseAdded(QStringLiteral("P%1").arg(i, 2, 10, QLatin1Char('0')), QStringLiteral("lung nodule"), i)->addToTags(chest);
    caseAdded(QStringLiteral("Q1"), QStringLiteral("Liver cyst"), 40);
    caseAdded(QStringLiteral("Q2"), QString(), 50);
    openView();

    // Only empty text rules: nothing to search with.
    m_view->performSearch();
    EXPECT_EQ(countText(), QStringLiteral("No valid rules"));
    EXPECT_TRUE(m_view->results().isEmpty());

    typeValue(0, QStringLiteral("NODULE"));
    m_view->performSearch();
    EXPECT_EQ(countText(), QStringLiteral("12 cases found"));
    EXPECT_EQ(resultIDs().first(), QStringLiteral("P11"));
    EXPECT_EQ(resultIDs().last(), QStringLiteral("P00"));
    EXPECT_EQ(m_view->resultsTableView()->model()->rowCount(), 12);

    // All of two rules, then any of them; an empty second rule just drops out.
    m_view->addRuleRow(row(0));
    choose(row(1)->fieldPopUp(), int(Field::patientID));
    typeValue(1, QStringLiteral("p03"));
    m_view->performSearch();
    EXPECT_EQ(countText(), QStringLiteral("1 case found"));
    choose(m_view->compoundTypePopUp(), int(AdvancedFindCompoundType::any));
    typeValue(0, QStringLiteral("cyst"));
    m_view->performSearch();
    EXPECT_EQ(resultIDs(), (QStringList{QStringLiteral("Q1"), QStringLiteral("P03")}));
    typeValue(1, QString());
    m_view->performSearch();
    EXPECT_EQ(resultIDs(), QStringList{QStringLiteral("Q1")});
    typeValue(0, QStringLiteral("kidney"));
    m_view->performSearch();
    EXPECT_EQ(countText(), QStringLiteral("0 cases found"));

    // Return in a value field searches too.
    m_view->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_view.get()));
    choose(row(1)->fieldPopUp(), int(Field::summary));
    choose(row(1)->operatorPopUp(), int(Op::isEmpty));
    row(0)->valueControl()->setFocus();
    QTest::keyClick(row(0)->valueControl(), Qt::Key_Return);
    EXPECT_EQ(resultIDs(), QStringList{QStringLiteral("Q2")});

    // Reset leaves one default rule and no results, and keeps Match.
    m_view->resetRules();
    EXPECT_EQ(m_view->ruleRowViews().size(), 1);
    EXPECT_EQ(row(0)->rule()->field, Field::summary);
    EXPECT_TRUE(m_view->results().isEmpty());
    EXPECT_TRUE(countText().isEmpty());
    EXPECT_EQ(m_view->compoundType(), AdvancedFindCompoundType::any);
}

TEST_F(AdvancedFindViewControllerTest, AFailedFetchIsLoggedAndShownWithTheRulesKept)
{
    caseAdded(QStringLiteral("A1"), QStringLiteral("lung"), 1);
    openView();
    typeValue(0, QStringLiteral("lung"));
    m_view->performSearch();
    ASSERT_EQ(m_view->results().size(), 1);

    m_view->setCaseFetch([](const FetchRequest &, QString *error) {
        *error = QStringLiteral("disk I/O error");
        return QList<ManagedObject *>();
    });
    LogCapture log;
    m_view->performSearch();
    EXPECT_EQ(countText(), QStringLiteral("Search failed"));
    EXPECT_TRUE(m_view->results().isEmpty());
    EXPECT_TRUE(log.contains(QStringLiteral("Advanced find fetch failed: disk I/O error"), LogLevel::Error));
    EXPECT_EQ(static_cast<QLineEdit *>(row(0)->valueControl())->text(), QStringLiteral("lung"));
}

TEST_F(AdvancedFindViewControllerTest, HeaderClicksSortTheShownResultsAndANewSearchIsNewestFirstAgain)
{
    caseAdded(QStringLiteral("beta"), QStringLiteral("cyst b"), 1);
    caseAdded(QStringLiteral("Alpha"), QStringLiteral("cyst c"), 3);
    caseAdded(QStringLiteral("gamma"), QStringLiteral("Cyst a"), 2);
    openView();
    typeValue(0, QStringLiteral("cyst"));
    m_view->performSearch();
    const QStringList newestFirst{QStringLiteral("Alpha"), QStringLiteral("gamma"), QStringLiteral("beta")};
    ASSERT_EQ(resultIDs(), newestFirst);

    clickHeader(AdvancedFindResultsModel::PatientIDColumn);
    EXPECT_EQ(resultIDs(), (QStringList{QStringLiteral("Alpha"), QStringLiteral("beta"), QStringLiteral("gamma")}));
    EXPECT_EQ(m_view->resultsTableView()->model()->index(0, 0).data().toString(), QStringLiteral("Alpha"));
    clickHeader(AdvancedFindResultsModel::PatientIDColumn);
    EXPECT_EQ(resultIDs(), (QStringList{QStringLiteral("gamma"), QStringLiteral("beta"), QStringLiteral("Alpha")}));
    // Age / Sex does not sort: order and indicator stay.
    clickHeader(AdvancedFindResultsModel::AgeSexColumn);
    EXPECT_EQ(resultIDs().first(), QStringLiteral("gamma"));
    EXPECT_EQ(m_view->resultsTableView()->horizontalHeader()->sortIndicatorSection(),
              int(AdvancedFindResultsModel::PatientIDColumn));
    clickHeader(AdvancedFindResultsModel::SummaryColumn);
    EXPECT_EQ(resultIDs(), (QStringList{QStringLiteral("gamma"), QStringLiteral("beta"), QStringLiteral("Alpha")}));
    clickHeader(AdvancedFindResultsModel::DateAddedColumn);
    EXPECT_EQ(resultIDs(), newestFirst);

    clickHeader(AdvancedFindResultsModel::PatientIDColumn);
    m_view->performSearch();
    EXPECT_EQ(resultIDs(), newestFirst);
}

TEST_F(AdvancedFindViewControllerTest, DoubleClickingAResultAsksTheLibraryToSelectIt)
{
    caseAdded(QStringLiteral("A1"), QStringLiteral("lung"), 2);
    Case *second = caseAdded(QStringLiteral("A2"), QStringLiteral("lung"), 1);
    openView();
    typeValue(0, QStringLiteral("lung"));
    m_view->performSearch();

    QList<Case *> requested;
    ObserverToken token = NotificationCenter::defaultCenter().addObserver(
        LibraryNotifications::selectCaseInLibrary, nullptr,
        [&](const Notification &notification) { requested << notification.userInfo.value("Case").value<Case *>(); });
    QTableView *table = m_view->resultsTableView();
    doubleClick(table, table->visualRect(table->model()->index(1, 2)).center());
    // Below the rows, and on a row that is not there.
    doubleClick(table, QPoint(10, table->viewport()->height() - 5));
    m_view->resultsTableDoubleClicked(table->model()->index(7, 0));
    EXPECT_EQ(requested, QList<Case *>{second});
}

TEST_F(AdvancedFindViewControllerTest, FavouritesAreSavedUnderTrimmedLabelsReplacedIgnoringCaseAndListedInTheMenu)
{
    openView();
    EXPECT_EQ(menuTitles(m_view->favoritesMenu()), QStringList{QStringLiteral("Save Current Rule Set…")});

    // Cancel and a blank label save nothing.
    saveFavorite(std::nullopt);
    saveFavorite(QStringLiteral("  \n "));
    ASSERT_EQ(m_alerts.size(), 2);
    EXPECT_EQ(m_alerts.first().messageText, QStringLiteral("Save Favourite Rules"));
    EXPECT_EQ(m_alerts.first().informativeText, QStringLiteral("Enter a label for these rules."));
    EXPECT_EQ(m_alerts.first().buttonTitles, (QStringList{QStringLiteral("Save"), QStringLiteral("Cancel")}));
    EXPECT_EQ(m_alerts.first().accessorySize, QSize(260, 24));
    EXPECT_TRUE(m_view->favorites().isEmpty());
    EXPECT_FALSE(Settings::shared().contains(AdvancedFindFavorites::settingsKey()));

    typeValue(0, QStringLiteral("nodule"));
    saveFavorite(QStringLiteral(" Lung "));
    choose(m_view->compoundTypePopUp(), int(AdvancedFindCompoundType::any));
    saveFavorite(QStringLiteral("brain"));
    EXPECT_EQ(favoriteLabels(), (QStringList{QStringLiteral("brain"), QStringLiteral("Lung")}));
    const QUuid lungId = m_view->favorites().at(1).id;
    EXPECT_EQ(m_view->favorites().at(1).rules.first().stringValue, QStringLiteral("nodule"));

    // The same label in other letters replaces it where it stands.
    typeValue(0, QStringLiteral("mass"));
    saveFavorite(QStringLiteral("LUNG"));
    EXPECT_EQ(favoriteLabels(), (QStringList{QStringLiteral("brain"), QStringLiteral("LUNG")}));
    EXPECT_EQ(m_view->favorites().at(1).id, lungId);
    EXPECT_EQ(m_view->favorites().at(1).rules.first().stringValue, QStringLiteral("mass"));
    saveFavorite(QStringLiteral("Abdomen"));

    EXPECT_EQ(menuTitles(m_view->favoritesMenu()),
              (QStringList{QStringLiteral("Abdomen"), QStringLiteral("brain"), QStringLiteral("LUNG"), QStringLiteral("---"),
                           QStringLiteral("Save Current Rule Set…"), QStringLiteral("---"),
                           QStringLiteral("Remove Favourite")}));
    ASSERT_NE(removeMenu(), nullptr);
    EXPECT_EQ(removeMenu()->title(), QStringLiteral("Remove Favourite"));
    EXPECT_EQ(menuTitles(removeMenu()), favoriteLabels());
    EXPECT_EQ(menuItem(m_view->favoritesMenu(), QStringLiteral("LUNG"))->data().toString(),
              m_view->favorites().at(2).idString());

    // Removing from the submenu stores the shorter list at once.
    menuItem(removeMenu(), QStringLiteral("brain"))->trigger();
    EXPECT_EQ(favoriteLabels(), (QStringList{QStringLiteral("Abdomen"), QStringLiteral("LUNG")}));
    AdvancedFindFavorites stored(Settings::shared());
    stored.load();
    EXPECT_EQ(stored.favorites(), m_view->favorites());
}

TEST_F(AdvancedFindViewControllerTest, UnreadableStoredFavouritesShowAnEmptyMenuAndStayUntilTheNextSave)
{
    const QByteArray damaged("[{\"label\": \"no id\"}]");
    Settings::shared().setValue(AdvancedFindFavorites::settingsKey(), damaged);
    openView();
    EXPECT_EQ(menuTitles(m_view->favoritesMenu()), QStringList{QStringLiteral("Save Current Rule Set…")});
    EXPECT_EQ(Settings::shared().dataValue(AdvancedFindFavorites::settingsKey()), damaged);
    saveFavorite(QStringLiteral("new"));
    EXPECT_NE(Settings::shared().dataValue(AdvancedFindFavorites::settingsKey()), damaged);
    EXPECT_EQ(favoriteLabels(), QStringList{QStringLiteral("new")});
}

TEST_F(AdvancedFindViewControllerTest, ApplyingAFavouriteRebuildsTheRowsAndSearchesAtOnce)
{
    Tag *ct = newTag(QStringLiteral("CT"));
    caseAdded(QStringLiteral("A1"), QStringLiteral("lung nodule"), 1)->addToTags(ct);
    Case *female = caseAdded(QStringLiteral("A2"), QStringLiteral("liver"), 2);
    female->setSex(Sex::female);
    caseAdded(QStringLiteral("A3"), QStringLiteral("brain"), 3);

    AdvancedFindRuleSnapshot summary{int(Field::summary), int(Op::contains), QStringLiteral("nodule"), {}, {}, {}};
    AdvancedFindRuleSnapshot sex{int(Field::sex), int(Op::sexIs), {}, qint16(2), {}, {}};
    AdvancedFindRuleSnapshot tag{int(Field::tag), int(Op::containsTag), QStringLiteral("ct"), {}, {}, {}};
    const AdvancedFindFavorite any{QUuid::createUuid(), QStringLiteral("Any three"), 1, {summary, sex, tag}};
    const AdvancedFindFavorite odd{QUuid::createUuid(), QStringLiteral("Odd match"), 2, {sex}};
    const AdvancedFindFavorite empty{QUuid::createUuid(), QStringLiteral("Nothing"), 1, {}};
    Settings::shared().setValue(AdvancedFindFavorites::settingsKey(), *AdvancedFindFavorites::encode({any, empty, odd}));
    openView();
    m_view->addRuleRow(row(0));
    m_view->addRuleRow(row(0));
    m_view->addRuleRow(row(0));

    menuItem(m_view->favoritesMenu(), QStringLiteral("Any three"))->trigger();
    ASSERT_EQ(m_view->ruleRowViews().size(), 3);
    EXPECT_EQ(m_view->compoundTypePopUp()->currentText(), QStringLiteral("Any"));
    EXPECT_EQ(row(1)->fieldPopUp()->currentText(), QStringLiteral("Sex"));
    EXPECT_EQ(static_cast<QComboBox *>(row(1)->valueControl())->currentText(), QStringLiteral("Female"));
    EXPECT_EQ(row(2)->operatorPopUp()->currentText(), QStringLiteral("contains tag"));
    EXPECT_EQ(static_cast<QComboBox *>(row(2)->valueControl())->currentText(), QStringLiteral("ct"));
    EXPECT_TRUE(row(0)->removeButton()->isEnabled());
    EXPECT_EQ(resultIDs(), (QStringList{QStringLiteral("A2"), QStringLiteral("A1")}));

    // Only a stored 1 means any.
    menuItem(m_view->favoritesMenu(), QStringLiteral("Odd match"))->trigger();
    EXPECT_EQ(m_view->compoundTypePopUp()->currentText(), QStringLiteral("All"));
    EXPECT_EQ(resultIDs(), QStringList{QStringLiteral("A2")});
    EXPECT_FALSE(row(0)->removeButton()->isEnabled());

    // No rules at all: one default rule, which finds nothing to search with.
    menuItem(m_view->favoritesMenu(), QStringLiteral("Nothing"))->trigger();
    ASSERT_EQ(m_view->ruleRowViews().size(), 1);
    EXPECT_EQ(row(0)->rule()->field, Field::summary);
    EXPECT_EQ(countText(), QStringLiteral("No valid rules"));

    // A favourite gone since the menu was built does nothing.
    m_view->applyFavoriteFromMenu(QUuid::createUuid().toString(QUuid::WithoutBraces));
    EXPECT_EQ(countText(), QStringLiteral("No valid rules"));
}

} // namespace
} // namespace ovalis::test
