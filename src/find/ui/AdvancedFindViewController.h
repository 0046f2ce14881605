#pragma once

#include <QList>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <optional>

#include "find/AdvancedFindCompoundType.h"
#include "find/AdvancedFindFavorites.h"
#include "find/ui/AdvancedFindLabelAlert.h"
#include "find/ui/AdvancedFindRuleRowViewDelegate.h"
#include "store/FetchRequest.h"

class QComboBox;
class QLabel;
class QMenu;
class QModelIndex;
class QPushButton;
class QScrollArea;
class QTableView;
class QToolButton;
class QVBoxLayout;

namespace ovalis {

class AdvancedFindResultsModel;
class AdvancedFindRuleRowView;
class Case;
class ManagedObject;
class ManagedObjectContext;

// The content of the Advanced Find window: the Match pop-up, the rule rows,
// the favourites, and the table of the cases the rules found. Searches run
// over every case of the context, whatever the library window filters.
class AdvancedFindViewController : public QWidget, public AdvancedFindRuleRowViewDelegate
{
    Q_OBJECT

public:
    // Asks for a favourite's label; nothing when the user cancels.
    using LabelPresenter = std::function<std::optional<QString>(const AdvancedFindLabelAlert::Texts &alert)>;
    // Runs a fetch in the context; a failure answers with a message in error.
    using CaseFetch = std::function<QList<ManagedObject *>(const FetchRequest &request, QString *error)>;

    // The context (not owned) must outlive the view; searches and the tag
    // labels are fetched in it, on the main thread. Loads the tag labels and
    // the favourites from the shared settings, and shows one default rule.
    explicit AdvancedFindViewController(ManagedObjectContext *context, QWidget *parent = nullptr);
    ~AdvancedFindViewController() override;

    // "Save Favourite Rules", with a 260 × 24 text field.
    static AdvancedFindLabelAlert::Texts saveFavoriteAlert();
    // Shows AdvancedFindLabelAlert modally unless replaced.
    void setLabelPresenter(LabelPresenter presenter) { m_labelPresenter = std::move(presenter); }
    // The context's own fetch unless replaced.
    void setCaseFetch(CaseFetch fetch) { m_caseFetch = std::move(fetch); }

    QComboBox *compoundTypePopUp() const { return m_compoundTypePopUp; }
    AdvancedFindCompoundType compoundType() const;
    QScrollArea *rulesScrollView() const { return m_rulesScrollView; }
    QWidget *rulesStackView() const { return m_rulesStackView; }
    const QList<AdvancedFindRuleRowView *> &ruleRowViews() const { return m_ruleRowViews; }
    QTableView *resultsTableView() const { return m_resultsTableView; }
    AdvancedFindResultsModel *resultsModel() const { return m_resultsModel; }
    const QList<Case *> &results() const;
    QLabel *resultCountLabel() const { return m_resultCountLabel; }
    QToolButton *favoritesPopUpButton() const { return m_favoritesPopUpButton; }
    QMenu *favoritesMenu() const { return m_favoritesMenu; }
    QPushButton *resetButton() const { return m_resetButton; }
    QPushButton *searchButton() const { return m_searchButton; }
    const QStringList &availableTagLabels() const { return m_availableTagLabels; }
    const QList<AdvancedFindFavorite> &favorites() const { return m_favorites.favorites(); }

    // "1 case found", "12 cases found".
    static QString resultCountText(qsizetype count);

    // AdvancedFindRuleRowViewDelegate
    void addRuleRow(AdvancedFindRuleRowView *after) override;
    void removeRuleRow(AdvancedFindRuleRowView *row) override;

public slots:
    // The rules read from their controls and run over the whole library,
    // newest case first. Also the Return key.
    void performSearch();
    // One default rule, no results; the Match choice stays.
    void resetRules();
    void saveCurrentRulesAsFavorite();
    // By the favourite's id string, the menu items' data; an unknown id does nothing.
    void applyFavoriteFromMenu(const QString &idString);
    void removeFavoriteFromMenu(const QString &idString);
    // Posts "Select Case In Library" for the case in that row of the results.
    void resultsTableDoubleClicked(const QModelIndex &index);

private:
    QWidget *makeTopBar();
    void setUpCompoundTypePopUp();
    void setUpFavoritesPopUpButton();
    void setUpResultsTable();
    void rebuildFavoritesMenu();
    AdvancedFindRuleRowView *insertRuleRow(qsizetype position);
    void rowsChanged();
    void showResults(const QList<Case *> &results, const QString &countText);
    void sortResults(int column, Qt::SortOrder order);

    ManagedObjectContext *m_context; // Not owned.
    AdvancedFindFavorites m_favorites;
    LabelPresenter m_labelPresenter;
    CaseFetch m_caseFetch;
    QStringList m_availableTagLabels;

    QComboBox *m_compoundTypePopUp = nullptr;
    QToolButton *m_favoritesPopUpButton = nullptr;
    QMenu *m_favoritesMenu = nullptr;
    QPushButton *m_resetButton = nullptr;
    QPushButton *m_searchButton = nullptr;
    QScrollArea *m_rulesScrollView = nullptr;
    QWidget *m_rulesStackView = nullptr;
    QVBoxLayout *m_rulesLayout = nullptr;
    QList<AdvancedFindRuleRowView *> m_ruleRowViews;
    QLabel *m_resultCountLabel = nullptr;
    QTableView *m_resultsTableView = nullptr;
    AdvancedFindResultsModel *m_resultsModel = nullptr;
    int m_sortColumn = -1;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
};

} // namespace ovalis
