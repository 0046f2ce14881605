#pragma once

#include <QLineEdit>
#include <QStringList>

class QActionGroup;
class QMenu;

namespace ovalis {

// The toolbar's search field: a line edit with a scope menu behind its
// magnifier. While a scope other than "All" is chosen, the text and the
// placeholder are drawn in the accent colour.
class SearchField : public QLineEdit
{
    Q_OBJECT

public:
    explicit SearchField(const QStringList &scopeTitles, QWidget *parent = nullptr);

    QMenu *scopeMenu() const { return m_scopeMenu; }
    // Checks the scope's menu item and sets placeholder and colours.
    void showScope(const QString &title, bool highlighted);
    bool isHighlighted() const { return m_highlighted; }
    QString scopeTitle() const { return m_scopeTitle; }

signals:
    void scopeChosen(const QString &title);
    // The field took the keyboard focus: a search may be about to start.
    void focusEntered();

protected:
    void focusInEvent(QFocusEvent *event) override;
    // Escape empties the field, which ends the search.
    void keyPressEvent(QKeyEvent *event) override;

private:
    QMenu *m_scopeMenu;
    QActionGroup *m_scopeGroup;
    QString m_scopeTitle;
    bool m_highlighted = false;
};

} // namespace ovalis
