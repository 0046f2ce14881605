#include "app/UpdateWindowController.h"

#include "media/FileManagerReveal.h"
#include "util/UpdateChecker.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardPaths>
#include <QVBoxLayout>

namespace ovalis {

UpdateWindowController::UpdateWindowController(UpdateChecker *checker, QWidget *parent)
    : QDialog(parent)
    , m_checker(checker)
    , m_heading(new QLabel(this))
    , m_detail(new QLabel(this))
    , m_notes(new QPlainTextEdit(this))
    , m_progress(new QProgressBar(this))
    , m_downloadFolder(QStandardPaths::writableLocation(QStandardPaths::DownloadLocation))
{
    setWindowTitle(QStringLiteral("Software Update"));
    setMinimumWidth(460);
    QFont headingFont = m_heading->font();
    headingFont.setBold(true);
    headingFont.setPointSizeF(headingFont.pointSizeF() * 1.15);
    m_heading->setFont(headingFont);
    m_heading->setTextFormat(Qt::PlainText);
    m_heading->setWordWrap(true);
    m_detail->setTextFormat(Qt::RichText);
    m_detail->setWordWrap(true);
    m_detail->setOpenExternalLinks(true);
    m_detail->setTextInteractionFlags(Qt::TextBrowserInteraction);
    m_notes->setReadOnly(true);
    m_notes->setVisible(false);
    m_progress->setVisible(false);

    auto *buttons = new QDialogButtonBox(this);
    m_downloadButton = buttons->addButton(QStringLiteral("Download"), QDialogButtonBox::AcceptRole);
    m_revealButton = buttons->addButton(QStringLiteral("Show in Folder"), QDialogButtonBox::ActionRole);
    m_closeButton = buttons->addButton(QDialogButtonBox::Close);
    m_downloadButton->setVisible(false);
    m_revealButton->setVisible(false);
    connect(m_downloadButton, &QPushButton::clicked, this, &UpdateWindowController::downloadUpdate);
    connect(m_revealButton, &QPushButton::clicked, this, [this] { FileManagerReveal::reveal({QUrl::fromLocalFile(m_downloadedPath)}); });
    connect(m_closeButton, &QPushButton::clicked, this, [this] {
        m_checker->cancelDownload();
        close();
    });

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_heading);
    layout->addWidget(m_detail);
    layout->addWidget(m_notes, 1);
    layout->addWidget(m_progress);
    layout->addStretch(1);
    layout->addWidget(buttons);

    connect(checker, &UpdateChecker::updateFound, this, [this](const AppcastItem &item) {
        m_item = item;
        m_progress->setVisible(false);
        QString detail = item.title.isEmpty() ? QString() : item.title.toHtmlEscaped() + QStringLiteral("<br>");
        detail += QStringLiteral("You have version %1.").arg(QCoreApplication::applicationVersion().toHtmlEscaped());
        // Only a web page is linked: the link opens outside Ovalis.
        if (item.releaseNotesLink.scheme() == QLatin1String("https") && !item.releaseNotesLink.host().isEmpty())
            detail += QStringLiteral(" <a href=\"%1\">Release notes</a>").arg(item.releaseNotesLink.toString(QUrl::FullyEncoded).toHtmlEscaped());
        showMessage(QStringLiteral("%1 %2 is available.").arg(QGuiApplication::applicationDisplayName(), item.shownVersion()), detail);
        m_notes->setPlainText(item.notes);
        m_notes->setVisible(!item.notes.isEmpty());
        m_downloadButton->setVisible(true);
        m_downloadButton->setDefault(true);
    });
    connect(checker, &UpdateChecker::noUpdateFound, this, [this](const QString &version) {
        m_progress->setVisible(false);
        showMessage(QStringLiteral("You're up to date."),
                    QStringLiteral("%1 %2 is the newest version available.").arg(QGuiApplication::applicationDisplayName(), version.toHtmlEscaped()));
    });
    connect(checker, &UpdateChecker::updateRefused, this, [this](const AppcastItem &item, const QString &reason) {
        m_progress->setVisible(false);
        showMessage(QStringLiteral("%1 %2 was not offered.").arg(QGuiApplication::applicationDisplayName(), item.shownVersion()),
                    reason.toHtmlEscaped());
    });
    connect(checker, &UpdateChecker::checkFailed, this, [this](const QString &reason) {
        m_progress->setVisible(false);
        showMessage(QStringLiteral("Could not check for updates."), reason.toHtmlEscaped());
    });
    connect(checker, &UpdateChecker::downloadProgress, this, [this](qint64 received, qint64 total) {
        // Kilobytes keep large downloads within the bar's integer range.
        m_progress->setMaximum(total > 0 ? int(total / 1024) : 0);
        m_progress->setValue(int(received / 1024));
    });
    connect(checker, &UpdateChecker::downloadFinished, this, [this](const QString &path) {
        m_downloadedPath = path;
        m_progress->setVisible(false);
        showMessage(QStringLiteral("%1 %2 has been downloaded.").arg(QGuiApplication::applicationDisplayName(), m_item.shownVersion()),
                    QStringLiteral("Saved as %1. Quit Ovalis and install it from there.").arg(path.toHtmlEscaped()));
        m_revealButton->setVisible(true);
    });
    connect(checker, &UpdateChecker::downloadFailed, this, [this](const QString &reason) {
        m_progress->setVisible(false);
        showMessage(QStringLiteral("The update could not be downloaded."), reason.toHtmlEscaped());
        m_downloadButton->setVisible(true);
        m_downloadButton->setEnabled(true);
    });
}

void UpdateWindowController::checkForUpdates(const QUrl &feedUrl, UpdateDelegate::Modifiers modifiers)
{
    m_notes->setVisible(false);
    m_downloadButton->setVisible(false);
    m_revealButton->setVisible(false);
    m_progress->setVisible(false);
    if (feedUrl.isEmpty()) {
        showMessage(QStringLiteral("No update feed is configured."),
                    QStringLiteral("This build of %1 has no address to look for updates at. "
                                   "Set one under Settings, or install updates through your package manager.")
                        .arg(QGuiApplication::applicationDisplayName()));
        return;
    }
    showMessage(QStringLiteral("Checking for updates…"), QString());
    m_progress->setRange(0, 0);
    m_progress->setVisible(true);
    m_checker->checkForUpdates(feedUrl, modifiers);
}

void UpdateWindowController::downloadUpdate()
{
    m_downloadButton->setEnabled(false);
    m_progress->setRange(0, 0);
    m_progress->setVisible(true);
    showMessage(QStringLiteral("Downloading %1 %2…").arg(QGuiApplication::applicationDisplayName(), m_item.shownVersion()), QString());
    m_checker->download(m_item, m_downloadFolder);
}

void UpdateWindowController::showMessage(const QString &heading, const QString &detail)
{
    m_heading->setText(heading);
    m_detail->setText(detail);
    m_detail->setVisible(!detail.isEmpty());
}

QString UpdateWindowController::message() const
{
    return m_heading->text();
}

} // namespace ovalis
