#include "media/ui/MediaDisplayViewController.h"

#include <QAbstractSpinBox>
#include <QAction>
#include <QApplication>
#include <QFrame>
#include <QKeyEvent>
#include <QLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPainter>
#include <QScreen>
#include <QTextEdit>
#include <QUrl>
#include <cstdlib>

#include "media/CursorImage.h"
#include "media/DicomWindowing.h"
#include "media/DisplayImageLoader.h"
#include "media/ExternalEditor.h"
#include "media/MediaFileWatcher.h"
#include "media/MediaOverlayText.h"
#include "media/PlaceholderImage.h"
#include "media/ui/DisplayImageView.h"
#include "media/ui/InteractiveView.h"
#include "media/ui/LoopingMoviePlayer.h"
#include "media/ui/MediaSingleLabelView.h"
#include "media/ui/MediaSummaryAndDetailView.h"
#include "media/ui/MovieView.h"
#include "store/Case.h"
#include "store/LibraryNotifications.h"
#include "store/Media.h"
#include "store/MediaTypes.h"
#include "store/NHI.h"
#include "util/ApplicationEventMonitor.h"
#include "util/NotificationCenter.h"

namespace ovalis {

namespace {

constexpr int overlayMargin = 16;
constexpr int overlaySpacing = 8;
constexpr int descriptionMaximumWidth = 960;
constexpr double loupeFactor = 1.0;
constexpr double magnifierFactor = 2.0 / 3.0;
constexpr qreal dimmedOpacity = 0.3;
// Decoded images are at least this large, so that a window moved to a
// larger screen does not show them coarser than the screen.
const QSize minimumDecodeSize(1920, 1200);

// X11 keysyms of the modifier keys, which tell left from right.
constexpr quint32 keysymMetaLeft = 0xffe7;
constexpr quint32 keysymMetaRight = 0xffe8;
constexpr quint32 keysymSuperLeft = 0xffeb;
constexpr quint32 keysymSuperRight = 0xffec;

enum class ModifierKey { Shift, Alt, LeftSuper, RightSuper, Other };

ModifierKey modifierKey(const QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Shift:
        return ModifierKey::Shift;
    case Qt::Key_Alt:
        return ModifierKey::Alt;
    case Qt::Key_Super_L:
        return ModifierKey::LeftSuper;
    case Qt::Key_Super_R:
        return ModifierKey::RightSuper;
    case Qt::Key_Meta: {
        const quint32 keysym = event->nativeVirtualKey();
        if (keysym == keysymMetaRight || keysym == keysymSuperRight)
            return ModifierKey::RightSuper;
        if (keysym == keysymMetaLeft || keysym == keysymSuperLeft || keysym == 0)
            return ModifierKey::LeftSuper;
        return ModifierKey::Other;
    }
    default:
        return ModifierKey::Other;
    }
}

MediaDisplayCursor toolFor(ModifierKey key)
{
    switch (key) {
    case ModifierKey::Shift:
        return MediaDisplayCursor::magnifier;
    case ModifierKey::Alt:
        return MediaDisplayCursor::loupe;
    case ModifierKey::LeftSuper:
        return MediaDisplayCursor::redArrow;
    case ModifierKey::RightSuper:
        return MediaDisplayCursor::greenArrow;
    case ModifierKey::Other:
        break;
    }
    return MediaDisplayCursor::none;
}

// Keys typed into a text field are its own.
bool isTextInput(const QWidget *widget)
{
    return qobject_cast<const QLineEdit *>(widget) || qobject_cast<const QTextEdit *>(widget)
           || qobject_cast<const QPlainTextEdit *>(widget) || qobject_cast<const QAbstractSpinBox *>(widget);
}

QColor multipleFilesTint()
{
    return QColor::fromRgbF(0.5f, 0.5f, 0.5f, 0.3f);
}

} // namespace

MediaDisplayViewController::MediaDisplayViewController(QWidget *parent)
    : QWidget(parent)
    , m_imageView(nullptr)
    , m_movieView(nullptr)
    , m_box(new QFrame(this))
    , m_interactiveView(nullptr)
    , m_imageCounterRoundRectView(nullptr)
    , m_demographicsRoundRectView(nullptr)
    , m_descriptionRoundRectView(nullptr)
    , m_imageLoader(new DisplayImageLoader(this))
    , m_fileWatcher(new MediaFileWatcher(this))
    , m_resetWindowAction(new QAction(QStringLiteral("Reset Window"), this))
    , m_dicomRoundRectView(nullptr)
{
    setObjectName(QStringLiteral("mediaDisplay"));
    setMinimumSize(240, 180);
    // Children in stacking order, bottom first.
    m_box->setObjectName(QStringLiteral("box"));
    m_box->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_imageView = new DisplayImageView(this);
    m_imageView->setObjectName(QStringLiteral("imageView"));
    m_movieView = new MovieView(this);
    m_movieView->setObjectName(QStringLiteral("movieView"));
    m_interactiveView = new InteractiveView(this);
    m_interactiveView->setObjectName(QStringLiteral("interactiveView"));
    m_demographicsRoundRectView = new MediaSingleLabelView(this);
    m_demographicsRoundRectView->setObjectName(QStringLiteral("demographicsRoundRectView"));
    m_imageCounterRoundRectView = new MediaSingleLabelView(this);
    m_imageCounterRoundRectView->setObjectName(QStringLiteral("imageCounterRoundRectView"));
    m_descriptionRoundRectView = new MediaSummaryAndDetailView(this);
    m_descriptionRoundRectView->setObjectName(QStringLiteral("descriptionRoundRectView"));
    m_dicomRoundRectView = new MediaSingleLabelView(this);
    m_dicomRoundRectView->setObjectName(QStringLiteral("dicomRoundRectView"));
    m_resetWindowAction->setEnabled(false);
    connect(m_resetWindowAction, &QAction::triggered, this, &MediaDisplayViewController::resetDicomWindow);

    m_imageView->hide();
    m_movieView->hide();
    setBackdropTransparent(false);

    connect(m_imageLoader, &DisplayImageLoader::loaded, this, &MediaDisplayViewController::imageLoaded);
    connect(m_interactiveView, &InteractiveView::scrollNavigate, this, &MediaDisplayViewController::scrollNavigate);
    connect(m_interactiveView, &InteractiveView::mouseMoved, this, &MediaDisplayViewController::mouseMoved);
    connect(m_interactiveView, &InteractiveView::mouseExited, this, &MediaDisplayViewController::resetCursor);
    // The selection is made only without a cursor tool.
    connect(m_interactiveView, &InteractiveView::mousePressed, this, [this](const QPointF &position) {
        if (m_cursorType != MediaDisplayCursor::none)
            return;
        m_imageView->selectionMouseDown(position);
        emit selectionChanged();
    });
    connect(m_interactiveView, &InteractiveView::mouseDragged, this, [this](const QPointF &position) {
        if (m_cursorType != MediaDisplayCursor::none)
            return;
        m_imageView->selectionMouseDragged(position);
        emit selectionChanged();
    });
    connect(m_interactiveView, &InteractiveView::mouseReleased, this, [this] {
        m_imageView->selectionMouseUp();
        emit selectionChanged();
    });
    connect(m_interactiveView, &InteractiveView::doubleClicked, this, &MediaDisplayViewController::openInExternalEditor);
    connect(m_interactiveView, &InteractiveView::windowDragStarted, this, [this](const QPointF &position) {
        m_windowDragStart = position;
        m_windowDragStartWindow = m_dicomWindow;
    });
    connect(m_interactiveView, &InteractiveView::windowDragged, this, [this](const QPointF &position) {
        if (m_dicom)
            setDicomWindow(DicomWindowing::dragged(m_windowDragStartWindow, position - m_windowDragStart,
                                                   DicomWindowing::sensitivityFor(m_dicom->minMaxWindow())));
    });
    connect(m_interactiveView, &InteractiveView::frameScroll, this, &MediaDisplayViewController::frameScroll);
    connect(m_fileWatcher, &MediaFileWatcher::fileChanged, this, &MediaDisplayViewController::watchedFileChanged);
    applyFitToWindow();
    updateCaseOverlays();
}

MediaDisplayViewController::~MediaDisplayViewController() = default;

Case *MediaDisplayViewController::currentCase() const
{
    return m_currentCase;
}

void MediaDisplayViewController::setCurrentCase(Case *item)
{
    m_currentCase = item;
    updateCaseOverlays();
    updateWindowTitle();
}

Media *MediaDisplayViewController::media() const
{
    return m_media;
}

void MediaDisplayViewController::setMedia(Media *media)
{
    m_media = media;
    refreshDisplay();
}

bool MediaDisplayViewController::multipleFiles() const
{
    return m_multipleFiles;
}

void MediaDisplayViewController::setMultipleFiles(bool multiple)
{
    m_multipleFiles = multiple;
    refreshDisplay();
}

void MediaDisplayViewController::showMedia(Media *media, bool multipleFiles)
{
    m_media = media;
    m_multipleFiles = multipleFiles;
    refreshDisplay();
}

bool MediaDisplayViewController::disableToggleFitToWindow() const
{
    return m_disableToggleFitToWindow;
}

void MediaDisplayViewController::refreshDisplay()
{
    refreshMediaViews();
    emit displayRefreshed();
}

void MediaDisplayViewController::refreshMediaViews()
{
    m_disableToggleFitToWindow = false;
    m_pendingImagePath.clear();
    m_refreshedDicom.reset();
    if (m_dicom)
        m_refreshedDicom = ShownDicom{m_dicomPath, m_dicomWindow, m_dicomFrame};
    setDicom(nullptr);

    if (m_multipleFiles) {
        m_imageView->setImage(PlaceholderImage::copies());
        m_imageView->setImageScaling(ImageScaling::ProportionallyUpOrDown);
        m_imageView->setTintColor(multipleFilesTint());
        showImageView();
        m_imageCounterRoundRectView->setText(QStringLiteral("Multiple"));
        m_disableToggleFitToWindow = true;
        layoutOverlays();
        return;
    }
    m_imageView->setTintColor(QColor());

    if (!m_currentCase || !m_media) {
        m_imageCounterRoundRectView->setText(QString());
        hideMediaViews();
        m_imageView->clearImage();
        m_disableToggleFitToWindow = true;
        return;
    }

    const QList<Media *> sortedMedia = m_currentCase->sortedMedia();
    const int index = std::max<qsizetype>(0, sortedMedia.indexOf(m_media));
    m_imageCounterRoundRectView->setText(QStringLiteral("%1/%2").arg(index + 1).arg(sortedMedia.size()));
    layoutOverlays();

    if (!m_media->fileExists()) {
        m_imageView->setImage(PlaceholderImage::missingFile());
        m_imageView->setImageScaling(ImageScaling::ProportionallyUpOrDown);
        showImageView();
        m_disableToggleFitToWindow = true;
        prefetchNeighbours(sortedMedia, index);
        return;
    }

    const QString path = m_media->filePath();
    if (m_imageLoader->cached(path)) {
        showDecodedFile(path);
    } else {
        // Empty for the frame or two until the decoder reports.
        m_pendingImagePath = path;
        m_imageView->clearImage();
        showImageView();
        m_imageLoader->load(path);
    }
    prefetchNeighbours(sortedMedia, index);
}

void MediaDisplayViewController::prefetchNeighbours(const QList<Media *> &sortedMedia, int index)
{
    // Forwards is the usual direction, so three ahead and one back.
    QStringList paths;
    if (m_media && m_media->fileExists())
        paths.append(m_media->filePath());
    for (int offset : {1, -1, 2, 3}) {
        Media *neighbour = sortedMedia.value(index + offset, nullptr);
        if (!neighbour || !neighbour->fileExists())
            continue;
        const QString path = neighbour->filePath();
        if (!MediaTypes::isMovie(MediaTypes::extensionOf(path)))
            paths.append(path);
    }
    m_imageLoader->retain(paths);
}

void MediaDisplayViewController::imageLoaded(const QString &path)
{
    if (path != m_pendingImagePath)
        return;
    m_pendingImagePath.clear();
    showDecodedFile(path);
}

void MediaDisplayViewController::showDecodedFile(const QString &path)
{
    const std::optional<DisplayImageLoader::Image> decoded = m_imageLoader->cached(path);
    if (!decoded) {
        m_pendingImagePath = path;
        m_imageLoader->load(path);
        return;
    }
    if (decoded->dicom && !decoded->dicom->canDisplay()) {
        // The reason, in place of the image.
        m_imageView->setImage(decoded->image);
        m_imageView->setImageScaling(ImageScaling::ProportionallyUpOrDown);
        showImageView();
        m_disableToggleFitToWindow = true;
        emit displayRefreshed();
        return;
    }
    if (!decoded->image.isNull()) {
        // The scaling stays as it is.
        m_imageView->setImage(decoded->image, decoded->originalSize, decoded->displayCopy);
        showImageView();
        setDicom(decoded->dicom);
        m_dicomPath = m_dicom ? path : QString();
        if (m_dicom && m_refreshedDicom && m_refreshedDicom->path == path) {
            setDicomFrame(m_refreshedDicom->frame);
            setDicomWindow(m_refreshedDicom->window);
        }
        m_refreshedDicom.reset();
        emit imageShown(m_media);
        return;
    }
    m_imageView->clearImage();
    showMovieView();
    auto *player = new LoopingMoviePlayer(QUrl::fromLocalFile(path), m_movieView->videoSink());
    m_movieView->setPlayer(player);
}

void MediaDisplayViewController::showImageView()
{
    m_movieView->pause();
    m_movieView->hide();
    m_imageView->show();
}

void MediaDisplayViewController::showMovieView()
{
    m_imageView->hide();
    m_movieView->show();
}

void MediaDisplayViewController::hideMediaViews()
{
    m_movieView->pause();
    m_movieView->hide();
    m_imageView->hide();
}

void MediaDisplayViewController::updateCaseOverlays()
{
    const bool removeIdentifiers = recognisesNHIs();
    QString summary;
    QString detail;
    QString demographics;
    if (m_currentCase) {
        summary = MediaOverlayText::summaryText(m_currentCase->summary(), removeIdentifiers);
        detail = MediaOverlayText::detailText(m_currentCase->detail(), removeIdentifiers);
        demographics = MediaOverlayText::demographicsText(m_currentCase->ageString(), m_currentCase->sexString());
    }
    m_descriptionRoundRectView->setTexts(summary, detail);
    m_demographicsRoundRectView->setText(demographics);
    layoutOverlays();
}

void MediaDisplayViewController::updateWindowTitle()
{
    const QString identifier = m_currentCase ? m_currentCase->patientID() : QString();
    window()->setWindowTitle(identifier.isEmpty() ? QStringLiteral("Media") : QStringLiteral("Media - ") + identifier);
}

void MediaDisplayViewController::setShowDescription(bool show)
{
    if (m_showDescription == show)
        return;
    m_showDescription = show;
    m_descriptionRoundRectView->setVisible(show);
    layoutOverlays();
    emit showDescriptionChanged(show);
}

void MediaDisplayViewController::applyFitToWindow()
{
    m_imageView->setImageScaling(m_fitImageToWindow ? ImageScaling::ProportionallyUpOrDown
                                                    : ImageScaling::ProportionallyDown);
    if (m_fitToWindowToolbarItem)
        m_fitToWindowToolbarItem->setText(m_fitImageToWindow ? QStringLiteral("Actual Size") : QStringLiteral("Full Size"));
}

bool MediaDisplayViewController::mouseIsInsideInteractiveView() const
{
    return m_interactiveView->isVisible() && m_interactiveView->pointerPosition().has_value();
}

bool MediaDisplayViewController::doFlagsChanged(QKeyEvent *event)
{
    const ModifierKey key = modifierKey(event);
    if (key == ModifierKey::Other)
        return false;
    if (event->isAutoRepeat())
        return true;
    if (!m_media || !m_media->fileExists() || !mouseIsInsideInteractiveView()) {
        m_cursorType = MediaDisplayCursor::none;
        updateCursor();
        return true;
    }
    const bool down = event->type() == QEvent::KeyPress;
    m_cursorType = down ? toolFor(key) : MediaDisplayCursor::none;
    updateCursor();
    return true;
}

void MediaDisplayViewController::updateCursor()
{
    switch (m_cursorType) {
    case MediaDisplayCursor::none:
        m_interactiveView->unsetCursor();
        break;
    case MediaDisplayCursor::redArrow:
    case MediaDisplayCursor::greenArrow: {
        const QColor colour = m_cursorType == MediaDisplayCursor::redArrow ? QColor(255, 59, 48) : QColor(52, 199, 89);
        const QImage arrow = CursorImage::tinted(CursorImage::named(QStringLiteral("Arrow")), colour);
        m_interactiveView->setCursor(QCursor(QPixmap::fromImage(arrow), arrow.width() / 2, arrow.height() / 2));
        break;
    }
    case MediaDisplayCursor::loupe:
    case MediaDisplayCursor::magnifier: {
        // The lens is made where the mouse events placed the pointer, not
        // where a fresh question to the window system would put it.
        const bool small = m_cursorType == MediaDisplayCursor::loupe;
        const std::optional<QPointF> pointer = m_interactiveView->pointerPosition();
        const std::optional<QCursor> cursor = !pointer ? std::nullopt
            : m_imageView->loupeCursor(small ? QStringLiteral("Loupe-small") : QStringLiteral("Loupe-large"),
                                       small ? loupeFactor : magnifierFactor,
                                       m_imageView->mapFrom(this, m_interactiveView->mapTo(this, *pointer)));
        if (cursor)
            m_interactiveView->setCursor(*cursor);
        else
            m_interactiveView->unsetCursor();
        break;
    }
    }
    const bool dimmed = m_cursorType == MediaDisplayCursor::loupe || m_cursorType == MediaDisplayCursor::magnifier;
    m_imageView->animateImageOpacity(dimmed ? dimmedOpacity : 1.0);
}

void MediaDisplayViewController::resetCursor()
{
    m_cursorType = MediaDisplayCursor::none;
    updateCursor();
}

void MediaDisplayViewController::mouseMoved(const QPointF &)
{
    if (m_cursorType == MediaDisplayCursor::loupe || m_cursorType == MediaDisplayCursor::magnifier)
        updateCursor();
}

void MediaDisplayViewController::scrollNavigate(double delta, bool notched)
{
    const int steps = m_scrollAccumulator.accumulate(delta, notched);
    for (int i = 0; i < std::abs(steps); ++i)
        emit moveSelectionRequested(steps > 0 ? 1 : -1);
}

bool MediaDisplayViewController::hasSelectionRect() const
{
    return m_imageView->selectionRect().has_value();
}

QImage MediaDisplayViewController::imageForEditing(Media *media) const
{
    if (m_dicom && media && media == m_media) {
        const QImage shown = m_dicom->render(m_dicomFrame, m_dicomWindow);
        if (!shown.isNull())
            return shown;
    }
    return media ? media->image() : QImage();
}

void MediaDisplayViewController::openInExternalEditor()
{
    // Only an image shown as such is edited, not a placeholder or a movie.
    Media *media = m_disableToggleFitToWindow || m_imageView->isHidden() ? nullptr : m_media;
    if (!ExternalEditor::fromSettings().editMedia(media))
        return;
    m_fileWatcher->watch(media->filePath());
}

void MediaDisplayViewController::watchedFileChanged(const QString &path)
{
    NotificationCenter::defaultCenter().post(LibraryNotifications::updatedMedia);
    if (m_media && m_media->filePath() == path)
        refreshDisplay();
}

void MediaDisplayViewController::setBackdropTransparent(bool transparent)
{
    m_backdropTransparent = transparent;
    m_box->setFrameShape(transparent ? QFrame::NoFrame : QFrame::StyledPanel);
    m_box->setAutoFillBackground(!transparent);
    QPalette colours = m_box->palette();
    colours.setColor(QPalette::Window, QColor(28, 28, 30));
    m_box->setPalette(colours);
    m_box->update();
}

void MediaDisplayViewController::updateDecodeSize()
{
    const QScreen *screen = this->screen();
    const QSize screenPixels = screen ? screen->size() * screen->devicePixelRatio() : minimumDecodeSize;
    const QSize size = screenPixels.expandedTo(minimumDecodeSize);
    if (size == m_imageLoader->maximumSize())
        return;
    m_imageLoader->setMaximumSize(size);
    // What was decoded, or being decoded, at the old size is gone.
    if (!m_pendingImagePath.isEmpty())
        refreshDisplay();
}

bool MediaDisplayViewController::eventFilter(QObject *watched, QEvent *event)
{
    if ((event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) && watched->isWidgetType()
        && static_cast<QWidget *>(watched)->window() == window()) {
        auto *key = static_cast<QKeyEvent *>(event);
        if (event->type() == QEvent::KeyPress && !isTextInput(static_cast<QWidget *>(watched)) && doDicomKey(key))
            return true;
        return doFlagsChanged(key);
    }
    return QWidget::eventFilter(watched, event);
}

void MediaDisplayViewController::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!m_flagsChangedEventMonitorToken.isActive())
        m_flagsChangedEventMonitorToken = ApplicationEventMonitor::install(this);
    m_updatedCaseDetailToken = NotificationCenter::defaultCenter().addObserver(
        LibraryNotifications::updatedCaseDetail, nullptr,
        [this](const Notification &) {
            updateCaseOverlays();
            updateWindowTitle();
        },
        NotificationCenter::Delivery::MainThread);
    updateDecodeSize();
}

void MediaDisplayViewController::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    resetCursor();
    m_imageView->clearSelection();
    emit selectionChanged();
    m_flagsChangedEventMonitorToken.reset();
    m_updatedCaseDetailToken.reset();
}

void MediaDisplayViewController::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    const QRect bounds = rect();
    m_box->setGeometry(bounds);
    m_imageView->setGeometry(bounds);
    m_movieView->setGeometry(bounds);
    m_interactiveView->setGeometry(bounds);
    m_imageLoader->setDisplaySize(QSizeF(bounds.size()), devicePixelRatioF());
    layoutOverlays();
}

void MediaDisplayViewController::layoutOverlays()
{
    const QRect bounds = rect();
    m_imageCounterRoundRectView->adjustSize();
    const QSize counter = m_imageCounterRoundRectView->sizeHint();
    m_imageCounterRoundRectView->setGeometry(bounds.right() - overlayMargin - counter.width() + 1,
                                             bounds.top() + overlayMargin, counter.width(), counter.height());
    const QSize demographics = m_demographicsRoundRectView->sizeHint();
    m_demographicsRoundRectView->setGeometry(bounds.left() + overlayMargin, bounds.top() + overlayMargin,
                                             demographics.width(), demographics.height());

    const int width = std::max(0, std::min(bounds.width() - 2 * overlayMargin, descriptionMaximumWidth));
    QLayout *layout = m_descriptionRoundRectView->layout();
    int height = layout->hasHeightForWidth() ? layout->totalHeightForWidth(width) : layout->totalSizeHint().height();
    height = std::min(height, bounds.height() / 2);
    m_descriptionRoundRectView->setGeometry(bounds.left() + (bounds.width() - width) / 2,
                                            bounds.bottom() - overlayMargin - height + 1, width, height);

    m_dicomRoundRectView->adjustSize();
    const QSize dicom = m_dicomRoundRectView->sizeHint();
    m_dicomRoundRectView->setGeometry(bounds.right() - overlayMargin - dicom.width() + 1,
                                      bounds.top() + overlayMargin + counter.height() + overlaySpacing, dicom.width(),
                                      dicom.height());
}

void MediaDisplayViewController::setDicom(std::shared_ptr<const DicomRenderer> renderer)
{
    m_dicom = renderer && renderer->canDisplay() ? std::move(renderer) : nullptr;
    m_dicomFrame = 0;
    m_dicomWindow = m_dicom ? m_dicom->defaultWindow() : DicomWindow();
    m_frameScrollAccumulator.reset();
    const bool monochrome = m_dicom && m_dicom->isMonochrome();
    m_interactiveView->setAdjustsWindow(monochrome);
    m_interactiveView->setStepsFrames(dicomFrameCount() > 1);
    m_resetWindowAction->setEnabled(monochrome);
    updateDicomOverlay();
}

int MediaDisplayViewController::dicomFrameCount() const
{
    return m_dicom ? m_dicom->frameCount() : 0;
}

void MediaDisplayViewController::setDicomWindow(const DicomWindow &window)
{
    if (!m_dicom || !m_dicom->isMonochrome() || window == m_dicomWindow)
        return;
    m_dicomWindow = window;
    showDicomFrame();
}

void MediaDisplayViewController::setDicomFrame(int frame)
{
    frame = std::clamp(frame, 0, std::max(0, dicomFrameCount() - 1));
    if (!m_dicom || frame == m_dicomFrame)
        return;
    m_dicomFrame = frame;
    showDicomFrame();
}

void MediaDisplayViewController::resetDicomWindow()
{
    if (m_dicom)
        setDicomWindow(m_dicom->defaultWindow());
}

void MediaDisplayViewController::showDicomFrame()
{
    const QImage image = m_dicom->render(m_dicomFrame, m_dicomWindow);
    if (!image.isNull())
        m_imageView->setImage(image);
    updateDicomOverlay();
}

void MediaDisplayViewController::updateDicomOverlay()
{
    const std::optional<DicomWindow> window =
        m_dicom && m_dicom->isMonochrome() ? std::optional<DicomWindow>(m_dicomWindow) : std::nullopt;
    m_dicomRoundRectView->setText(m_dicom ? DicomWindowing::overlayText(window, m_dicomFrame, dicomFrameCount()) : QString());
    layoutOverlays();
}

bool MediaDisplayViewController::doDicomKey(QKeyEvent *event)
{
    if (!m_dicom || (event->modifiers() & ~(Qt::KeypadModifier | Qt::ShiftModifier)))
        return false;
    if (const std::optional<DicomWindow> preset = DicomWindowing::presetForKey(event->key());
        preset && m_dicom->isMonochrome()) {
        setDicomWindow(*preset);
        return true;
    }
    switch (event->key()) {
    case Qt::Key_0:
        if (!m_dicom->isMonochrome())
            return false;
        resetDicomWindow();
        return true;
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
        if (dicomFrameCount() < 2)
            return false;
        setDicomFrame(m_dicomFrame + (event->key() == Qt::Key_PageDown ? 1 : -1));
        return true;
    default:
        return false;
    }
}

void MediaDisplayViewController::frameScroll(double delta, bool notched)
{
    // Shift is held for the frames here, not for the magnifier.
    if (m_cursorType == MediaDisplayCursor::magnifier)
        resetCursor();
    const int steps = m_frameScrollAccumulator.accumulate(delta, notched);
    if (steps != 0)
        setDicomFrame(m_dicomFrame + steps);
}

void MediaDisplayViewController::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
}

} // namespace ovalis
