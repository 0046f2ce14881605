#include "library/ui/CaseDetailSide.h"

#include <QLabel>
#include <QLocale>
#include <QStackedWidget>
#include <QTextBrowser>
#include <QVBoxLayout>

#include "media/ui/AbstractMediaCollectionViewController.h"
#include "store/Case.h"
#include "store/LinkActivator.h"
#include "util/LocalDate.h"

namespace ovalis {

namespace {

QString dateText(const QDateTime &date)
{
    return date.isValid() ? QLocale().toString(LocalDate::of(date), QLocale::LongFormat).toHtmlEscaped()
                          : QStringLiteral("<span style='color:gray'>—</span>");
}

QString row(const QString &name, const QString &valueHtml)
{
    return QStringLiteral("<tr><td style='color:gray; padding-right:12px'>%1</td><td>%2</td></tr>").arg(name, valueHtml);
}

QString paragraphs(const QString &text)
{
    return text.toHtmlEscaped().replace(QLatin1Char('\n'), QStringLiteral("<br>"));
}

} // namespace

CaseDetailSide::CaseDetailSide(QWidget *parent)
    : QTabWidget(parent)
    , m_info(new QTextBrowser)
    , m_preview(new AbstractMediaCollectionViewController)
    , m_links(new QTextBrowser)
{
    setObjectName(QStringLiteral("detailSide"));
    setDocumentMode(true);
    // Two columns of thumbnails fit the side at its usual width.
    m_preview->setThumbnailDisplaySide(120);
    for (QTextBrowser *browser : {m_info, m_links}) {
        browser->setFrameShape(QFrame::NoFrame);
        browser->setOpenLinks(false);
    }
    QLabel *overlay = nullptr;
    QStackedWidget *stack = nullptr;
    addTab(makePage(m_info, &overlay, &stack), QStringLiteral("Info"));
    addTab(makePage(m_preview, &overlay, &stack), QStringLiteral("Preview"));
    addTab(makePage(m_links, &overlay, &stack), QStringLiteral("Links"));
    connect(m_links, &QTextBrowser::anchorClicked, this, [](const QUrl &url) {
        LinkActivator().activate(url.toString());
    });
    refresh();
}

QWidget *CaseDetailSide::makePage(QWidget *content, QLabel **overlay, QStackedWidget **stack)
{
    *stack = new QStackedWidget;
    *overlay = new QLabel;
    (*overlay)->setAlignment(Qt::AlignCenter);
    (*overlay)->setForegroundRole(QPalette::PlaceholderText);
    QFont font = (*overlay)->font();
    font.setPointSizeF(font.pointSizeF() * 1.4);
    (*overlay)->setFont(font);
    (*stack)->addWidget(*overlay);
    (*stack)->addWidget(content);
    m_overlays.append(*overlay);
    m_stacks.append(*stack);
    return *stack;
}

void CaseDetailSide::showCases(const QList<Case *> &cases)
{
    m_selectionCount = int(cases.size());
    m_case = cases.size() == 1 ? cases.first() : nullptr;
    refresh();
}

QString CaseDetailSide::overlayText() const
{
    if (m_case)
        return QString();
    return m_selectionCount == 0 ? QStringLiteral("No Selection") : QStringLiteral("Multiple Selection");
}

void CaseDetailSide::refresh()
{
    const QString overlay = overlayText();
    for (int i = 0; i < m_stacks.size(); ++i) {
        m_overlays[i]->setText(overlay);
        m_stacks[i]->setCurrentIndex(overlay.isEmpty() ? 1 : 0);
    }
    m_preview->setCurrentCase(m_case);
    if (!m_case)
        return;

    const QString identifier = m_case->patientID().isEmpty()
                                   ? QStringLiteral("<span style='color:gray'>Anonymous</span>")
                                   : m_case->patientID().toHtmlEscaped();
    QString html = QStringLiteral("<table cellspacing='4'>");
    html += row(QStringLiteral("Patient ID"),
                m_case->patientIDisValid() ? identifier : QStringLiteral("<span style='color:#d0312d'>%1</span>").arg(identifier));
    html += row(QStringLiteral("Age / Sex"), m_case->abbreviatedAgeAndSexString().toHtmlEscaped());
    html += row(QStringLiteral("Date of Birth"), dateText(m_case->dateOfBirth()));
    html += row(QStringLiteral("Date of Diagnosis"), dateText(m_case->dateOfDiagnosis()));
    html += row(QStringLiteral("Tags"), m_case->tagList().toHtmlEscaped());
    html += QStringLiteral("</table>");
    html += QStringLiteral("<h3>%1</h3>").arg(paragraphs(m_case->summary()));
    html += QStringLiteral("<p>%1</p>").arg(paragraphs(m_case->detail()));
    m_info->setHtml(html);

    m_links->setHtml(m_case->urlsAttributedString().toHtml());
}

} // namespace ovalis
