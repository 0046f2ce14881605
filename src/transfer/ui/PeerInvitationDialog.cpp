#include "transfer/ui/PeerInvitationDialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "util/PrintableText.h"

namespace ovalis {

PeerInvitationDialog::PeerInvitationDialog(const QString &libraryName, const QString &verificationCode, int timeoutSeconds,
                                           QWidget *parent)
    : QDialog(parent)
    , m_message(QStringLiteral("“%1” wants to connect to fetch media files from this library.").arg(PrintableText::from(libraryName)))
{
    setWindowTitle(QStringLiteral("Sync Media"));
    auto *layout = new QVBoxLayout(this);
    // The other library names itself: its name is shown as it is, never as markup.
    auto *message = new QLabel(m_message, this);
    message->setTextFormat(Qt::PlainText);
    message->setWordWrap(true);
    layout->addWidget(message);
    auto *code = new QLabel(verificationCode, this);
    code->setTextFormat(Qt::PlainText);
    QFont large = code->font();
    large.setPointSizeF(large.pointSizeF() * 2);
    large.setBold(true);
    code->setFont(large);
    code->setAlignment(Qt::AlignCenter);
    code->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(code);
    auto *hint = new QLabel(QStringLiteral("Accept only if the other library shows the same code."), this);
    hint->setWordWrap(true);
    layout->addWidget(hint);
    auto *buttons = new QDialogButtonBox(this);
    buttons->addButton(QStringLiteral("Decline"), QDialogButtonBox::RejectRole);
    buttons->addButton(QStringLiteral("Accept"), QDialogButtonBox::AcceptRole);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    m_timeout.setSingleShot(true);
    connect(&m_timeout, &QTimer::timeout, this, &QDialog::reject);
    m_timeout.start(timeoutSeconds * 1000);
}

} // namespace ovalis
