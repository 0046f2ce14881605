#include "library/ui/DetailTabViewController.h"

#include <QKeyEvent>
#include <QMetaObject>

#include "library/ui/InfoViewController.h"
#include "library/ui/LinksViewController.h"
#include "media/ui/AbstractMediaCollectionViewController.h"
#include "util/ApplicationEventMonitor.h"

namespace ovalis {

namespace {

// The tab of Ctrl with 1, 2 or 3 (keypad or not); none for any other key.
std::optional<DetailTabIndex> tabForKey(const QKeyEvent *event)
{
    if ((event->modifiers() & ~Qt::KeypadModifier) != Qt::ControlModifier)
        return std::nullopt;
    switch (event->key()) {
    case Qt::Key_1:
        return DetailTabIndex::casesInfo;
    case Qt::Key_2:
        return DetailTabIndex::preview;
    case Qt::Key_3:
        return DetailTabIndex::links;
    default:
        return std::nullopt;
    }
}

} // namespace

DetailTabViewController::DetailTabViewController(QWidget *parent, LinkActivator::Opener opener)
    : QTabWidget(parent)
    , m_infoViewController(new InfoViewController)
    , m_previewViewController(new AbstractMediaCollectionViewController)
    , m_linksViewController(new LinksViewController(nullptr, std::move(opener)))
{
    setObjectName(QStringLiteral("detailSide"));
    setDocumentMode(true);
    // Two columns of thumbnails fit the side at its usual width.
    m_previewViewController->setThumbnailDisplaySide(120);
    addTab(m_infoViewController, QStringLiteral("Info"));
    addTab(m_previewViewController, QStringLiteral("Preview"));
    addTab(m_linksViewController, QStringLiteral("Links"));
    setTabToolTip(int(DetailTabIndex::casesInfo), QStringLiteral("Ctrl+1"));
    setTabToolTip(int(DetailTabIndex::preview), QStringLiteral("Ctrl+2"));
    setTabToolTip(int(DetailTabIndex::links), QStringLiteral("Ctrl+3"));
    connect(m_infoViewController, &InfoViewController::goToLinksRequested, this,
            [this] { selectTab(DetailTabIndex::links); });
}

DetailTabViewController::~DetailTabViewController() = default;

void DetailTabViewController::selectTab(DetailTabIndex index)
{
    setCurrentIndex(int(index));
}

void DetailTabViewController::followSelection(const QList<Case *> &selectedCases)
{
    const int count = int(selectedCases.size());
    for (CaseOwningViewController *view : {static_cast<CaseOwningViewController *>(m_infoViewController),
                                           static_cast<CaseOwningViewController *>(m_linksViewController)})
        view->setNumberOfSelectedCases(count);
    m_pendingCase = selectedCases.value(0, nullptr);
    if (m_pendingCaseQueued)
        return;
    m_pendingCaseQueued = true;
    QMetaObject::invokeMethod(this, &DetailTabViewController::showPendingCase, Qt::QueuedConnection);
}

void DetailTabViewController::showPendingCase()
{
    m_pendingCaseQueued = false;
    m_infoViewController->setRepresentedObject(m_pendingCase);
    m_linksViewController->setRepresentedObject(m_pendingCase);
    m_previewViewController->setCurrentCase(m_pendingCase);
}

void DetailTabViewController::showEvent(QShowEvent *event)
{
    QTabWidget::showEvent(event);
    if (!m_keyDownEventMonitorToken.isActive())
        m_keyDownEventMonitorToken = ApplicationEventMonitor::install(this);
}

void DetailTabViewController::hideEvent(QHideEvent *event)
{
    QTabWidget::hideEvent(event);
    m_keyDownEventMonitorToken.reset();
}

bool DetailTabViewController::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress && watched->isWidgetType()
        && static_cast<QWidget *>(watched)->window() == window()) {
        if (const std::optional<DetailTabIndex> tab = tabForKey(static_cast<QKeyEvent *>(event))) {
            selectTab(*tab);
            return true;
        }
    }
    return QTabWidget::eventFilter(watched, event);
}

} // namespace ovalis
