#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>
#include <optional>

namespace ovalis {

class Media;

// The program images are edited in outside the library, as chosen in
// Settings under "External_Image_Editor": empty for the desktop's default
// application for the file's type, a desktop entry's file name
// ("org.gnome.gThumb.desktop") for that application, or otherwise a command
// line, in which "%f" stands for the file (else the file is appended).
class ExternalEditor
{
public:
    static inline const QString settingsKey = QStringLiteral("External_Image_Editor");

    enum class Kind { defaultApplication, desktopEntry, command };

    struct DesktopEntry {
        QString id; // the file name, e.g. "org.gnome.gThumb.desktop"
        QString name;
        QString exec;
        QStringList mimeTypes;
    };

    // Starts a program without waiting for it; false with a message when it
    // could not be started.
    using Launcher = std::function<bool(const QString &program, const QStringList &arguments, QString *error)>;
    // Opens a file with the desktop's default application.
    using DefaultOpener = std::function<bool(const QUrl &url)>;

    explicit ExternalEditor(const QString &choice, Launcher launcher = {}, DefaultOpener defaultOpener = {},
                            QStringList applicationDirectories = {});
    // The one chosen in the shared settings.
    static ExternalEditor fromSettings();

    Kind kind() const { return m_kind; }
    // What log lines call it: the application's name, the command's program,
    // or "Default Application".
    QString name() const;

    // Backs the media's file up, registers the "Edit Image" swap and opens
    // the file with this editor, which changes it in place. Failures are
    // logged. Answers whether the editor was started; DICOM files are not
    // opened.
    bool editMedia(Media *media) const;
    // Opens the file with this editor, logging the outcome.
    bool open(const QUrl &file) const;

    // The key/value pairs of a desktop entry file's [Desktop Entry] group;
    // nothing when it lacks a name or an Exec line, or is hidden.
    static std::optional<DesktopEntry> parseDesktopEntry(const QString &contents, const QString &id);
    static std::optional<DesktopEntry> findDesktopEntry(const QString &id, const QStringList &applicationDirectories);
    // $XDG_DATA_HOME/applications then each of $XDG_DATA_DIRS/applications.
    static QStringList defaultApplicationDirectories();
    // Every application whose entry handles some image type, by name.
    static QList<DesktopEntry> imageApplications(const QStringList &applicationDirectories);
    // Every application whose entry lists the file's type or an alias of it,
    // by name: none means the desktop has nothing to show the file with.
    static QList<DesktopEntry> applicationsFor(const QString &filePath, const QStringList &applicationDirectories);

    // The arguments of an Exec value for a file: quoted arguments as the
    // desktop entry format has them, %f and %F the path, %u and %U its URL,
    // %% a percent sign, other field codes dropped; the path is appended
    // when there is no file field. Nothing when the quoting is broken or
    // nothing is left.
    static std::optional<QStringList> execArguments(const QString &exec, const QString &filePath);
    // A command line split as a shell would, "%f" replaced by the path (or
    // the path appended).
    static std::optional<QStringList> commandArguments(const QString &command, const QString &filePath);

private:
    static QList<DesktopEntry> applications(const std::function<bool(const QString &mimeType)> &handles,
                                            const QStringList &applicationDirectories);
    std::optional<QStringList> argumentsFor(const QString &filePath, QString *applicationName) const;

    Kind m_kind;
    QString m_choice;
    Launcher m_launcher;
    DefaultOpener m_defaultOpener;
    QStringList m_applicationDirectories;
};

} // namespace ovalis
