#include "util/PrintableText.h"

#include <QList>

namespace ovalis {

QString PrintableText::from(const QString &text)
{
    QString printable;
    printable.reserve(text.size());
    // By code point: format characters outside the basic plane (tags) go too.
    for (const uint c : text.toUcs4()) {
        switch (QChar::category(c)) {
        case QChar::Other_Control:
            if (c == '\t' || c == '\n' || c == '\r')
                printable.append(QLatin1Char(' '));
            break;
        case QChar::Other_Format:
        case QChar::Separator_Line:
        case QChar::Separator_Paragraph:
            break;
        default:
            printable.append(QStringView(QChar::fromUcs4(c)));
            break;
        }
    }
    return printable;
}

} // namespace ovalis
