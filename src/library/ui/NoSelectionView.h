#pragma once

#include <QWidget>

class QLabel;

namespace ovalis {

// Covers the whole of its parent with one centred, greyed line of text
// ("No Selection", "Multiple Selection"), following the parent's size.
class NoSelectionView : public QWidget
{
    Q_OBJECT

public:
    explicit NoSelectionView(QWidget *parent);

    QString text() const;
    void setText(const QString &text);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QLabel *m_label;
};

} // namespace ovalis
