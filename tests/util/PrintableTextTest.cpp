#include <gtest/gtest.h>

#include "util/PrintableText.h"

using namespace ovalis;

TEST(PrintableTextTest, ControlAndInvisibleCharactersGoAndTheRestStays)
{
    // Escape sequences lose their introducers (ESC and the one-character
    // CSI), and with them their effect.
    EXPECT_EQ(PrintableText::from(QStringLiteral("A\x1b[2K\x1b]0;title\x07" "B\x9b" "31mC\x7f")), QStringLiteral("A[2K]0;titleB31mC"));
    // Line breaks and tabs become spaces; separators, direction overrides,
    // zero-width and tag characters go.
    EXPECT_EQ(PrintableText::from(QStringLiteral("a\r\nb\tc\u2028d\u2029e")), QStringLiteral("a  b cde"));
    EXPECT_EQ(PrintableText::from(QStringLiteral("code \u202e654 321\u202c \u200b|") + QString::fromUcs4(U"\U000E0041")),
              QStringLiteral("code 654 321 |"));
    // Ordinary text of any script stays as it is.
    const QString ordinary = QStringLiteral("Library with 12 cases — Ōtautahi, «Zürich» 東京 ") + QString::fromUcs4(U"\U0001F9B4");
    EXPECT_EQ(PrintableText::from(ordinary), ordinary);
    EXPECT_EQ(PrintableText::from(QString()), QString());
}
