#pragma once

#include <QPointer>
#include <QSplitter>

class QVariantAnimation;

namespace ovalis {

class Case;
class MediaDisplayViewController;
class SelectableMediaCollectionViewController;

// The media window's content: the thumbnail grid (the browser) first, the
// display last. The grid's selection drives the display and the display's
// scrolling steps the grid. The divider is remembered under "Media split view".
class MediaSplitViewController : public QSplitter
{
    Q_OBJECT

public:
    static constexpr int defaultBrowserWidth = 220;

    explicit MediaSplitViewController(QWidget *parent = nullptr);
    ~MediaSplitViewController() override;

    SelectableMediaCollectionViewController *collectionViewController() const { return m_collectionViewController; }
    MediaDisplayViewController *displayViewController() const { return m_displayViewController; }

    // Crops every selected media to the display's selection rectangle, as
    // one undo step, then reloads the grid with the same selection.
    // Available only while the display has a selection rectangle.
    bool canCropSelectedImages() const;

    bool isBrowserCollapsed() const;
    // Slides the browser in or out when animated; its width is kept.
    void setBrowserCollapsed(bool collapsed, bool animated = false);
    // Full screen shows the display alone, edge to edge: the divider takes
    // no room and cannot be dragged. The divider is not remembered while hidden.
    void setDividerHidden(bool hidden);
    bool isDividerHidden() const { return m_dividerHidden; }

public slots:
    void cropSelectedImages();

private:
    void setBrowserWidth(int width);
    void saveDivider();

    SelectableMediaCollectionViewController *m_collectionViewController;
    MediaDisplayViewController *m_displayViewController;
    QPointer<QVariantAnimation> m_animation;
    bool m_collapsing = false; // the animation under way collapses
    int m_browserWidth = defaultBrowserWidth;
    bool m_dividerHidden = false;
    int m_dividerWidth = -1; // while hidden, the width to give back
};

} // namespace ovalis
