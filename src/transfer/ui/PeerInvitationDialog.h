#pragma once

#include <QDialog>
#include <QTimer>

namespace ovalis {

// Asks the user whether a nearby library may join this one's session, naming
// it and showing the verification code both users compare. Declines by
// itself when the invitation times out.
class PeerInvitationDialog : public QDialog
{
    Q_OBJECT

public:
    PeerInvitationDialog(const QString &libraryName, const QString &verificationCode, int timeoutSeconds, QWidget *parent = nullptr);

    QString message() const { return m_message; }

private:
    QString m_message;
    QTimer m_timeout;
};

} // namespace ovalis
