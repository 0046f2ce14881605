#include "util/VersionComparator.h"

#include <QList>

namespace ovalis {

namespace {

enum class PartType { Number, Text, Separator };

struct Part {
    PartType type;
    QString text;
};

PartType typeOf(QChar c)
{
    if (c.isDigit())
        return PartType::Number;
    if (c.isSpace() || c.isPunct())
        return PartType::Separator;
    return PartType::Text;
}

QList<Part> split(const QString &version)
{
    QList<Part> parts;
    for (const QChar c : version) {
        const PartType type = typeOf(c);
        // Separators never merge: "1..2" has two of them, like "1.2" has one.
        if (!parts.isEmpty() && parts.last().type == type && type != PartType::Separator)
            parts.last().text.append(c);
        else
            parts.append(Part{type, QString(c)});
    }
    return parts;
}

int compareNumbers(const QString &a, const QString &b)
{
    // Compares digit runs of any length without overflowing.
    qsizetype i = 0;
    while (i < a.size() - 1 && a.at(i) == u'0')
        ++i;
    qsizetype j = 0;
    while (j < b.size() - 1 && b.at(j) == u'0')
        ++j;
    const QStringView x = QStringView(a).mid(i);
    const QStringView y = QStringView(b).mid(j);
    if (x.size() != y.size())
        return x.size() < y.size() ? -1 : 1;
    return x.compare(y);
}

int sign(int value)
{
    return (value > 0) - (value < 0);
}

} // namespace

int VersionComparator::compare(const QString &a, const QString &b)
{
    const QList<Part> partsA = split(a);
    const QList<Part> partsB = split(b);
    const qsizetype common = std::min(partsA.size(), partsB.size());
    for (qsizetype i = 0; i < common; ++i) {
        const Part &x = partsA.at(i);
        const Part &y = partsB.at(i);
        if (x.type == y.type) {
            int result = 0;
            if (x.type == PartType::Number)
                result = compareNumbers(x.text, y.text);
            else if (x.type == PartType::Text)
                result = sign(x.text.compare(y.text));
            if (result != 0)
                return result;
            continue;
        }
        // A pre-release text loses to anything else at the same place ("1.0b"
        // before "1.0.1"); a number beats a separator.
        if (x.type == PartType::Text)
            return -1;
        if (y.type == PartType::Text)
            return 1;
        return x.type == PartType::Number ? 1 : -1;
    }
    if (partsA.size() == partsB.size())
        return 0;
    // Equal so far: the longer version is newer unless what it adds starts
    // with text, which marks a pre-release of the shorter one.
    const bool aLonger = partsA.size() > partsB.size();
    const QList<Part> &longer = aLonger ? partsA : partsB;
    qsizetype next = common;
    while (next < longer.size() && longer.at(next).type == PartType::Separator)
        ++next;
    const bool preRelease = next < longer.size() && longer.at(next).type == PartType::Text;
    const int longerIsNewer = preRelease ? -1 : 1;
    return aLonger ? longerIsNewer : -longerIsNewer;
}

} // namespace ovalis
