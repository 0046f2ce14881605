#include "exchange/ui/JobNotice.h"

#include <QLocale>
#include <QMainWindow>
#include <QMessageBox>
#include <QStatusBar>

namespace ovalis {

void JobNotice::show(QWidget *widget, const QString &text)
{
    if (auto *window = qobject_cast<QMainWindow *>(widget ? widget->window() : nullptr)) {
        window->statusBar()->showMessage(text, duration);
        return;
    }
    auto *box = new QMessageBox(QMessageBox::Information, QString(), text, QMessageBox::Ok, widget);
    box->setTextFormat(Qt::PlainText);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

QString JobNotice::counted(int count, const QString &one, const QString &many)
{
    return QStringLiteral("%1 %2").arg(QLocale().toString(count), count == 1 ? one : many);
}

} // namespace ovalis
