#pragma once

#include <QWidget>

class QLabel;
class QSplitter;
class QTableView;

namespace ovalis {

class LibraryWithTagsViewController;
class ManagedObjectContext;

// The tag list beside the case list, with the case count under them. Shows
// the models of its controller and forwards the user's commands to it.
class LibraryWithTagsView : public QWidget
{
    Q_OBJECT

public:
    explicit LibraryWithTagsView(ManagedObjectContext *context, QWidget *parent = nullptr);
    ~LibraryWithTagsView() override;

    LibraryWithTagsViewController *controller() const { return m_controller; }
    QTableView *casesTableView() const { return m_casesTableView; }
    QTableView *tagsTableView() const { return m_tagsTableView; }
    QLabel *caseCountField() const { return m_caseCountField; }
    QSplitter *splitter() const { return m_splitter; }

    // The "Date Added" column hides in teaching mode.
    void setDateAddedColumnHidden(bool hidden);

public slots:
    void toggleTagFiltering();      // the tag under the context menu
    void filterTagsToSelection();

signals:
    // A double-click on a case or the case menu's "Show Media".
    void showMediaRequested();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void showTagsMenu(const QPoint &position);
    void showCasesMenu(const QPoint &position);
    void saveHeaderState() const;

    LibraryWithTagsViewController *m_controller;
    QSplitter *m_splitter;
    QTableView *m_tagsTableView;
    QTableView *m_casesTableView;
    QLabel *m_caseCountField;
    int m_contextTagRow = -1;
};

} // namespace ovalis
