#include "media/ui/AbstractMediaCollectionViewController.h"

#include <QVBoxLayout>

#include "media/MediaCollectionModel.h"
#include "media/MediaThumbnailProvider.h"
#include "media/ui/MediaGridView.h"
#include "media/ui/MediaThumbnailDelegate.h"
#include "store/Case.h"
#include "store/LibraryNotifications.h"
#include "util/Log.h"
#include "util/NotificationCenter.h"

namespace ovalis {

AbstractMediaCollectionViewController::AbstractMediaCollectionViewController(QWidget *parent)
    : AbstractMediaCollectionViewController(MediaThumbnailProvider::shared(), parent)
{
}

AbstractMediaCollectionViewController::AbstractMediaCollectionViewController(MediaThumbnailProvider *provider,
                                                                             QWidget *parent)
    : QWidget(parent)
    , m_provider(provider)
    , m_model(new MediaCollectionModel(provider, this))
    , m_view(new MediaGridView(this))
    , m_delegate(new MediaThumbnailDelegate(provider->side(), m_view))
{
    m_view->setItemDelegate(m_delegate);
    setThumbnailDisplaySide(provider->side());
    m_view->setModel(m_model);
    m_view->setSelectionMode(QAbstractItemView::NoSelection);
    m_view->setContextMenuPolicy(Qt::NoContextMenu);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view);
}

AbstractMediaCollectionViewController::~AbstractMediaCollectionViewController() = default;

void AbstractMediaCollectionViewController::setThumbnailDisplaySide(int side)
{
    m_delegate->setThumbnailSide(side);
    m_view->setGridSize(m_delegate->cellSize(m_view->font()) + QSize(m_view->spacing(), m_view->spacing()));
    m_view->viewport()->update();
}

int AbstractMediaCollectionViewController::thumbnailDisplaySide() const
{
    return m_delegate->thumbnailSide();
}

QListView *AbstractMediaCollectionViewController::collectionView() const
{
    return m_view;
}

Case *AbstractMediaCollectionViewController::currentCase() const
{
    return m_currentCase;
}

void AbstractMediaCollectionViewController::setCurrentCase(Case *item)
{
    m_currentCase = item;
    reloadMedia();
}

const QList<Media *> &AbstractMediaCollectionViewController::mediaArray() const
{
    return m_mediaArray;
}

void AbstractMediaCollectionViewController::reloadMedia()
{
    m_mediaArray = m_currentCase ? m_currentCase->sortedMedia() : QList<Media *>();
    m_model->setMedia(m_mediaArray);
    if (isVisible())
        m_model->prefetchThumbnails();
}

void AbstractMediaCollectionViewController::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_updatedMediaToken.isActive())
        return;
    reloadMedia();
    m_updatedMediaToken = NotificationCenter::defaultCenter().addObserver(
        LibraryNotifications::updatedMedia, nullptr,
        [this](const Notification &) {
            Log::info(LogArea::UI, QStringLiteral("Media was updated"));
            // Files may have been replaced under the same names.
            m_provider->revalidate();
            reloadMedia();
            m_view->viewport()->update();
        },
        NotificationCenter::Delivery::MainThread);
}

void AbstractMediaCollectionViewController::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    if (!m_updatedMediaToken.isActive())
        return;
    Log::info(LogArea::TearDown, QStringLiteral("Tear down observers"));
    m_updatedMediaToken.reset();
    m_model->cancelThumbnails();
}

} // namespace ovalis
