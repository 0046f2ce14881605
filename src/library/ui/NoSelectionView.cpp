#include "library/ui/NoSelectionView.h"

#include <QEvent>
#include <QLabel>
#include <QVBoxLayout>

namespace ovalis {

NoSelectionView::NoSelectionView(QWidget *parent)
    : QWidget(parent)
    , m_label(new QLabel(this))
{
    setObjectName(QStringLiteral("noSelectionView"));
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Window);
    m_label->setAlignment(Qt::AlignCenter);
    m_label->setForegroundRole(QPalette::PlaceholderText);
    QFont font = m_label->font();
    font.setPointSizeF(font.pointSizeF() * 1.4);
    m_label->setFont(font);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_label);
    parent->installEventFilter(this);
    setGeometry(parent->rect());
}

QString NoSelectionView::text() const
{
    return m_label->text();
}

void NoSelectionView::setText(const QString &text)
{
    m_label->setText(text);
}

bool NoSelectionView::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == parent() && event->type() == QEvent::Resize)
        setGeometry(parentWidget()->rect());
    return QWidget::eventFilter(watched, event);
}

} // namespace ovalis
