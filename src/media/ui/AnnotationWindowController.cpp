#include "media/ui/AnnotationWindowController.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QToolBar>
#include <QWidget>

#include "media/AnnotationPalette.h"
#include "media/AnnotationTool.h"
#include "media/ui/AnnotationViewController.h"
#include "media/ui/SegmentedControl.h"
#include "util/Settings.h"
#include "util/ThemeIcon.h"

namespace ovalis {

namespace {

constexpr int toolSegmentWidth = 36;
constexpr int fontSizeSegmentWidth = 28;
constexpr int colorSegmentWidth = 30;

// The tools' symbols, drawn in the palette's text colour.
QIcon toolIcon(AnnotationTool tool)
{
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor ink = QApplication::palette().color(QPalette::ButtonText);
    painter.setPen(QPen(ink, 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    switch (tool) {
    case AnnotationTool::arrow: {
        painter.drawLine(QPointF(8, 24), QPointF(23, 9));
        QPainterPath head;
        head.moveTo(12, 8);
        head.lineTo(24, 8);
        head.lineTo(24, 20);
        painter.drawPath(head);
        break;
    }
    case AnnotationTool::rectangle:
        painter.drawRoundedRect(QRectF(5, 8, 22, 16), 2, 2);
        break;
    case AnnotationTool::circle:
        painter.drawEllipse(QRectF(6, 6, 20, 20));
        break;
    case AnnotationTool::text: {
        QFont font = QApplication::font();
        font.setPixelSize(20);
        font.setBold(true);
        painter.setFont(font);
        painter.drawText(QRectF(0, 0, 32, 32), Qt::AlignCenter, QStringLiteral("Aa"));
        break;
    }
    }
    return QIcon(pixmap);
}

// A disc of the colour with a thin outline, 16 × 16.
QIcon colorIcon(const QColor &color)
{
    QPixmap pixmap(32, 32);
    pixmap.setDevicePixelRatio(2.0);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QApplication::palette().color(QPalette::PlaceholderText), 1.0));
    painter.setBrush(color);
    painter.drawEllipse(QRectF(1.5, 1.5, 13, 13));
    return QIcon(pixmap);
}

} // namespace

AnnotationWindowController::AnnotationWindowController(Media *media, QWidget *parent, const QImage &image)
    : QMainWindow(parent)
    , m_viewController(new AnnotationViewController(media, this, image))
{
    setObjectName(QStringLiteral("annotationWindow"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Annotate Image"));
    setCentralWidget(m_viewController);
    buildToolbar();
    setMinimumSize(800, 600);
    if (!restoreGeometry(Settings::shared().dataValue(frameAutosaveName)))
        resize(900, 700);
    connect(m_viewController, &AnnotationViewController::historyChanged, this,
            &AnnotationWindowController::validateToolbarItems);
    validateToolbarItems();
}

AnnotationWindowController::~AnnotationWindowController() = default;

void AnnotationWindowController::buildToolbar()
{
    QToolBar *toolbar = addToolBar(QStringLiteral("Annotation"));
    toolbar->setObjectName(QStringLiteral("annotation"));
    toolbar->setMovable(false);
    toolbar->setFloatable(false);
    toolbar->setIconSize(QSize(22, 22));
    toolbar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);

    const QList<SegmentedControl::Segment> tools{
        {toolIcon(AnnotationTool::arrow), QString(), QStringLiteral("Arrow")},
        {toolIcon(AnnotationTool::rectangle), QString(), QStringLiteral("Rectangle")},
        {toolIcon(AnnotationTool::circle), QString(), QStringLiteral("Circle")},
        {toolIcon(AnnotationTool::text), QString(), QStringLiteral("Text")},
    };
    QList<SegmentedControl::Segment> sizes;
    for (const AnnotationPalette::TextSize &size : AnnotationPalette::textSizes())
        sizes.append({QIcon(), size.label, size.toolTip});
    QList<SegmentedControl::Segment> colors;
    for (const AnnotationPalette::NamedColor &color : AnnotationPalette::colors())
        colors.append({colorIcon(color.color), QString(), color.name});

    const auto addSegments = [&](const QString &identifier, const QString &label, const QList<SegmentedControl::Segment> &segments,
                                 int width, int selected, void (AnnotationViewController::*action)(int)) {
        auto *control = new SegmentedControl(label, segments, width, toolbar);
        control->setObjectName(identifier);
        control->setSelectedSegment(selected);
        connect(control, &SegmentedControl::segmentChanged, m_viewController, action);
        toolbar->addWidget(control);
        return control;
    };
    m_toolControl = addSegments(QStringLiteral("com.ovalis.annotation.tools"), QStringLiteral("Tool"), tools,
                                toolSegmentWidth, 0, &AnnotationViewController::toolSegmentChanged);
    m_fontSizeControl = addSegments(QStringLiteral("com.ovalis.annotation.fontSize"), QStringLiteral("Text Size"), sizes,
                                    fontSizeSegmentWidth, 1, &AnnotationViewController::fontSizeSegmentChanged);
    m_colorControl = addSegments(QStringLiteral("com.ovalis.annotation.colors"), QStringLiteral("Colour"), colors,
                                 colorSegmentWidth, 0, &AnnotationViewController::colorSegmentChanged);

    toolbar->addSeparator();
    m_undoItem = toolbar->addAction(ThemeIcon::firstOf({"edit-undo"}), QStringLiteral("Undo"), m_viewController,
                                    &AnnotationViewController::undoAnnotation);
    m_undoItem->setObjectName(QStringLiteral("com.ovalis.annotation.undo"));
    m_undoItem->setShortcut(QKeySequence::Undo);
    m_redoItem = toolbar->addAction(ThemeIcon::firstOf({"edit-redo"}), QStringLiteral("Redo"), m_viewController,
                                    &AnnotationViewController::redoAnnotation);
    m_redoItem->setObjectName(QStringLiteral("com.ovalis.annotation.redo"));
    m_redoItem->setShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+Z")));

    auto *flexibleSpace = new QWidget(toolbar);
    flexibleSpace->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    toolbar->addWidget(flexibleSpace);

    m_cancelItem = toolbar->addAction(ThemeIcon::firstOf({"dialog-cancel", "window-close", "process-stop"}),
                                      QStringLiteral("Cancel"), m_viewController, &AnnotationViewController::cancelAnnotations);
    m_cancelItem->setObjectName(QStringLiteral("com.ovalis.annotation.cancel"));
    m_saveItem = toolbar->addAction(ThemeIcon::firstOf({"dialog-ok-apply", "dialog-ok", "document-save"}),
                                    QStringLiteral("Save"), m_viewController, &AnnotationViewController::saveAnnotations);
    m_saveItem->setObjectName(QStringLiteral("com.ovalis.annotation.save"));
    m_saveItem->setShortcut(QKeySequence::Save);
}

void AnnotationWindowController::validateToolbarItems()
{
    m_undoItem->setEnabled(m_viewController->canUndoAnnotation());
    m_redoItem->setEnabled(m_viewController->canRedoAnnotation());
}

void AnnotationWindowController::closeEvent(QCloseEvent *event)
{
    Settings::shared().setValue(frameAutosaveName, saveGeometry());
    QMainWindow::closeEvent(event);
}

} // namespace ovalis
