#include "store/StyledText.h"

namespace ovalis {

namespace {

QString cssColor(const QColor &color)
{
    return QStringLiteral("rgba(%1,%2,%3,%4)")
        .arg(color.red())
        .arg(color.green())
        .arg(color.blue())
        .arg(color.alpha());
}

QString htmlText(const QString &text)
{
    QString escaped = text.toHtmlEscaped();
    escaped.replace(QStringLiteral("\r\n"), QStringLiteral("<br>"));
    escaped.replace(QLatin1Char('\r'), QStringLiteral("<br>"));
    escaped.replace(QLatin1Char('\n'), QStringLiteral("<br>"));
    return escaped;
}

} // namespace

QColor StyledText::color(Style style)
{
    QColor grey(128, 128, 128);
    if (style == Style::Faded)
        grey.setAlphaF(0.5f);
    return grey;
}

void StyledText::append(const QString &text, Style style)
{
    if (text.isEmpty())
        return;
    if (!m_runs.isEmpty() && !m_runs.last().isLink() && m_runs.last().style == style) {
        m_runs.last().text += text;
        return;
    }
    m_runs.append({text, style, QString()});
}

void StyledText::appendLink(const QString &text, const QString &target)
{
    if (target.isEmpty()) {
        append(text);
        return;
    }
    m_runs.append({text, Style::Base, target});
}

QString StyledText::toPlainText() const
{
    QString text;
    for (const Run &run : m_runs)
        text += run.text;
    return text;
}

QStringList StyledText::links() const
{
    QStringList targets;
    for (const Run &run : m_runs)
        if (run.isLink())
            targets.append(run.link);
    return targets;
}

QString StyledText::toHtml() const
{
    QString html = QStringLiteral("<span style=\"font-size:%1pt; font-weight:%2; white-space:pre-wrap;\">")
                       .arg(pointSize)
                       .arg(int(weight));
    for (const Run &run : m_runs) {
        const QString style = QStringLiteral("color:%1;").arg(cssColor(color(run.style)));
        if (run.isLink())
            html += QStringLiteral("<a href=\"%1\" style=\"%2\">%3</a>")
                        .arg(run.link.toHtmlEscaped(), style, htmlText(run.text));
        else
            html += QStringLiteral("<span style=\"%1\">%2</span>").arg(style, htmlText(run.text));
    }
    html += QStringLiteral("</span>");
    return html;
}

} // namespace ovalis
