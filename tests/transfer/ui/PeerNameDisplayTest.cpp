#include <QLabel>
#include <QTextDocument>
#include <gtest/gtest.h>

#include "transfer/ui/PeerInvitationDialog.h"
#include "transfer/ui/RemoteLibraryView.h"

using namespace ovalis;

namespace {

// A name another library could give itself: markup that would load an
// image and show a link, and a line of its own with a code.
const QString hostileName = QStringLiteral("<b>Library</b><img src=\"file:///etc/hostname\"><a href=\"https://x\">x</a>\nCode 000 000");

const QLabel *labelNaming(const QWidget &widget, const QString &part)
{
    for (const QLabel *label : widget.findChildren<QLabel *>()) {
        if (label->text().contains(part))
            return label;
    }
    return nullptr;
}

// What the label draws: its text as plain text, or as markup when Qt takes it for that.
bool drawnAsMarkup(const QLabel &label)
{
    return label.textFormat() == Qt::RichText || label.textFormat() == Qt::MarkdownText
        || (label.textFormat() == Qt::AutoText && Qt::mightBeRichText(label.text()));
}

} // namespace

TEST(PeerNameDisplayTest, APeersNameIsShownAsItsOwnTextOnOneLine)
{
    PeerInvitationDialog dialog(hostileName, QStringLiteral("123 456"), 30);
    const QLabel *message = labelNaming(dialog, QStringLiteral("<b>Library</b>"));
    ASSERT_NE(message, nullptr);
    EXPECT_FALSE(drawnAsMarkup(*message));
    EXPECT_EQ(message->text(), QStringLiteral("“<b>Library</b><img src=\"file:///etc/hostname\"><a href=\"https://x\">x</a> Code 000 000” "
                                              "wants to connect to fetch media files from this library."));
    const QLabel *code = labelNaming(dialog, QStringLiteral("123 456"));
    ASSERT_NE(code, nullptr);
    EXPECT_FALSE(drawnAsMarkup(*code));

    RemoteLibraryView row({{QStringLiteral("peer"), hostileName}, hostileName, DeviceType::mac});
    const QLabel *name = labelNaming(row, QStringLiteral("<b>Library</b>"));
    ASSERT_NE(name, nullptr);
    EXPECT_FALSE(drawnAsMarkup(*name));
    EXPECT_FALSE(name->text().contains(QLatin1Char('\n')));
}
