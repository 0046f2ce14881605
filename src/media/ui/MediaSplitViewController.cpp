#include "media/ui/MediaSplitViewController.h"

#include <QVariantAnimation>

#include "media/MediaCrop.h"
#include "media/ui/DisplayImageView.h"
#include "media/ui/MediaDisplayViewController.h"
#include "media/ui/SelectableMediaCollectionViewController.h"
#include "store/Case.h"
#include "store/Media.h"
#include "util/Settings.h"

namespace ovalis {

namespace {
const QString dividerKey = QStringLiteral("Media split view");
constexpr int animationMilliseconds = 180;
} // namespace

MediaSplitViewController::MediaSplitViewController(QWidget *parent)
    : QSplitter(Qt::Horizontal, parent)
    , m_collectionViewController(new SelectableMediaCollectionViewController(this))
    , m_displayViewController(new MediaDisplayViewController(this))
{
    setObjectName(QStringLiteral("mediaSplitView"));
    addWidget(m_collectionViewController);
    addWidget(m_displayViewController);
    setStretchFactor(0, 0);
    setStretchFactor(1, 1);
    setCollapsible(0, true);
    setCollapsible(1, false);
    if (!restoreState(Settings::shared().dataValue(dividerKey)))
        setSizes({defaultBrowserWidth, 800});
    if (sizes().value(0) > 0)
        m_browserWidth = sizes().value(0);
    connect(this, &QSplitter::splitterMoved, this, &MediaSplitViewController::saveDivider);

    connect(m_collectionViewController, &SelectableMediaCollectionViewController::currentCaseShown,
            m_displayViewController, &MediaDisplayViewController::setCurrentCase);
    connect(m_collectionViewController, &SelectableMediaCollectionViewController::displayRequested,
            m_displayViewController, &MediaDisplayViewController::showMedia);
    connect(m_displayViewController, &MediaDisplayViewController::moveSelectionRequested, m_collectionViewController,
            &SelectableMediaCollectionViewController::moveSelection);
}

MediaSplitViewController::~MediaSplitViewController() = default;

bool MediaSplitViewController::canCropSelectedImages() const
{
    return m_displayViewController->hasSelectionRect();
}

void MediaSplitViewController::cropSelectedImages()
{
    if (!canCropSelectedImages())
        return;
    const DisplayImageView *imageView = m_displayViewController->imageView();
    MediaCrop::cropSelectedImages(
        m_collectionViewController->selectedMedia(), imageView->selectionRect(), imageView->cropLayout(),
        [this](const QImage &image) { m_displayViewController->imageView()->setImage(image); },
        [this](Media *media) { return m_displayViewController->imageForEditing(media); });
    // Reloading keeps the same media selected and refreshes the display.
    m_collectionViewController->reloadMedia();
}

bool MediaSplitViewController::isBrowserCollapsed() const
{
    if (m_animation)
        return m_collapsing;
    return sizes().value(0) == 0;
}

void MediaSplitViewController::setBrowserCollapsed(bool collapsed, bool animated)
{
    if (m_animation)
        m_animation->stop();
    const int current = sizes().value(0);
    if (!collapsed && current == 0 && m_browserWidth <= 0)
        m_browserWidth = defaultBrowserWidth;
    if (collapsed && current > 0)
        m_browserWidth = current;
    const int target = collapsed ? 0 : m_browserWidth;
    if (!animated || !isVisible()) {
        setBrowserWidth(target);
        saveDivider();
        return;
    }
    auto *animation = new QVariantAnimation(this);
    animation->setDuration(animationMilliseconds);
    animation->setStartValue(current);
    animation->setEndValue(target);
    animation->setEasingCurve(QEasingCurve::InOutQuad);
    connect(animation, &QVariantAnimation::valueChanged, this,
            [this](const QVariant &value) { setBrowserWidth(value.toInt()); });
    connect(animation, &QVariantAnimation::finished, this, &MediaSplitViewController::saveDivider);
    m_collapsing = collapsed;
    m_animation = animation;
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

void MediaSplitViewController::setBrowserWidth(int width)
{
    const int total = sizes().value(0) + sizes().value(1);
    setSizes({width, std::max(0, total - width)});
}

void MediaSplitViewController::setDividerHidden(bool hidden)
{
    if (hidden == m_dividerHidden)
        return;
    m_dividerHidden = hidden;
    if (hidden)
        m_dividerWidth = handleWidth();
    setHandleWidth(hidden ? 0 : m_dividerWidth);
    if (QSplitterHandle *divider = handle(1))
        divider->setEnabled(!hidden);
}

void MediaSplitViewController::saveDivider()
{
    if (sizes().value(0) > 0)
        m_browserWidth = sizes().value(0);
    // The saved state holds the divider's width, which is only borrowed.
    if (m_dividerHidden)
        return;
    Settings::shared().setValue(dividerKey, saveState());
}

} // namespace ovalis
