#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <optional>
#include <vector>

namespace ovalis {

// Undo and redo stacks of groups of closures. The store and the windows
// register a closure that reverses each change they make; the closures of one
// group are undone together as one step.
//
// Lives on the main thread and is used only from there. Actions run
// synchronously inside undo() and redo().
class UndoManager : public QObject
{
    Q_OBJECT

public:
    explicit UndoManager(QObject *parent = nullptr);
    ~UndoManager() override;

    // Ignored while registration is disabled. While undoing, the action goes
    // into the redo group being built; while redoing, into the undo group
    // being built. Otherwise it goes into the open group (opening an
    // automatic one when grouping by event) and the redo stack is cleared.
    void registerUndo(std::function<void()> action);

    // Nestable: inner groups fold into the outermost one.
    void beginUndoGrouping();
    void endUndoGrouping();
    // Open groups, counting an open automatic group as one.
    int groupingLevel() const;

    // When true (the default), a registration made outside any group opens a
    // group that closes at the end of the current event-loop turn. When false
    // such a registration becomes a step of its own.
    bool groupsByEvent() const { return m_groupsByEvent; }
    void setGroupsByEvent(bool groupsByEvent);
    // Closes the automatic group now, if one is open and no explicit group is
    // open inside it.
    void closeAutomaticGroup();

    // Names the open group, or the most recent step when no group is open.
    void setActionName(const QString &name);
    QString undoActionName() const;
    QString redoActionName() const;
    // "Undo" or "Undo <name>"; "Redo" or "Redo <name>".
    QString undoMenuItemTitle() const;
    QString redoMenuItemTitle() const;

    bool canUndo() const;
    bool canRedo() const;
    // Undoes the most recent step, building a redo step of the same name from
    // what its actions register. An error while an explicit group is open.
    void undo();
    void redo();
    bool isUndoing() const { return m_undoing; }
    bool isRedoing() const { return m_redoing; }

    // Nestable: registration is enabled again once every disable is balanced.
    void disableUndoRegistration();
    void enableUndoRegistration();
    bool isUndoRegistrationEnabled() const { return m_disabledCount == 0; }

    void removeAllActions();
    // 0 means unlimited; the oldest steps are dropped beyond the limit.
    int levelsOfUndo() const { return m_levelsOfUndo; }
    void setLevelsOfUndo(int levels);

signals:
    // After any change of the stacks or of the action names.
    void changed();
    void willUndo();
    void didUndo();
    void willRedo();
    void didRedo();
    // After a group holding at least one action joins the undo stack.
    void didCloseUndoGroup();

private:
    struct Group {
        QString name;
        std::vector<std::function<void()>> actions;
    };

    struct Snapshot {
        size_t undoCount = 0;
        size_t redoCount = 0;
        bool canUndo = false;
        QString undoName;
        QString redoName;
        friend bool operator==(const Snapshot &, const Snapshot &) = default;
    };

    enum class Direction { Undo, Redo };

    void run(Direction direction);
    void openAutomaticGroup();
    void closeOpenGroup();
    void pushUndoGroup(Group group);
    void trimToLevels();
    const Group *effectiveUndoGroup() const;
    Snapshot snapshot() const;
    void emitChangedSince(const Snapshot &before);

    std::vector<Group> m_undoStack; // Oldest first.
    std::vector<Group> m_redoStack; // Oldest first.
    std::optional<Group> m_openGroup;
    std::optional<Group> m_builtGroup; // Collects registrations while undoing or redoing.
    int m_explicitLevel = 0;
    int m_levelWhileRunning = 0; // Groups begun by actions during undo() or redo().
    bool m_automaticOpen = false;
    bool m_closeAutomaticWhenExplicitEnds = false;
    quint64 m_automaticGeneration = 0;
    bool m_groupsByEvent = true;
    bool m_undoing = false;
    bool m_redoing = false;
    int m_disabledCount = 0;
    int m_levelsOfUndo = 0;
};

} // namespace ovalis
