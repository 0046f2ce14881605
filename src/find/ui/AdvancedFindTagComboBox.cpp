#include "find/ui/AdvancedFindTagComboBox.h"

#include <QLineEdit>

#include "find/AdvancedFindTagLabels.h"

namespace ovalis {

AdvancedFindTagComboBox::AdvancedFindTagComboBox(const QStringList &sortedLabels, QWidget *parent)
    : QComboBox(parent)
    , m_sortedLabels(sortedLabels)
{
    setEditable(true);
    // The proposal comes from complete(), not from Qt's own completer, and
    // Return searches rather than adding the text to the list.
    setCompleter(nullptr);
    setInsertPolicy(QComboBox::NoInsert);
    addItems(sortedLabels);
    setCurrentIndex(-1);
    lineEdit()->setPlaceholderText(QStringLiteral("Tag"));
    connect(lineEdit(), &QLineEdit::textEdited, this, &AdvancedFindTagComboBox::complete);
}

void AdvancedFindTagComboBox::complete(const QString &typed)
{
    // Only typing at the end proposes; deleting (the proposal or a letter)
    // and editing inside the text leave the text as it is.
    const bool grew = typed.size() > m_lastTyped.size();
    m_lastTyped = typed;
    QLineEdit *edit = lineEdit();
    if (!grew || edit->cursorPosition() != typed.size())
        return;
    const QString label = AdvancedFindTagLabels::completion(m_sortedLabels, typed);
    if (label.isEmpty() || label.size() <= typed.size())
        return;
    edit->setText(label);
    edit->setSelection(label.size(), typed.size() - label.size());
}

} // namespace ovalis
