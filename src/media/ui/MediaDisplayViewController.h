#pragma once

#include <QPointer>
#include <QWidget>
#include <memory>
#include <optional>

#include "media/DicomRenderer.h"
#include "media/MediaDisplayCursor.h"
#include "media/ScrollAccumulator.h"
#include "util/ObserverToken.h"

class QAction;
class QFrame;
class QImage;
class QKeyEvent;

namespace ovalis {

class Case;
class DisplayImageLoader;
class DisplayImageView;
class InteractiveView;
class Media;
class MediaFileWatcher;
class MediaSingleLabelView;
class MediaSummaryAndDetailView;
class MovieView;

// The large display of the media window: the image or looping muted movie
// of the selected media, the placeholders, and the case overlays.
class MediaDisplayViewController : public QWidget
{
    Q_OBJECT

public:
    explicit MediaDisplayViewController(QWidget *parent = nullptr);
    ~MediaDisplayViewController() override;

    Case *currentCase() const;
    // Sets the case and refreshes the case overlays (not the display).
    void setCurrentCase(Case *item);
    Media *media() const;
    void setMedia(Media *media);           // then refreshDisplay()
    bool multipleFiles() const;
    void setMultipleFiles(bool multiple);  // then refreshDisplay()
    // Sets media and multipleFiles together and refreshes once.
    void showMedia(Media *media, bool multipleFiles);

    // Shows what media and multipleFiles say: the placeholder for several
    // files, nothing without a case or media, the missing-file placeholder,
    // the image, or else the file played as a movie. An image not decoded
    // yet leaves the display empty until its decoder reports, a frame or two
    // later for files that were not prefetched.
    void refreshDisplay();
    void updateCaseOverlays();
    // The window's title: "Media - " and the case's patient identifier, or "Media".
    void updateWindowTitle();
    // Fit-to-window and annotation are unavailable: no real image is shown.
    bool disableToggleFitToWindow() const;

    bool showDescription() const { return m_showDescription; }
    void setShowDescription(bool show);
    bool fitImageToWindow() const { return m_fitImageToWindow; }
    void setFitImageToWindow(bool fit) { m_fitImageToWindow = fit; }
    // Scales images up as well as down while fitImageToWindow, else down
    // only, and names the fit toolbar item after what it would switch to.
    void applyFitToWindow();
    // The toolbar item applyFitToWindow() labels (not owned).
    void setFitToWindowToolbarItem(QAction *item) { m_fitToWindowToolbarItem = item; }

    MediaDisplayCursor cursorType() const { return m_cursorType; }
    // The modifier-key handler, fed by the monitor installed while the
    // display is visible: Shift holds the magnifier, Alt the loupe, left and
    // right Super the red and green arrows, over a shown media whose file
    // exists and with the mouse over the display; elsewhere the tool is
    // none. Answers whether the event was consumed.
    bool doFlagsChanged(QKeyEvent *event);
    // Sets the cursor for cursorType over the display and fades the image
    // to 0.3 opacity for the loupes, back to 1.0 otherwise.
    void updateCursor();
    void resetCursor();

    // Accumulates scrolled distance and steps the media: once per wheel
    // notch, or once a precise device's distance passes one unit.
    void scrollNavigate(double delta, bool notched = false);
    double cumulativeYDelta() const { return m_scrollAccumulator.cumulativeYDelta(); }

    // The backdrop is drawn beside the browser and transparent in full screen.
    bool isBackdropTransparent() const { return m_backdropTransparent; }
    void setBackdropTransparent(bool transparent);
    void toggleBackdropTransparency() { setBackdropTransparent(!m_backdropTransparent); }

    // Whether the image view has a selection rectangle to crop to.
    bool hasSelectionRect() const;
    // The media's full image as edits take it: the DICOM image shown at its
    // frame and window, else the media's own image.
    QImage imageForEditing(Media *media) const;
    // Backs the shown media's file up, registers the swap back as
    // "Edit Image" and opens the file in the external editor chosen in
    // Settings. While the editor may have it open, the file is watched and
    // the display and thumbnails follow its changes.
    void openInExternalEditor();
    MediaFileWatcher *fileWatcher() const { return m_fileWatcher; }

    // DICOM images: shown at a window and, for several frames, one frame at
    // a time. Right-button drags (or Control and the left button) change the
    // window, keys 1 to 4 choose presets and 0 the file's own window, Page
    // Up/Down and Shift with the wheel step frames; the overlay under the
    // counter tells the window and frame.
    // Whether a displayable DICOM file is shown (its window can change).
    bool showsDicom() const { return m_dicom != nullptr; }
    DicomWindow dicomWindow() const { return m_dicomWindow; }
    void setDicomWindow(const DicomWindow &window);
    int dicomFrame() const { return m_dicomFrame; }
    int dicomFrameCount() const;
    // Moves to the frame, kept within the file's frames.
    void setDicomFrame(int frame);
    // Back to the file's window (or its values' range).
    void resetDicomWindow();
    // "Reset Window", enabled while a DICOM image is shown (not owned by the caller).
    QAction *resetWindowAction() const { return m_resetWindowAction; }
    // The keys above; answers whether the event was consumed.
    bool doDicomKey(QKeyEvent *event);
    MediaSingleLabelView *dicomRoundRectView() const { return m_dicomRoundRectView; }

    DisplayImageView *imageView() const { return m_imageView; }
    MovieView *movieView() const { return m_movieView; }
    QFrame *box() const { return m_box; }
    InteractiveView *interactiveView() const { return m_interactiveView; }
    MediaSingleLabelView *imageCounterRoundRectView() const { return m_imageCounterRoundRectView; }
    MediaSingleLabelView *demographicsRoundRectView() const { return m_demographicsRoundRectView; }
    MediaSummaryAndDetailView *descriptionRoundRectView() const { return m_descriptionRoundRectView; }
    DisplayImageLoader *imageLoader() const { return m_imageLoader; }

signals:
    // The display's scroll navigation asks the grid to step.
    void moveSelectionRequested(int delta);
    void showDescriptionChanged(bool show);
    // The image of the media shown is in the image view (after a decode).
    void imageShown(ovalis::Media *media);
    // After each refreshDisplay(): disableToggleFitToWindow may have changed.
    void displayRefreshed();
    // The crop selection gained or lost its rectangle, or changed.
    void selectionChanged();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void refreshMediaViews();
    void layoutOverlays();
    void showImageView();
    void showMovieView();
    void hideMediaViews();
    void showDecodedFile(const QString &path);
    void prefetchNeighbours(const QList<Media *> &sortedMedia, int index);
    void imageLoaded(const QString &path);
    void mouseMoved(const QPointF &position);
    bool mouseIsInsideInteractiveView() const;
    void updateDecodeSize();
    void watchedFileChanged(const QString &path);
    void setDicom(std::shared_ptr<const DicomRenderer> renderer);
    void showDicomFrame();
    void updateDicomOverlay();
    void frameScroll(double delta, bool notched);

    DisplayImageView *m_imageView;
    MovieView *m_movieView;
    QFrame *m_box;
    InteractiveView *m_interactiveView;
    MediaSingleLabelView *m_imageCounterRoundRectView;
    MediaSingleLabelView *m_demographicsRoundRectView;
    MediaSummaryAndDetailView *m_descriptionRoundRectView;
    bool m_showDescription = false;
    bool m_multipleFiles = false;
    bool m_disableToggleFitToWindow = true;
    Case *m_currentCase = nullptr; // Not owned: a record of the main context.
    Media *m_media = nullptr;      // Not owned.
    MediaDisplayCursor m_cursorType = MediaDisplayCursor::none;
    ScrollAccumulator m_scrollAccumulator;
    bool m_fitImageToWindow = false;
    ObserverToken m_flagsChangedEventMonitorToken; // this display filtering the application's key events
    ObserverToken m_updatedCaseDetailToken;

    bool m_backdropTransparent = false;
    QPointer<QAction> m_fitToWindowToolbarItem;
    DisplayImageLoader *m_imageLoader; // Owned (child).
    QString m_pendingImagePath; // the shown media's file while it decodes
    MediaFileWatcher *m_fileWatcher; // Owned (child).

    std::shared_ptr<const DicomRenderer> m_dicom; // the displayable DICOM file shown, else null
    DicomWindow m_dicomWindow;
    int m_dicomFrame = 0;
    // The file of the DICOM image shown; and, while the display refreshes,
    // its window and frame, which the same file shown again keeps (after a
    // crop adds a medium, say).
    QString m_dicomPath;
    struct ShownDicom {
        QString path;
        DicomWindow window;
        int frame = 0;
    };
    std::optional<ShownDicom> m_refreshedDicom;
    DicomWindow m_windowDragStartWindow;
    QPointF m_windowDragStart;
    ScrollAccumulator m_frameScrollAccumulator;
    QAction *m_resetWindowAction; // Owned (child).
    MediaSingleLabelView *m_dicomRoundRectView; // Owned (child).
};

} // namespace ovalis
