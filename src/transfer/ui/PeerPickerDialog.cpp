#include "transfer/ui/PeerPickerDialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "transfer/PeerPicker.h"
#include "util/PrintableText.h"

namespace ovalis {

namespace {

constexpr int uniqueIDRole = Qt::UserRole;
constexpr int displayNameRole = Qt::UserRole + 1;

QString stateText(PeerPicker::PeerState state)
{
    switch (state) {
    case PeerPicker::PeerState::Invited:
        return QStringLiteral("Invited");
    case PeerPicker::PeerState::Connected:
        return QStringLiteral("Connected");
    case PeerPicker::PeerState::Available:
        break;
    }
    return QString();
}

} // namespace

PeerPickerDialog::PeerPickerDialog(PeerPicker *picker, QWidget *parent)
    : QDialog(parent)
    , m_picker(picker)
    , m_list(new QListWidget(this))
    , m_invite(new QPushButton(QStringLiteral("Invite"), this))
{
    setWindowTitle(QStringLiteral("Nearby Libraries"));
    resize(360, 320);
    auto *layout = new QVBoxLayout(this);
    QString heading = QStringLiteral("Choose a nearby library to invite into this session.");
    if (const std::optional<int> limit = picker->maximumNumberOfPeers())
        heading += QStringLiteral(" Up to %1 can join.").arg(*limit);
    auto *label = new QLabel(heading, this);
    label->setWordWrap(true);
    layout->addWidget(label);
    layout->addWidget(m_list);
    auto *buttons = new QDialogButtonBox(this);
    buttons->addButton(m_invite, QDialogButtonBox::ActionRole);
    QPushButton *cancelButton = buttons->addButton(QDialogButtonBox::Cancel);
    QPushButton *doneButton = buttons->addButton(QStringLiteral("Done"), QDialogButtonBox::AcceptRole);
    // Return means Done, wherever the focus is.
    m_invite->setAutoDefault(false);
    cancelButton->setAutoDefault(false);
    doneButton->setDefault(true);
    layout->addWidget(buttons);
    connect(m_invite, &QPushButton::clicked, this, &PeerPickerDialog::invite);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_list, &QListWidget::currentRowChanged, this, &PeerPickerDialog::updateInviteButton);
    connect(m_picker, &PeerPicker::entriesChanged, this, &PeerPickerDialog::reload);
    connect(m_picker, &PeerPicker::finished, this, [this] { QDialog::done(Accepted); });
    connect(m_picker, &PeerPicker::cancelled, this, [this] { QDialog::done(Rejected); });
    reload();
}

void PeerPickerDialog::reload()
{
    const QString current = m_list->currentItem() ? m_list->currentItem()->data(uniqueIDRole).toString() : QString();
    m_list->clear();
    if (!m_picker)
        return;
    for (const PeerPicker::Entry &entry : m_picker->entries()) {
        const QString state = stateText(entry.state);
        const QString name = PrintableText::from(entry.peer.displayName);
        auto *item = new QListWidgetItem(state.isEmpty() ? name : QStringLiteral("%1 — %2").arg(name, state), m_list);
        item->setData(uniqueIDRole, entry.peer.uniqueID);
        item->setData(displayNameRole, entry.peer.displayName);
        if (entry.peer.uniqueID == current)
            m_list->setCurrentItem(item);
    }
    updateInviteButton();
}

void PeerPickerDialog::updateInviteButton()
{
    const QListWidgetItem *item = m_list->currentItem();
    m_invite->setEnabled(item && m_picker
                         && m_picker->canInvite({item->data(uniqueIDRole).toString(), item->data(displayNameRole).toString()}));
}

void PeerPickerDialog::invite()
{
    if (const QListWidgetItem *item = m_list->currentItem(); item && m_picker)
        m_picker->invite({item->data(uniqueIDRole).toString(), item->data(displayNameRole).toString()});
}

void PeerPickerDialog::done(int result)
{
    // Done, Cancel, Escape and the close button end the picker; its end
    // closes the dialog.
    if (!m_picker || m_picker->isEnded()) {
        QDialog::done(result);
        return;
    }
    if (result == Accepted)
        m_picker->finish();
    else
        m_picker->cancel();
}

} // namespace ovalis
