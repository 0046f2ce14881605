#include "util/UndoManager.h"

#include "util/Log.h"

#include <QScopeGuard>
#include <QTimer>
#include <algorithm>
#include <utility>

namespace ovalis {

UndoManager::UndoManager(QObject *parent)
    : QObject(parent)
{
}

UndoManager::~UndoManager() = default;

void UndoManager::registerUndo(std::function<void()> action)
{
    if (!isUndoRegistrationEnabled() || !action)
        return;
    if (m_undoing || m_redoing) {
        m_builtGroup->actions.push_back(std::move(action));
        return;
    }

    const Snapshot before = snapshot();
    if (!m_openGroup) {
        if (!m_groupsByEvent) {
            m_redoStack.clear();
            Group group;
            group.actions.push_back(std::move(action));
            pushUndoGroup(std::move(group));
            emitChangedSince(before);
            emit didCloseUndoGroup();
            return;
        }
        openAutomaticGroup();
    }
    m_openGroup->actions.push_back(std::move(action));
    m_redoStack.clear();
    emitChangedSince(before);
}

void UndoManager::beginUndoGrouping()
{
    if (m_undoing || m_redoing) {
        ++m_levelWhileRunning;
        return;
    }
    if (!m_openGroup)
        m_openGroup = Group{};
    ++m_explicitLevel;
}

void UndoManager::endUndoGrouping()
{
    if (m_undoing || m_redoing) {
        if (m_levelWhileRunning == 0)
            Log::error(LogArea::UI, QStringLiteral("endUndoGrouping without a matching beginUndoGrouping"));
        else
            --m_levelWhileRunning;
        return;
    }
    if (m_explicitLevel == 0) {
        Log::error(LogArea::UI, QStringLiteral("endUndoGrouping without a matching beginUndoGrouping"));
        return;
    }
    if (--m_explicitLevel > 0)
        return;
    if (!m_automaticOpen || m_closeAutomaticWhenExplicitEnds)
        closeOpenGroup();
}

int UndoManager::groupingLevel() const
{
    return m_explicitLevel + (m_automaticOpen ? 1 : 0) + m_levelWhileRunning;
}

void UndoManager::setGroupsByEvent(bool groupsByEvent)
{
    m_groupsByEvent = groupsByEvent;
}

void UndoManager::openAutomaticGroup()
{
    m_openGroup = Group{};
    m_automaticOpen = true;
    const quint64 generation = ++m_automaticGeneration;
    QTimer::singleShot(0, this, [this, generation] {
        if (!m_automaticOpen || generation != m_automaticGeneration)
            return;
        // A group begun in this turn and ended in a later one keeps the
        // automatic group open until it ends.
        if (m_explicitLevel > 0)
            m_closeAutomaticWhenExplicitEnds = true;
        else
            closeOpenGroup();
    });
}

void UndoManager::closeAutomaticGroup()
{
    if (!m_automaticOpen)
        return;
    if (m_explicitLevel > 0) {
        Log::error(LogArea::UI, QStringLiteral("Cannot close the automatic undo group while an undo group is open inside it"));
        return;
    }
    closeOpenGroup();
}

void UndoManager::closeOpenGroup()
{
    const Snapshot before = snapshot();
    std::optional<Group> group = std::exchange(m_openGroup, std::nullopt);
    m_automaticOpen = false;
    m_closeAutomaticWhenExplicitEnds = false;
    const bool kept = group && !group->actions.empty();
    if (kept)
        pushUndoGroup(std::move(*group));
    emitChangedSince(before);
    if (kept)
        emit didCloseUndoGroup();
}

void UndoManager::pushUndoGroup(Group group)
{
    m_undoStack.push_back(std::move(group));
    trimToLevels();
}

void UndoManager::trimToLevels()
{
    if (m_levelsOfUndo <= 0)
        return;
    const auto trim = [this](std::vector<Group> &stack) {
        if (stack.size() > size_t(m_levelsOfUndo))
            stack.erase(stack.begin(), stack.end() - m_levelsOfUndo);
    };
    trim(m_undoStack);
    trim(m_redoStack);
}

void UndoManager::setActionName(const QString &name)
{
    const Snapshot before = snapshot();
    if (m_undoing || m_redoing)
        m_builtGroup->name = name;
    else if (m_openGroup)
        m_openGroup->name = name;
    else if (!m_undoStack.empty())
        m_undoStack.back().name = name;
    emitChangedSince(before);
}

const UndoManager::Group *UndoManager::effectiveUndoGroup() const
{
    if (m_explicitLevel > 0)
        return nullptr;
    if (m_automaticOpen && !m_openGroup->actions.empty())
        return &*m_openGroup;
    return m_undoStack.empty() ? nullptr : &m_undoStack.back();
}

QString UndoManager::undoActionName() const
{
    const Group *group = effectiveUndoGroup();
    return group ? group->name : QString();
}

QString UndoManager::redoActionName() const
{
    return m_redoStack.empty() ? QString() : m_redoStack.back().name;
}

QString UndoManager::undoMenuItemTitle() const
{
    const QString name = undoActionName();
    return name.isEmpty() ? tr("Undo") : tr("Undo %1").arg(name);
}

QString UndoManager::redoMenuItemTitle() const
{
    const QString name = redoActionName();
    return name.isEmpty() ? tr("Redo") : tr("Redo %1").arg(name);
}

bool UndoManager::canUndo() const
{
    return !m_undoing && !m_redoing && effectiveUndoGroup();
}

bool UndoManager::canRedo() const
{
    return !m_undoing && !m_redoing && m_explicitLevel == 0 && !m_redoStack.empty();
}

void UndoManager::undo()
{
    run(Direction::Undo);
}

void UndoManager::redo()
{
    run(Direction::Redo);
}

void UndoManager::run(Direction direction)
{
    const bool undoing = direction == Direction::Undo;
    const QString verb = undoing ? QStringLiteral("Undo") : QStringLiteral("Redo");
    if (m_undoing || m_redoing) {
        Log::error(LogArea::UI, QStringLiteral("%1 requested while an undo or redo is in progress; ignored").arg(verb));
        return;
    }
    if (m_explicitLevel > 0) {
        Log::error(LogArea::UI, QStringLiteral("%1 requested while an undo group is open; ignored").arg(verb));
        return;
    }
    closeAutomaticGroup();
    std::vector<Group> &source = undoing ? m_undoStack : m_redoStack;
    if (source.empty())
        return;

    if (undoing)
        emit willUndo();
    else
        emit willRedo();
    // A receiver of willUndo may have finished an edit in progress and
    // registered it; that edit becomes a step of its own before this one.
    if (m_explicitLevel > 0) {
        Log::error(LogArea::UI, QStringLiteral("%1 requested while an undo group is open; ignored").arg(verb));
        return;
    }
    closeAutomaticGroup();
    if (source.empty())
        return;

    const Snapshot before = snapshot();
    Group group = std::move(source.back());
    source.pop_back();

    m_builtGroup = Group{group.name, {}};
    {
        (undoing ? m_undoing : m_redoing) = true;
        const auto finish = qScopeGuard([this] {
            m_undoing = false;
            m_redoing = false;
            m_levelWhileRunning = 0;
        });
        for (auto action = group.actions.rbegin(); action != group.actions.rend(); ++action)
            (*action)();
        if (m_levelWhileRunning != 0)
            Log::error(LogArea::UI, QStringLiteral("%1 left %2 undo group(s) open").arg(verb).arg(m_levelWhileRunning));
    }

    Group built = std::move(*m_builtGroup);
    m_builtGroup.reset();
    if (!built.actions.empty()) {
        (undoing ? m_redoStack : m_undoStack).push_back(std::move(built));
        trimToLevels();
    }
    emitChangedSince(before);
    if (undoing)
        emit didUndo();
    else
        emit didRedo();
}

void UndoManager::disableUndoRegistration()
{
    ++m_disabledCount;
}

void UndoManager::enableUndoRegistration()
{
    if (m_disabledCount == 0) {
        Log::error(LogArea::UI, QStringLiteral("enableUndoRegistration without a matching disableUndoRegistration"));
        return;
    }
    --m_disabledCount;
}

void UndoManager::removeAllActions()
{
    const Snapshot before = snapshot();
    m_undoStack.clear();
    m_redoStack.clear();
    if (m_openGroup)
        *m_openGroup = Group{};
    if (m_builtGroup)
        *m_builtGroup = Group{};
    emitChangedSince(before);
}

void UndoManager::setLevelsOfUndo(int levels)
{
    const Snapshot before = snapshot();
    m_levelsOfUndo = std::max(0, levels);
    trimToLevels();
    emitChangedSince(before);
}

UndoManager::Snapshot UndoManager::snapshot() const
{
    return {m_undoStack.size(), m_redoStack.size(), canUndo(), undoActionName(), redoActionName()};
}

void UndoManager::emitChangedSince(const Snapshot &before)
{
    if (snapshot() != before)
        emit changed();
}

} // namespace ovalis
