#include "util/AppcastFeed.h"

#include <QTextDocumentFragment>
#include <QXmlStreamReader>

namespace ovalis {

namespace {

const QString sparkleNamespace = QStringLiteral("http://www.andymatuschak.org/xml-namespaces/sparkle");

// The attribute or element name without its prefix, accepted in the feed's
// namespace or under the conventional "sparkle:" prefix of feeds that forget
// to declare it.
bool isSparkle(QStringView namespaceUri, QStringView qualifiedName, QStringView localName, const QString &name)
{
    if (localName != name)
        return false;
    return namespaceUri == sparkleNamespace || qualifiedName.startsWith(u"sparkle:");
}

QString sparkleAttribute(const QXmlStreamAttributes &attributes, const QString &name)
{
    for (const QXmlStreamAttribute &attribute : attributes) {
        if (isSparkle(attribute.namespaceUri(), attribute.qualifiedName(), attribute.name(), name))
            return attribute.value().toString().trimmed();
    }
    return QString();
}

// The text a description shows, without its markup: feeds often carry HTML.
QString plainNotes(const QString &description)
{
    if (!Qt::mightBeRichText(description))
        return description.trimmed();
    QString text = QTextDocumentFragment::fromHtml(description).toPlainText();
    text.remove(QChar::ObjectReplacementCharacter); // where images stood
    return text.trimmed();
}

AppcastItem readItem(QXmlStreamReader &reader)
{
    AppcastItem item;
    QString enclosureVersion;
    QString enclosureShortVersion;
    while (reader.readNextStartElement()) {
        const QStringView name = reader.name();
        const QStringView uri = reader.namespaceUri();
        const QStringView qualified = reader.qualifiedName();
        if (uri.isEmpty() && !qualified.contains(u':') && name == u"title") {
            item.title = reader.readElementText().trimmed();
        } else if (uri.isEmpty() && !qualified.contains(u':') && name == u"description") {
            item.notes = plainNotes(reader.readElementText());
        } else if (uri.isEmpty() && !qualified.contains(u':') && name == u"enclosure") {
            const QXmlStreamAttributes attributes = reader.attributes();
            item.enclosureUrl = QUrl(attributes.value(QStringLiteral("url")).toString().trimmed());
            item.enclosureLength = attributes.value(QStringLiteral("length")).toLongLong();
            enclosureVersion = sparkleAttribute(attributes, QStringLiteral("version"));
            enclosureShortVersion = sparkleAttribute(attributes, QStringLiteral("shortVersionString"));
            item.edSignature = sparkleAttribute(attributes, QStringLiteral("edSignature"));
            reader.skipCurrentElement();
        } else if (isSparkle(uri, qualified, name, QStringLiteral("version"))) {
            item.versionString = reader.readElementText().trimmed();
        } else if (isSparkle(uri, qualified, name, QStringLiteral("shortVersionString"))) {
            item.displayVersionString = reader.readElementText().trimmed();
        } else if (isSparkle(uri, qualified, name, QStringLiteral("channel"))) {
            const QString channel = reader.readElementText().trimmed();
            if (!channel.isEmpty())
                item.channel = channel;
        } else if (isSparkle(uri, qualified, name, QStringLiteral("releaseNotesLink"))) {
            item.releaseNotesLink = QUrl(reader.readElementText().trimmed());
        } else {
            reader.skipCurrentElement();
        }
    }
    if (item.versionString.isEmpty())
        item.versionString = enclosureVersion;
    if (item.displayVersionString.isEmpty())
        item.displayVersionString = enclosureShortVersion;
    return item;
}

} // namespace

QList<AppcastItem> AppcastFeed::parse(const QByteArray &xml, QString *error)
{
    QList<AppcastItem> items;
    QXmlStreamReader reader(xml);
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isStartElement() && reader.name() == u"item" && reader.namespaceUri().isEmpty()) {
            AppcastItem item = readItem(reader);
            if (!item.versionString.isEmpty() && item.enclosureUrl.isValid() && !item.enclosureUrl.isEmpty())
                items.append(item);
        }
    }
    if (reader.hasError()) {
        if (error)
            *error = QStringLiteral("The update feed is not valid: %1 (line %2)")
                         .arg(reader.errorString(), QString::number(reader.lineNumber()));
        return {};
    }
    return items;
}

} // namespace ovalis
