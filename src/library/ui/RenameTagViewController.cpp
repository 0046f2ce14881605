#include "library/ui/RenameTagViewController.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>

namespace ovalis {

RenameTagViewController::RenameTagViewController(const QString &label, std::function<bool(const QString &)> rename,
                                                 QWidget *parent)
    : QWidget(parent, Qt::Popup)
    , m_nameField(new QLineEdit(label, this))
    , m_rename(std::move(rename))
{
    setObjectName(QStringLiteral("renameTagPopover"));
    setAttribute(Qt::WA_DeleteOnClose);
    m_nameField->setObjectName(QStringLiteral("nameField"));
    m_nameField->setMinimumWidth(200);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(10, 8, 10, 8);
    layout->addWidget(new QLabel(tr("Tag:"), this));
    layout->addWidget(m_nameField, 1);
    connect(m_nameField, &QLineEdit::returnPressed, this, &RenameTagViewController::dismiss);
}

void RenameTagViewController::showBeside(const QRect &globalRowRect)
{
    adjustSize();
    move(globalRowRect.right() + 1, globalRowRect.center().y() - height() / 2);
    show();
    m_nameField->setFocus(Qt::PopupFocusReason);
    m_nameField->selectAll();
}

void RenameTagViewController::dismiss()
{
    if (m_rename && m_rename(m_nameField->text()))
        close();
}

} // namespace ovalis
