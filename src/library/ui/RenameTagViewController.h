#pragma once

#include <QWidget>
#include <functional>

class QLineEdit;

namespace ovalis {

// A transient popover with the tag's label in an editable field. Return
// hands the text to the rename; the popover closes (and deletes itself) once
// the rename has taken it, and stays open for a blank name. Clicking
// elsewhere dismisses it without renaming.
class RenameTagViewController : public QWidget
{
    Q_OBJECT

public:
    // rename answers whether the name was taken.
    RenameTagViewController(const QString &label, std::function<bool(const QString &name)> rename, QWidget *parent = nullptr);

    QLineEdit *nameField() const { return m_nameField; }
    // Shows the popover to the right of the row's rectangle (global
    // coordinates), with the field focused and its text selected.
    void showBeside(const QRect &globalRowRect);

public slots:
    void dismiss();

private:
    QLineEdit *m_nameField;
    std::function<bool(const QString &)> m_rename;
};

} // namespace ovalis
