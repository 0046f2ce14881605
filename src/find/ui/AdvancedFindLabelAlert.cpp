#include "find/ui/AdvancedFindLabelAlert.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace ovalis {

AdvancedFindLabelAlert::AdvancedFindLabelAlert(const Texts &texts, QWidget *parent)
    : QDialog(parent)
    , m_accessoryField(new QLineEdit(this))
{
    setWindowTitle(texts.messageText);
    setModal(true);

    auto *message = new QLabel(texts.messageText, this);
    QFont bold = message->font();
    bold.setBold(true);
    message->setFont(bold);
    auto *informative = new QLabel(texts.informativeText, this);
    informative->setWordWrap(true);
    m_accessoryField->setFixedSize(texts.accessorySize);

    auto *buttons = new QDialogButtonBox(this);
    QPushButton *accept = buttons->addButton(texts.buttonTitles.value(0), QDialogButtonBox::AcceptRole);
    buttons->addButton(texts.buttonTitles.value(1), QDialogButtonBox::RejectRole);
    accept->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 16, 20, 16);
    layout->setSpacing(8);
    layout->addWidget(message);
    layout->addWidget(informative);
    layout->addWidget(m_accessoryField);
    layout->addSpacing(4);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    m_accessoryField->setFocus();
}

QString AdvancedFindLabelAlert::text() const
{
    return m_accessoryField->text();
}

} // namespace ovalis
