#pragma once

#include <QIcon>
#include <QList>
#include <QString>
#include <QWidget>

class QButtonGroup;
class QLabel;
class QToolButton;

namespace ovalis {

// A row of segments of which one is selected, with a label beneath, as a
// toolbar item. Each segment shows an icon or a short text and has a tooltip.
class SegmentedControl : public QWidget
{
    Q_OBJECT

public:
    struct Segment {
        QIcon icon;
        QString text;
        QString toolTip;
    };

    SegmentedControl(const QString &label, const QList<Segment> &segments, int segmentWidth, QWidget *parent = nullptr);

    int count() const;
    int selectedSegment() const;
    void setSelectedSegment(int index);
    QToolButton *segmentButton(int index) const;
    QString label() const;

signals:
    // The user picked another segment.
    void segmentChanged(int index);

private:
    QButtonGroup *m_group; // Owned (child).
    QLabel *m_label;       // Owned (child).
};

} // namespace ovalis
