#include "find/ui/AdvancedFindViewController.h"

#include <QAction>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScrollArea>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>

#include "find/AdvancedFindPredicate.h"
#include "find/AdvancedFindRuleSnapshot.h"
#include "find/AdvancedFindTagLabels.h"
#include "find/ui/AdvancedFindResultsModel.h"
#include "find/ui/AdvancedFindRuleRowView.h"
#include "store/Case.h"
#include "store/LibraryNotifications.h"
#include "store/ManagedObjectContext.h"
#include "util/Log.h"
#include "util/NotificationCenter.h"
#include "util/Settings.h"
#include "util/ThemeIcon.h"

namespace ovalis {

namespace {

const QString resultsTableAutosaveName = QStringLiteral("AdvancedFindResultsTable");
constexpr int rulesAreaMinimumHeight = 40;
constexpr int rulesAreaMaximumHeight = 200;

} // namespace

AdvancedFindViewController::AdvancedFindViewController(ManagedObjectContext *context, QWidget *parent)
    : QWidget(parent)
    , m_context(context)
    , m_favorites(Settings::shared())
{
    m_labelPresenter = [this](const AdvancedFindLabelAlert::Texts &texts) -> std::optional<QString> {
        AdvancedFindLabelAlert alert(texts, window());
        if (alert.exec() != QDialog::Accepted)
            return std::nullopt;
        return alert.text();
    };
    m_caseFetch = [this](const FetchRequest &request, QString *error) { return m_context->executeFetch(request, error); };

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->setSpacing(8);
    layout->addWidget(makeTopBar());

    m_rulesStackView = new QWidget;
    m_rulesLayout = new QVBoxLayout(m_rulesStackView);
    m_rulesLayout->setContentsMargins(0, 0, 0, 0);
    m_rulesLayout->setSpacing(4);
    // Rows stack from the top; the stretch takes whatever height is left.
    m_rulesLayout->addStretch(1);
    m_rulesScrollView = new QScrollArea(this);
    m_rulesScrollView->setWidget(m_rulesStackView);
    m_rulesScrollView->setWidgetResizable(true);
    m_rulesScrollView->setFrameShape(QFrame::NoFrame);
    m_rulesScrollView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_rulesScrollView->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    layout->addWidget(m_rulesScrollView);

    m_resultCountLabel = new QLabel(this);
    m_resultCountLabel->setFont(AdvancedFindRuleRowView::smallSystemFont());
    QPalette secondary = m_resultCountLabel->palette();
    secondary.setColor(QPalette::WindowText, secondary.color(QPalette::PlaceholderText));
    m_resultCountLabel->setPalette(secondary);
    layout->addWidget(m_resultCountLabel);

    m_resultsTableView = new QTableView(this);
    layout->addWidget(m_resultsTableView, 1);

    // Return searches from anywhere in the window, as the Search button's key.
    auto *searchKey = new QAction(this);
    searchKey->setShortcuts({QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)});
    searchKey->setShortcutContext(Qt::WindowShortcut);
    connect(searchKey, &QAction::triggered, this, &AdvancedFindViewController::performSearch);
    addAction(searchKey);

    setUpCompoundTypePopUp();
    setUpFavoritesPopUpButton();
    rebuildFavoritesMenu();
    setUpResultsTable();
    m_availableTagLabels = AdvancedFindTagLabels::load(*m_context);
    m_favorites.load();
    rebuildFavoritesMenu();
    insertRuleRow(0);
}

AdvancedFindViewController::~AdvancedFindViewController() = default;

QWidget *AdvancedFindViewController::makeTopBar()
{
    auto *bar = new QWidget(this);
    auto *layout = new QHBoxLayout(bar);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);

    m_compoundTypePopUp = new QComboBox(bar);
    m_favoritesPopUpButton = new QToolButton(bar);
    m_favoritesMenu = new QMenu(m_favoritesPopUpButton);
    m_resetButton = new QPushButton(QStringLiteral("Reset"), bar);
    m_searchButton = new QPushButton(QStringLiteral("Search"), bar);
    m_searchButton->setDefault(true);
    connect(m_resetButton, &QPushButton::clicked, this, &AdvancedFindViewController::resetRules);
    connect(m_searchButton, &QPushButton::clicked, this, &AdvancedFindViewController::performSearch);

    layout->addWidget(new QLabel(QStringLiteral("Match"), bar), 0, Qt::AlignVCenter);
    layout->addWidget(m_compoundTypePopUp, 0, Qt::AlignVCenter);
    layout->addWidget(new QLabel(QStringLiteral("of the following rules"), bar), 0, Qt::AlignVCenter);
    layout->addStretch(1);
    layout->addWidget(m_favoritesPopUpButton, 0, Qt::AlignVCenter);
    layout->addWidget(m_resetButton, 0, Qt::AlignVCenter);
    layout->addWidget(m_searchButton, 0, Qt::AlignVCenter);
    return bar;
}

void AdvancedFindViewController::setUpCompoundTypePopUp()
{
    m_compoundTypePopUp->setFont(AdvancedFindRuleRowView::smallSystemFont());
    m_compoundTypePopUp->addItem(QStringLiteral("All"), int(AdvancedFindCompoundType::all));
    m_compoundTypePopUp->addItem(QStringLiteral("Any"), int(AdvancedFindCompoundType::any));
    m_compoundTypePopUp->setCurrentIndex(0);
}

AdvancedFindCompoundType AdvancedFindViewController::compoundType() const
{
    // Nothing selected reads as all.
    return m_compoundTypePopUp->currentIndex() < 0
               ? AdvancedFindCompoundType::all
               : advancedFindCompoundTypeFromRawValue(m_compoundTypePopUp->currentData().toInt());
}

void AdvancedFindViewController::setUpResultsTable()
{
    m_resultsModel = new AdvancedFindResultsModel(this);
    m_resultsTableView->setModel(m_resultsModel);
    m_resultsTableView->setAlternatingRowColors(true);
    m_resultsTableView->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_resultsTableView->setSelectionMode(QAbstractItemView::SingleSelection);
    m_resultsTableView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_resultsTableView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_resultsTableView->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_resultsTableView->setWordWrap(false);
    m_resultsTableView->setTextElideMode(Qt::ElideRight);
    m_resultsTableView->setShowGrid(false);
    m_resultsTableView->verticalHeader()->hide();
    m_resultsTableView->verticalHeader()->setDefaultSectionSize(m_resultsTableView->fontMetrics().height() + 6);

    QHeaderView *header = m_resultsTableView->horizontalHeader();
    header->setHighlightSections(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header->setSectionsMovable(true);
    header->setStretchLastSection(true);
    header->setMinimumSectionSize(0);
    for (int column = 0; column < AdvancedFindResultsModel::ColumnCount; ++column)
        header->resizeSection(column, AdvancedFindResultsModel::columnDescription(column).width);
    header->restoreState(Settings::shared().dataValue(resultsTableAutosaveName));
    // A sort only ever orders the results on show; a new window starts unsorted.
    header->setSortIndicatorShown(true);
    header->setSectionsClickable(true);
    header->setSortIndicator(-1, Qt::AscendingOrder);

    connect(header, &QHeaderView::sectionResized, this, [header](int column, int, int width) {
        const int minimum = AdvancedFindResultsModel::columnDescription(column).minimumWidth;
        if (width < minimum)
            header->resizeSection(column, minimum);
    });
    const auto saveColumns = [header] { Settings::shared().setValue(resultsTableAutosaveName, header->saveState()); };
    connect(header, &QHeaderView::sectionResized, this, saveColumns);
    connect(header, &QHeaderView::sectionMoved, this, saveColumns);
    connect(header, &QHeaderView::sortIndicatorChanged, this, &AdvancedFindViewController::sortResults);
    connect(m_resultsTableView, &QTableView::doubleClicked, this, &AdvancedFindViewController::resultsTableDoubleClicked);
}

const QList<Case *> &AdvancedFindViewController::results() const
{
    return m_resultsModel->results();
}

void AdvancedFindViewController::sortResults(int column, Qt::SortOrder order)
{
    QHeaderView *header = m_resultsTableView->horizontalHeader();
    if (column < 0 || column >= AdvancedFindResultsModel::ColumnCount
        || !AdvancedFindResultsModel::columnDescription(column).sortDescriptor) {
        // A column without a sort key keeps the sort there was.
        const QSignalBlocker blocker(header);
        header->setSortIndicator(m_sortColumn, m_sortOrder);
        return;
    }
    m_sortColumn = column;
    m_sortOrder = order;
    m_resultsModel->sort(column, order);
}

QString AdvancedFindViewController::resultCountText(qsizetype count)
{
    return QStringLiteral("%1 case%2 found").arg(count).arg(count == 1 ? QString() : QStringLiteral("s"));
}

void AdvancedFindViewController::showResults(const QList<Case *> &results, const QString &countText)
{
    m_resultsModel->setResults(results);
    m_resultCountLabel->setText(countText);
}

void AdvancedFindViewController::performSearch()
{
    QList<std::shared_ptr<AdvancedFindRule>> rules;
    for (AdvancedFindRuleRowView *row : std::as_const(m_ruleRowViews)) {
        row->copyValueIntoRule();
        rules.append(row->rule());
    }
    const std::optional<Predicate> predicate = AdvancedFindPredicate::forRules(compoundType(), rules);
    if (!predicate) {
        showResults({}, QStringLiteral("No valid rules"));
        return;
    }

    // New results come newest first, whatever the table was sorted by.
    {
        QHeaderView *header = m_resultsTableView->horizontalHeader();
        const QSignalBlocker blocker(header);
        header->setSortIndicator(-1, Qt::AscendingOrder);
        m_sortColumn = -1;
    }
    FetchRequest request;
    request.entityName = Case::entityName();
    request.predicate = *predicate;
    request.sortDescriptors = {{QStringLiteral("dateAdded"), false, SortDescriptor::Comparator::Plain}};
    QString error;
    const QList<ManagedObject *> objects = m_caseFetch(request, &error);
    if (!error.isEmpty()) {
        Log::error(LogArea::CoreData, QStringLiteral("Advanced find fetch failed: %1").arg(error));
        showResults({}, QStringLiteral("Search failed"));
        return;
    }
    QList<Case *> found;
    found.reserve(objects.size());
    for (ManagedObject *object : objects)
        found.append(static_cast<Case *>(object));
    showResults(found, resultCountText(found.size()));
}

void AdvancedFindViewController::resetRules()
{
    for (AdvancedFindRuleRowView *row : std::as_const(m_ruleRowViews))
        delete row;
    m_ruleRowViews.clear();
    insertRuleRow(0);
    showResults({}, QString());
}

AdvancedFindRuleRowView *AdvancedFindViewController::insertRuleRow(qsizetype position)
{
    auto *row = new AdvancedFindRuleRowView(std::make_shared<AdvancedFindRule>(), m_availableTagLabels, m_rulesStackView);
    row->setDelegate(this);
    m_ruleRowViews.insert(position, row);
    m_rulesLayout->insertWidget(int(position), row);
    rowsChanged();
    return row;
}

void AdvancedFindViewController::addRuleRow(AdvancedFindRuleRowView *after)
{
    const qsizetype index = m_ruleRowViews.indexOf(after);
    insertRuleRow(index < 0 ? m_ruleRowViews.size() : index + 1);
}

void AdvancedFindViewController::removeRuleRow(AdvancedFindRuleRowView *row)
{
    if (m_ruleRowViews.size() < 2 || !m_ruleRowViews.removeOne(row))
        return;
    // The row may be removing itself from its own button's click.
    row->hide();
    row->deleteLater();
    rowsChanged();
}

void AdvancedFindViewController::rowsChanged()
{
    for (AdvancedFindRuleRowView *row : std::as_const(m_ruleRowViews))
        row->removeButton()->setEnabled(m_ruleRowViews.size() >= 2);
    // The rules area grows with its rows up to a limit, then scrolls.
    int height = 0;
    for (AdvancedFindRuleRowView *row : std::as_const(m_ruleRowViews))
        height += row->sizeHint().height();
    height += m_rulesLayout->spacing() * int(qMax<qsizetype>(0, m_ruleRowViews.size() - 1));
    m_rulesScrollView->setFixedHeight(qBound(rulesAreaMinimumHeight, height, rulesAreaMaximumHeight));
}

void AdvancedFindViewController::resultsTableDoubleClicked(const QModelIndex &index)
{
    Case *item = index.isValid() ? m_resultsModel->caseAtRow(index.row()) : nullptr;
    if (!item)
        return;
    NotificationCenter::defaultCenter().post(LibraryNotifications::selectCaseInLibrary, nullptr,
                                             {{QStringLiteral("Case"), QVariant::fromValue(item)}});
}

void AdvancedFindViewController::setUpFavoritesPopUpButton()
{
    // The button's face stands for the menu; the menu holds only commands.
    m_favoritesPopUpButton->setPopupMode(QToolButton::InstantPopup);
    m_favoritesPopUpButton->setMenu(m_favoritesMenu);
    const QIcon star = ThemeIcon::firstOf({"starred", "starred-symbolic", "emblem-favorite"});
    if (star.isNull())
        m_favoritesPopUpButton->setText(QStringLiteral("★"));
    else
        m_favoritesPopUpButton->setIcon(star);
    m_favoritesPopUpButton->setAccessibleName(QStringLiteral("Favourite Rules"));
    m_favoritesPopUpButton->setToolTip(QStringLiteral("Favourite Rules"));
}

void AdvancedFindViewController::rebuildFavoritesMenu()
{
    m_favoritesMenu->clear();
    const QList<AdvancedFindFavorite> &favorites = m_favorites.favorites();
    for (const AdvancedFindFavorite &favorite : favorites) {
        QAction *apply = m_favoritesMenu->addAction(favorite.label);
        apply->setData(favorite.idString());
        connect(apply, &QAction::triggered, this, [this, apply] { applyFavoriteFromMenu(apply->data().toString()); });
    }
    if (!favorites.isEmpty())
        m_favoritesMenu->addSeparator();
    m_favoritesMenu->addAction(QStringLiteral("Save Current Rule Set…"), this,
                               &AdvancedFindViewController::saveCurrentRulesAsFavorite);
    if (favorites.isEmpty())
        return;
    m_favoritesMenu->addSeparator();
    QMenu *removeMenu = m_favoritesMenu->addMenu(QStringLiteral("Remove Favourite"));
    for (const AdvancedFindFavorite &favorite : favorites) {
        QAction *remove = removeMenu->addAction(favorite.label);
        remove->setData(favorite.idString());
        connect(remove, &QAction::triggered, this, [this, remove] { removeFavoriteFromMenu(remove->data().toString()); });
    }
}

AdvancedFindLabelAlert::Texts AdvancedFindViewController::saveFavoriteAlert()
{
    return {QStringLiteral("Save Favourite Rules"), QStringLiteral("Enter a label for these rules."),
            {QStringLiteral("Save"), QStringLiteral("Cancel")}, QSize(260, 24)};
}

void AdvancedFindViewController::saveCurrentRulesAsFavorite()
{
    const std::optional<QString> label = m_labelPresenter ? m_labelPresenter(saveFavoriteAlert()) : std::nullopt;
    if (!label || label->trimmed().isEmpty())
        return;
    QList<AdvancedFindRuleSnapshot> snapshots;
    for (AdvancedFindRuleRowView *row : std::as_const(m_ruleRowViews)) {
        row->copyValueIntoRule();
        snapshots.append(AdvancedFindRuleSnapshot::fromRule(*row->rule()));
    }
    if (m_favorites.saveCurrent(*label, snapshots, compoundType()))
        rebuildFavoritesMenu();
}

void AdvancedFindViewController::applyFavoriteFromMenu(const QString &idString)
{
    const std::optional<AdvancedFindFavorite> favorite = m_favorites.favorite(idString);
    if (!favorite)
        return;
    resetRules();
    m_compoundTypePopUp->setCurrentIndex(m_compoundTypePopUp->findData(int(favorite->compoundType())));
    // The reset left one default row: it takes the first snapshot, and every
    // further snapshot gets a row of its own at the end.
    for (qsizetype i = 0; i < favorite->rules.size(); ++i) {
        AdvancedFindRuleRowView *row = i == 0 ? m_ruleRowViews.first() : insertRuleRow(m_ruleRowViews.size());
        row->applySnapshot(favorite->rules.at(i));
    }
    performSearch();
}

void AdvancedFindViewController::removeFavoriteFromMenu(const QString &idString)
{
    if (m_favorites.remove(idString))
        rebuildFavoritesMenu();
}

} // namespace ovalis
