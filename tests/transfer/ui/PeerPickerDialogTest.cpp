#include "transfer/ui/PeerPickerDialog.h"

#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QSslSocket>
#include <QTest>
#include <gtest/gtest.h>

#include "transfer/MultiPeerManager.h"
#include "transfer/IgnoringPeerDelegate.h"
#include "transfer/PeerDiscovery.h"
#include "transfer/PeerPicker.h"
#include "util/Log.h"

using namespace ovalis;

namespace {

// Discovery whose services the test announces and withdraws.
class AnnouncedDiscovery : public PeerDiscovery
{
public:
    void publish(const QString &, const QString &, quint16, const DiscoveryInfo &) override {}
    void unpublish() override {}
    void startBrowsing(const QString &) override {}
    void stopBrowsing() override {}
    QString unavailableReason() const override { return QString(); }

    void announce(const QString &name, quint16 port, const QString &peerID)
    {
        emit serviceFound({name, QStringLiteral("127.0.0.1"), port, {{QStringLiteral("peerID"), peerID}}});
    }
    void withdraw(const QString &name) { emit serviceLost(name); }
};

// Presents each picker in a dialog, as a desktop delegate would.
class PickerPresenter : public test::IgnoringPeerDelegate
{
public:
    void presentBrowser(MultiPeerManager *, PeerPicker *picker) override
    {
        presented = picker;
        dialog = new PeerPickerDialog(picker);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->show();
    }
    void dismissBrowser(MultiPeerManager *, PeerPicker *picker) override
    {
        dismissed = picker;
        if (dialog)
            dialog->close();
    }

    PeerPicker *presented = nullptr;
    PeerPicker *dismissed = nullptr;
    QPointer<PeerPickerDialog> dialog;
};

QStringList rows(const QListWidget *list)
{
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts.append(list->item(i)->text());
    return texts;
}

TEST(PeerPickerDialogTest, NearbyLibrariesAreInvitedWithinTheLimitAndThePickerEndsThroughTheDelegate)
{
    ASSERT_TRUE(QSslSocket::supportsSsl());
    MultiPeerManager bravo(QStringLiteral("Bravo"), QStringLiteral("ovalis-peer"));
    bravo.setDiscovery(nullptr);
    bravo.setInvitationHandler([](const PeerID &, const QString &, std::function<void(bool)> reply) { reply(true); });
    bravo.startAdvertising();
    ASSERT_TRUE(QTest::qWaitFor([&] { return bravo.listeningPort() != 0; }, 10000));

    MultiPeerManager alpha(QStringLiteral("Alpha"), QStringLiteral("ovalis-peer"));
    auto discovery = std::make_unique<AnnouncedDiscovery>();
    AnnouncedDiscovery *announced = discovery.get();
    alpha.setDiscovery(std::move(discovery));
    PickerPresenter presenter;
    alpha.setDelegate(&presenter);
    alpha.startBrowsing();
    announced->announce(QStringLiteral("Charlie"), 9, QStringLiteral("charlie-id"));
    announced->announce(QStringLiteral("Bravo"), bravo.listeningPort(), bravo.peerID().uniqueID);

    LogCapture log;
    alpha.showBrowser(1);
    EXPECT_TRUE(log.messages().contains(QStringLiteral("Show browser")));
    ASSERT_NE(presenter.dialog, nullptr);
    PeerPicker *picker = presenter.presented;
    EXPECT_EQ(picker->serviceType(), QStringLiteral("ovalis-peer"));
    QListWidget *list = presenter.dialog->peerList();
    EXPECT_EQ(rows(list), (QStringList{QStringLiteral("Bravo"), QStringLiteral("Charlie")}));
    EXPECT_FALSE(presenter.dialog->inviteButton()->isEnabled()); // nothing selected

    list->setCurrentRow(0);
    ASSERT_TRUE(presenter.dialog->inviteButton()->isEnabled());
    QTest::mouseClick(presenter.dialog->inviteButton(), Qt::LeftButton);
    EXPECT_EQ(rows(list).first(), QStringLiteral("Bravo — Invited"));
    EXPECT_FALSE(picker->canInvite(bravo.peerID()));
    // The session holds one peer at most: while Bravo is invited, Charlie cannot be.
    EXPECT_FALSE(picker->canInvite({QStringLiteral("charlie-id"), QStringLiteral("Charlie")}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return rows(list).first() == QStringLiteral("Bravo — Connected"); }, 10000));
    list->setCurrentRow(1);
    EXPECT_FALSE(presenter.dialog->inviteButton()->isEnabled());
    EXPECT_FALSE(picker->invite({QStringLiteral("charlie-id"), QStringLiteral("Charlie")}));

    announced->withdraw(QStringLiteral("Charlie"));
    EXPECT_EQ(rows(list), QStringList{QStringLiteral("Bravo — Connected")});

    QTest::keyClick(presenter.dialog, Qt::Key_Return); // Done
    EXPECT_TRUE(log.messages().contains(QStringLiteral("Session browserViewControllerDidFinish")));
    EXPECT_EQ(presenter.dismissed, picker);
    EXPECT_TRUE(QTest::qWaitFor([&] { return presenter.dialog.isNull(); }, 5000));

    // Without a limit, an invitation that fails ends at once and the peer is available again.
    log.clear();
    announced->announce(QStringLiteral("Charlie"), 9, QStringLiteral("charlie-id"));
    alpha.showBrowser();
    ASSERT_NE(presenter.dialog, nullptr);
    PeerPicker *second = presenter.presented;
    EXPECT_NE(second, picker);
    const PeerID charlie{QStringLiteral("charlie-id"), QStringLiteral("Charlie")};
    EXPECT_TRUE(second->invite(charlie));
    ASSERT_TRUE(QTest::qWaitFor([&] { return second->canInvite(charlie); }, 10000));
    QTest::keyClick(presenter.dialog, Qt::Key_Escape); // Cancel
    EXPECT_TRUE(log.messages().contains(QStringLiteral("Session browserViewControllerWasCancelled")));
    EXPECT_EQ(presenter.dismissed, second);
    EXPECT_TRUE(QTest::qWaitFor([&] { return presenter.dialog.isNull(); }, 5000));
    alpha.disconnect();
}

} // namespace
