#pragma once

#include <QDialog>
#include <QPointer>

class QListWidget;
class QPushButton;

namespace ovalis {

class PeerPicker;

// Presents a PeerPicker: the nearby libraries with their state, "Invite"
// for the selected one, "Done" and "Cancel". Closes itself when the picker
// ends, however it ends.
class PeerPickerDialog : public QDialog
{
    Q_OBJECT

public:
    explicit PeerPickerDialog(PeerPicker *picker, QWidget *parent = nullptr);

    QListWidget *peerList() const { return m_list; }
    QPushButton *inviteButton() const { return m_invite; }

public slots:
    void invite();
    void done(int result) override;

private:
    void reload();
    void updateInviteButton();

    QPointer<PeerPicker> m_picker; // Owned by its manager, which deletes it after it ends.
    QListWidget *m_list;
    QPushButton *m_invite;
};

} // namespace ovalis
