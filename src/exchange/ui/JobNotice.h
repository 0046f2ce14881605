#pragma once

#include <QString>

class QWidget;

namespace ovalis {

// How a finished long job (a backup, a restore, an import, an export) tells
// the user what it did: a short message in the status bar of the window that
// holds the widget, or a message box when there is no such window.
class JobNotice
{
public:
    // How long the message stays in the status bar, in milliseconds: long
    // enough to be read by someone who looked away while the job ran.
    static constexpr int duration = 30000;

    // Shows text for the window of widget (may be null). Main thread.
    static void show(QWidget *widget, const QString &text);

    // "1 case", "1,204 media files": the count in the user's number format
    // with the singular or plural noun.
    static QString counted(int count, const QString &one, const QString &many);
};

} // namespace ovalis
