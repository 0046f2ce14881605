#pragma once

#include <QImage>
#include <QMainWindow>

class QAction;

namespace ovalis {

class AnnotationViewController;
class Media;
class SegmentedControl;

// The annotation editor's window, "Annotate Image", over one media's image:
// a toolbar of tool, text size and colour, undo and redo of marks, Cancel
// and Save. Its frame is remembered under "AnnotationWindow". It deletes
// itself when closed.
class AnnotationWindowController : public QMainWindow
{
    Q_OBJECT

public:
    static inline const QString frameAutosaveName = QStringLiteral("AnnotationWindow");

    // media: a record of the main context, not owned.
    // image: what to draw on when it is not the file's own (see AnnotationViewController).
    explicit AnnotationWindowController(Media *media, QWidget *parent = nullptr, const QImage &image = QImage());
    ~AnnotationWindowController() override;

    AnnotationViewController *viewController() const { return m_viewController; }
    SegmentedControl *toolControl() const { return m_toolControl; }
    SegmentedControl *fontSizeControl() const { return m_fontSizeControl; }
    SegmentedControl *colorControl() const { return m_colorControl; }
    QAction *undoItem() const { return m_undoItem; }
    QAction *redoItem() const { return m_redoItem; }
    QAction *cancelItem() const { return m_cancelItem; }
    QAction *saveItem() const { return m_saveItem; }

    // Undo while there is a mark to take back, Redo while one was taken back.
    void validateToolbarItems();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildToolbar();

    AnnotationViewController *m_viewController; // Owned (central widget).
    SegmentedControl *m_toolControl = nullptr;
    SegmentedControl *m_fontSizeControl = nullptr;
    SegmentedControl *m_colorControl = nullptr;
    QAction *m_undoItem = nullptr;
    QAction *m_redoItem = nullptr;
    QAction *m_cancelItem = nullptr;
    QAction *m_saveItem = nullptr;
};

} // namespace ovalis
