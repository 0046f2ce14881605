#pragma once

#include "util/AppcastItem.h"
#include "util/UpdateDelegate.h"

#include <QDialog>
#include <QString>

class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace ovalis {

class UpdateChecker;

// "Check for Updates…": one window that shows the check, offers a newer
// version with its notes and downloads it into the Downloads folder. What the
// feed says (versions, title, notes) is shown as plain text.
class UpdateWindowController : public QDialog
{
    Q_OBJECT

public:
    explicit UpdateWindowController(UpdateChecker *checker, QWidget *parent = nullptr);

    // Starts a check of feedUrl with the modifier keys held now; an empty
    // address says that no feed is configured.
    void checkForUpdates(const QUrl &feedUrl, UpdateDelegate::Modifiers modifiers);

    QString message() const;
    QPushButton *downloadButton() const { return m_downloadButton; }
    void setDownloadFolder(const QString &folder) { m_downloadFolder = folder; }

public slots:
    void downloadUpdate();

private:
    void showMessage(const QString &heading, const QString &detail);

    UpdateChecker *m_checker;
    QLabel *m_heading;
    QLabel *m_detail; // rich text for its link: everything put in is escaped
    QPlainTextEdit *m_notes;
    QProgressBar *m_progress;
    QPushButton *m_downloadButton;
    QPushButton *m_revealButton;
    QPushButton *m_closeButton;
    AppcastItem m_item;
    QString m_downloadFolder;
    QString m_downloadedPath;
};

} // namespace ovalis
