#include "library/ui/LinksViewController.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QMouseEvent>
#include <QTextBrowser>
#include <QTextCursor>
#include <QVBoxLayout>

#include "library/ValueTransformer.h"
#include "store/Case.h"
#include "store/StyledText.h"

namespace ovalis {

namespace {

// The links' point size is meant beside a 13-point system font; keep that
// proportion to the desktop's font.
qreal linksPointSize()
{
    return QApplication::font().pointSizeF() * StyledText::pointSize / 13.0;
}

} // namespace

LinksViewController::LinksViewController(QWidget *parent, LinkActivator::Opener opener)
    : CaseOwningViewController(parent)
    , m_linksTextView(new QTextBrowser(this))
    , m_linkActivator(std::move(opener))
{
    setObjectName(QStringLiteral("linksView"));
    m_linksTextView->setObjectName(QStringLiteral("linksTextView"));
    m_linksTextView->setFrameShape(QFrame::NoFrame);
    m_linksTextView->setOpenLinks(false);
    m_linksTextView->setOpenExternalLinks(false);
    // Links react to the mouse; nothing can be selected or typed.
    m_linksTextView->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
    m_linksTextView->setFocusPolicy(Qt::NoFocus);
    m_linksTextView->setContextMenuPolicy(Qt::NoContextMenu);
    m_linksTextView->document()->setDocumentMargin(14);
    m_linksTextView->viewport()->installEventFilter(this);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_linksTextView);

    observeCaseKeys({QStringLiteral("patientID"), QStringLiteral("summary"), QStringLiteral("detail")},
                    [this] { refreshLinks(); });
    refreshLinks();
}

LinksViewController::~LinksViewController() = default;

void LinksViewController::representedObjectDidChange(Case *)
{
    refreshLinks();
}

void LinksViewController::showEvent(QShowEvent *event)
{
    CaseOwningViewController::showEvent(event);
    if (m_linksOutOfDate)
        refreshLinks();
}

void LinksViewController::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ApplicationPaletteChange)
        refreshLinks();
    CaseOwningViewController::changeEvent(event);
}

void LinksViewController::refreshLinks()
{
    if (!isVisible()) {
        m_linksOutOfDate = true;
        return;
    }
    m_linksOutOfDate = false;
    const Case *item = currentCase();
    showLinks(item ? item->urlsAttributedString() : StyledText());
}

void LinksViewController::showLinks(const StyledText &links)
{
    QTextDocument *document = m_linksTextView->document();
    document->clear();
    QTextCursor cursor(document);
    QFont font = QApplication::font();
    font.setPointSizeF(linksPointSize());
    font.setWeight(StyledText::weight);
    for (const StyledText::Run &run : links.runs()) {
        QTextCharFormat format;
        format.setFont(font);
        if (run.isLink()) {
            format.setAnchor(true);
            format.setAnchorHref(run.link);
            format.setForeground(ValueTransformer::accentColor());
            format.setFontUnderline(false);
        } else {
            format.setForeground(StyledText::color(run.style));
        }
        QString text = run.text;
        text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
        cursor.insertText(text, format);
    }
}

QString LinksViewController::linkAt(const QPoint &viewportPosition) const
{
    return m_linksTextView->anchorAt(viewportPosition);
}

bool LinksViewController::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_linksTextView->viewport())
        return CaseOwningViewController::eventFilter(watched, event);
    // A click is a press and a release on the same link.
    if (event->type() == QEvent::MouseButtonPress) {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        m_pressedLink = mouse->button() == Qt::LeftButton ? linkAt(mouse->position().toPoint()) : QString();
    } else if (event->type() == QEvent::MouseButtonRelease) {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        const QString link = linkAt(mouse->position().toPoint());
        const bool clicked = mouse->button() == Qt::LeftButton && !link.isEmpty() && link == m_pressedLink;
        m_pressedLink.clear();
        if (clicked && m_linkActivator.activate(link) != LinkActivator::Outcome::NotAURL)
            return true;
    }
    return CaseOwningViewController::eventFilter(watched, event);
}

} // namespace ovalis
