#pragma once

#include <QWidget>

#include "transfer/RemoteMediaLibrary.h"

class QLabel;

namespace ovalis {

class ConnectedImageView;

// One nearby library in the Sync Media list: its device symbol, its name and
// whether this library is connected to it.
class RemoteLibraryView : public QWidget
{
    Q_OBJECT

public:
    explicit RemoteLibraryView(const RemoteMediaLibrary &remote, QWidget *parent = nullptr);

    const RemoteMediaLibrary &remote() const { return m_remote; }
    void setConnected(bool connected);
    ConnectedImageView *connectedImageView() const { return m_connectedImageView; }

private:
    RemoteMediaLibrary m_remote;
    ConnectedImageView *m_connectedImageView;
};

} // namespace ovalis
