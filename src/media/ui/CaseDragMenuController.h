#pragma once

#include <QMenu>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <functional>

#include "library/CaseReference.h"

class QWidget;

namespace ovalis {

class Case;

// The menu that comes up when one case of the case list is dropped onto
// another: link the two cases, or merge the dragged case's tags, media or
// everything into the case dropped onto. Each command is one undo step on
// the source case's context's undo manager. Main thread.
class CaseDragMenuController : public QObject
{
    Q_OBJECT

public:
    explicit CaseDragMenuController(QObject *parent = nullptr);
    ~CaseDragMenuController() override;

    // The cases of the last drop, kept until the next one; nullptr once
    // their library is gone.
    Case *sourceCase() const { return m_sourceCase.get(); }
    Case *destinationCase() const { return m_destinationCase.get(); }

    // Remembers the two cases and pops up the menu for view at the global
    // position; nothing happens without a view. The menu deletes itself when
    // it closes.
    void showMenu(Case *source, Case *destination, QWidget *view, const QPoint &globalPosition);
    // The menu shown last, while it exists.
    QMenu *menu() const { return m_menu; }

public slots:
    void linkCases();
    void copyTags();
    void copyImages();
    void copyAll();

private:
    // Logs the line and runs the operations on the two cases as one undo
    // group named actionName; nothing when either case has gone.
    void runAsUndoStep(const QString &logLine, const QString &actionName,
                       const std::function<void(Case *source, Case *destination)> &operations);

    CaseReference m_sourceCase{nullptr};
    CaseReference m_destinationCase{nullptr};
    QPointer<QMenu> m_menu;
};

} // namespace ovalis
