#include "library/ui/SearchField.h"

#include <QAction>
#include <QActionGroup>
#include <QIcon>
#include <QKeyEvent>
#include <QMenu>

#include "library/ValueTransformer.h"

namespace ovalis {

SearchField::SearchField(const QStringList &scopeTitles, QWidget *parent)
    : QLineEdit(parent)
    , m_scopeMenu(new QMenu(this))
    , m_scopeGroup(new QActionGroup(this))
{
    setObjectName(QStringLiteral("searchField"));
    setClearButtonEnabled(true);
    setMinimumWidth(260);
    for (const QString &title : scopeTitles) {
        QAction *action = m_scopeMenu->addAction(title);
        action->setCheckable(true);
        m_scopeGroup->addAction(action);
        connect(action, &QAction::triggered, this, [this, title] { emit scopeChosen(title); });
    }
    QIcon icon = QIcon::fromTheme(QStringLiteral("edit-find"));
    if (icon.isNull())
        icon = QIcon::fromTheme(QStringLiteral("system-search"));
    QAction *menuAction = addAction(icon, QLineEdit::LeadingPosition);
    menuAction->setToolTip(QStringLiteral("Choose what to search"));
    connect(menuAction, &QAction::triggered, this,
            [this] { m_scopeMenu->exec(mapToGlobal(QPoint(0, height()))); });
}

void SearchField::showScope(const QString &title, bool highlighted)
{
    m_scopeTitle = title;
    m_highlighted = highlighted;
    for (QAction *action : m_scopeGroup->actions())
        action->setChecked(action->text() == title);
    setPlaceholderText(QStringLiteral("Search ") + title);
    QPalette palette = QWidget::palette();
    const QPalette standard = parentWidget() ? parentWidget()->palette() : QPalette();
    const QColor text = highlighted ? ValueTransformer::accentColor() : standard.color(QPalette::Text);
    const QColor placeholder = highlighted ? ValueTransformer::accentColor() : standard.color(QPalette::PlaceholderText);
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::PlaceholderText, placeholder);
    setPalette(palette);
}

void SearchField::focusInEvent(QFocusEvent *event)
{
    QLineEdit::focusInEvent(event);
    emit focusEntered();
}

void SearchField::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier && !text().isEmpty()) {
        clear();
        event->accept();
        return;
    }
    QLineEdit::keyPressEvent(event);
}

} // namespace ovalis
