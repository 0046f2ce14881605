#pragma once

#include "media/ui/MediaRoundRectView.h"

class QLabel;

namespace ovalis {

// An overlay of one line of text; hidden while the text is empty.
class MediaSingleLabelView : public MediaRoundRectView
{
    Q_OBJECT

public:
    explicit MediaSingleLabelView(QWidget *parent = nullptr);

    QString text() const;
    void setText(const QString &text);
    QLabel *labelField() const { return m_labelField; }

private:
    QLabel *m_labelField;
};

} // namespace ovalis
