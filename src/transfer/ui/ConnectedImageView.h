#pragma once

#include <QWidget>

namespace ovalis {

// A filled green check-mark circle when connected, an empty grey circle otherwise.
class ConnectedImageView : public QWidget
{
    Q_OBJECT

public:
    explicit ConnectedImageView(QWidget *parent = nullptr);

    bool isConnected() const { return m_connected; }
    void setConnected(bool connected);
    QSize sizeHint() const override { return {20, 20}; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    bool m_connected = false;
};

} // namespace ovalis
