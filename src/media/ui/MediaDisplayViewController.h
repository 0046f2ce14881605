#pragma once

#include <QWidget>

namespace ovalis {

class Case;
class Media;

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

    void refreshDisplay();
    void updateCaseOverlays();
    bool disableToggleFitToWindow() const;

signals:
    // The display's scroll navigation asks the grid to step.
    void moveSelectionRequested(int delta);
};

} // namespace ovalis
