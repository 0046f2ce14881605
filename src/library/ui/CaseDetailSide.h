#pragma once

#include <QList>
#include <QTabWidget>

class QLabel;
class QStackedWidget;
class QTextBrowser;

namespace ovalis {

class AbstractMediaCollectionViewController;
class Case;

// The detail side of the library window: the Info, Preview and Links tabs
// for the cases selected in the case list, with "No Selection" and
// "Multiple Selection" shown when there is not exactly one case.
class CaseDetailSide : public QTabWidget
{
    Q_OBJECT

public:
    enum Tab { InfoTab, PreviewTab, LinksTab };

    explicit CaseDetailSide(QWidget *parent = nullptr);

    void showCases(const QList<Case *> &cases);
    Case *shownCase() const { return m_case; }
    QString overlayText() const; // empty while one case is shown
    // The Preview tab's read-only grid of the shown case's media.
    AbstractMediaCollectionViewController *previewCollection() const { return m_preview; }

private:
    void refresh();
    QWidget *makePage(QWidget *content, QLabel **overlay, QStackedWidget **stack);

    Case *m_case = nullptr;
    int m_selectionCount = 0;
    QTextBrowser *m_info;
    AbstractMediaCollectionViewController *m_preview;
    QTextBrowser *m_links;
    QList<QLabel *> m_overlays;
    QList<QStackedWidget *> m_stacks;
};

} // namespace ovalis
