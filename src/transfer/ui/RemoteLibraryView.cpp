#include "transfer/ui/RemoteLibraryView.h"

#include <QHBoxLayout>
#include <QLabel>

#include "transfer/ui/ConnectedImageView.h"
#include "transfer/ui/TransferSymbols.h"
#include "util/PrintableText.h"

namespace ovalis {

RemoteLibraryView::RemoteLibraryView(const RemoteMediaLibrary &remote, QWidget *parent)
    : QWidget(parent)
    , m_remote(remote)
    , m_connectedImageView(new ConnectedImageView(this))
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(8, 4, 8, 4);
    auto *symbol = new QLabel(this);
    symbol->setPixmap(TransferSymbols::device(remote.device, 22));
    layout->addWidget(symbol);
    // The other library names itself: its name is shown as it is, never as markup.
    auto *label = new QLabel(PrintableText::from(remote.label), this);
    label->setTextFormat(Qt::PlainText);
    QFont headline = label->font();
    headline.setBold(true);
    label->setFont(headline);
    layout->addWidget(label, 1);
    layout->addWidget(m_connectedImageView);
}

void RemoteLibraryView::setConnected(bool connected)
{
    m_connectedImageView->setConnected(connected);
}

} // namespace ovalis
