#include "app/AboutController.h"

#include "app/AboutView.h"

#include <QApplication>
#include <QFileInfo>
#include <QScreen>
#include <QVBoxLayout>

namespace ovalis {

namespace {

AboutView::Content applicationContent()
{
    AboutView::Content content;
    content.icon = QApplication::windowIcon();
    content.displayName = QGuiApplication::applicationDisplayName();
    content.version = QCoreApplication::applicationVersion();
#ifdef OVALIS_BUILD_NUMBER
    content.buildNumber = QStringLiteral(OVALIS_BUILD_NUMBER);
#endif
    // The program file is written when it is built.
    content.buildDate = QFileInfo(QCoreApplication::applicationFilePath()).lastModified().date();
    return content;
}

} // namespace

AboutController::AboutController(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
    , m_view(new AboutView(applicationContent(), this))
{
    setWindowTitle(QString());
    setAttribute(Qt::WA_DeleteOnClose, false);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view);
    setFixedSize(600, 240);
}

void AboutController::showWindow()
{
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(), size());
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    show();
    raise();
    activateWindow();
}

} // namespace ovalis
