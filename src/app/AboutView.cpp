#include "app/AboutView.h"

#include "app/AboutDelegate.h"
#include "media/PlaceholderImage.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPixmap>
#include <QVBoxLayout>

namespace ovalis {

namespace {

constexpr int iconSize = 128;

QFont scaledFont(const QFont &base, qreal factor, QFont::Weight weight)
{
    QFont font = base;
    font.setPointSizeF(base.pointSizeF() * factor);
    font.setWeight(weight);
    return font;
}

// Markdown "[name](address)" as a rich-text link.
QString htmlLink(const QString &markdown)
{
    const qsizetype close = markdown.indexOf(QStringLiteral("]("));
    if (!markdown.startsWith(u'[') || close < 0 || !markdown.endsWith(u')'))
        return markdown.toHtmlEscaped();
    const QString name = markdown.mid(1, close - 1);
    const QString address = markdown.mid(close + 2, markdown.size() - close - 3);
    return QStringLiteral("<a href=\"%1\">%2</a>").arg(address.toHtmlEscaped(), name.toHtmlEscaped());
}

} // namespace

AboutView::AboutView(const Content &content, QWidget *parent)
    : QWidget(parent)
{
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(24, 20, 24, 16);
    row->setSpacing(24);

    auto *icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("aboutIcon"));
    const qreal ratio = devicePixelRatioF();
    QPixmap pixmap = content.icon.isNull() ? QPixmap::fromImage(PlaceholderImage::missingFile(qRound(iconSize * ratio)))
                                           : content.icon.pixmap(QSize(iconSize, iconSize), ratio);
    pixmap.setDevicePixelRatio(ratio);
    icon->setPixmap(pixmap);
    icon->setFixedSize(iconSize, iconSize);
    row->addWidget(icon, 0, Qt::AlignTop);

    auto *column = new QVBoxLayout;
    column->setSpacing(2);
    row->addLayout(column, 1);
    QWidget::setLayout(row);

    const QFont body = font();
    auto add = [&](const QString &text, const QFont &font) {
        QLabel *label = addLabel(text, font);
        column->addWidget(label);
        return label;
    };
    add(content.displayName, scaledFont(body, 2.0, QFont::Medium));
    add(content.version, scaledFont(body, 1.3, QFont::Light))->setForegroundRole(QPalette::PlaceholderText);
    const QString build = buildLine(content.buildNumber, content.buildDate);
    if (!build.isEmpty())
        add(build, scaledFont(body, 1.0, QFont::Light));
    column->addSpacing(8);
    add(AboutDelegate::mainDescription, body);
    add(AboutDelegate::secondaryDescription, body);
    column->addSpacing(8);

    const QFont caption = scaledFont(body, 0.85, QFont::Normal);
    QStringList links;
    for (const QString &party : AboutDelegate::thirdParties())
        links.append(htmlLink(party));
    QLabel *powered = add(QStringLiteral("Powered by ") + links.join(QStringLiteral(", ")), caption);
    powered->setTextFormat(Qt::RichText);
    powered->setText(QStringLiteral("Powered by ") + links.join(QStringLiteral(", ")));
    powered->setOpenExternalLinks(true);
    powered->setWordWrap(true);

    const QString site = AboutDelegate::websiteURL();
    QLabel *website = add(htmlLink(QStringLiteral("[%1](%2)").arg(QUrl(site).host(), site)), caption);
    website->setTextFormat(Qt::RichText);
    website->setOpenExternalLinks(true);
    column->addStretch(1);
}

QLabel *AboutView::addLabel(const QString &text, const QFont &font)
{
    auto *label = new QLabel(text, this);
    label->setFont(font);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::LinksAccessibleByMouse);
    m_labels.append(label);
    return label;
}

QStringList AboutView::texts() const
{
    QStringList result;
    for (const QLabel *label : m_labels)
        result.append(label->text());
    return result;
}

QString AboutView::buildLine(const std::optional<QString> &buildNumber, const QDate &buildDate)
{
    if (!buildNumber || buildNumber->isEmpty())
        return QString();
    QString line = QStringLiteral("Build ") + *buildNumber;
    if (buildDate.isValid())
        line += QStringLiteral(" (") + QLocale().toString(buildDate, QLocale::ShortFormat) + QStringLiteral(")");
    return line;
}

} // namespace ovalis
