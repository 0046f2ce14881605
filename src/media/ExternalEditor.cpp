#include "media/ExternalEditor.h"

#include <QDesktopServices>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QProcess>
#include <QSet>
#include <algorithm>

#include "store/UndoKeptFile.h"
#include "media/DicomDerivedImage.h"
#include "media/MediaFileUndo.h"
#include "store/Media.h"
#include "util/Log.h"
#include "util/Settings.h"

namespace ovalis {

namespace {

const QString defaultApplicationName = QStringLiteral("Default Application");

bool startDetached(const QString &program, const QStringList &arguments, QString *error)
{
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setStandardInputFile(QProcess::nullDevice());
    if (process.startDetached())
        return true;
    if (error)
        *error = process.errorString();
    return false;
}

// The escapes of a desktop entry's string values.
QString unescapeValue(const QString &value)
{
    QString result;
    result.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (c != QLatin1Char('\\') || i + 1 == value.size()) {
            result.append(c);
            continue;
        }
        const QChar next = value.at(++i);
        switch (next.unicode()) {
        case 's':
            result.append(QLatin1Char(' '));
            break;
        case 'n':
            result.append(QLatin1Char('\n'));
            break;
        case 't':
            result.append(QLatin1Char('\t'));
            break;
        case 'r':
            result.append(QLatin1Char('\r'));
            break;
        default:
            // Kept with its backslash: the Exec quoting rules read it next.
            if (next != QLatin1Char('\\'))
                result.append(QLatin1Char('\\'));
            result.append(next);
            break;
        }
    }
    return result;
}

} // namespace

ExternalEditor::ExternalEditor(const QString &choice, Launcher launcher, DefaultOpener defaultOpener,
                               QStringList applicationDirectories)
    : m_choice(choice.trimmed())
    , m_launcher(launcher ? std::move(launcher) : Launcher(startDetached))
    , m_defaultOpener(defaultOpener ? std::move(defaultOpener) : DefaultOpener([](const QUrl &url) {
        return QDesktopServices::openUrl(url);
    }))
    , m_applicationDirectories(applicationDirectories.isEmpty() ? defaultApplicationDirectories()
                                                                : std::move(applicationDirectories))
{
    if (m_choice.isEmpty())
        m_kind = Kind::defaultApplication;
    else if (m_choice.endsWith(QLatin1String(".desktop")) && !m_choice.contains(QLatin1Char(' ')))
        m_kind = Kind::desktopEntry;
    else
        m_kind = Kind::command;
}

ExternalEditor ExternalEditor::fromSettings()
{
    return ExternalEditor(Settings::shared().stringValue(settingsKey));
}

QString ExternalEditor::name() const
{
    switch (m_kind) {
    case Kind::defaultApplication:
        return defaultApplicationName;
    case Kind::desktopEntry:
        if (const std::optional<DesktopEntry> entry = findDesktopEntry(m_choice, m_applicationDirectories))
            return entry->name;
        return m_choice.chopped(int(QStringLiteral(".desktop").size()));
    case Kind::command:
        if (const std::optional<QStringList> arguments = commandArguments(m_choice, QString()))
            return QFileInfo(arguments->first()).fileName();
        return m_choice;
    }
    return m_choice;
}

bool ExternalEditor::editMedia(Media *media) const
{
    const std::optional<QUrl> fileURL = media ? media->fileURL() : std::nullopt;
    if (!fileURL) {
        Log::error(LogArea::UI, QStringLiteral("Unable to launch ") + name() + QStringLiteral(" (unable to get media URL)"));
        return false;
    }
    // An editor would write over the DICOM file, which edits keep.
    if (DicomDerivedImage::keepsOriginal(media)) {
        Log::info(LogArea::UI, QStringLiteral("DICOM files are not opened for editing: ") + media->description());
        return false;
    }
    const MediaFileUndo fileUndo(media->managedObjectContext());
    MediaWriteError error;
    const std::shared_ptr<UndoKeptFile> backup = fileUndo.keepCopy(*fileURL, &error);
    if (!backup) {
        Log::error(LogArea::UI, QStringLiteral("Unable to prepare image for editing at ") + fileURL->toLocalFile()
                                    + QStringLiteral(": ") + error.message());
        return false;
    }
    fileUndo.registerSwapUndo(media->objectID(), backup, MediaFileUndo::editImageActionName);
    return open(*fileURL);
}

std::optional<QStringList> ExternalEditor::argumentsFor(const QString &filePath, QString *applicationName) const
{
    if (m_kind == Kind::desktopEntry) {
        const std::optional<DesktopEntry> entry = findDesktopEntry(m_choice, m_applicationDirectories);
        if (!entry)
            return std::nullopt;
        *applicationName = entry->name;
        return execArguments(entry->exec, filePath);
    }
    return commandArguments(m_choice, filePath);
}

bool ExternalEditor::open(const QUrl &file) const
{
    QString applicationName = name();
    const auto opened = [&] {
        Log::info(LogArea::UI, QStringLiteral("Successfully opened ") + file.toString(QUrl::FullyEncoded)
                                   + QStringLiteral(" with ") + applicationName);
        return true;
    };
    if (m_kind == Kind::defaultApplication) {
        if (m_defaultOpener(file))
            return opened();
        Log::error(LogArea::UI, QStringLiteral("Unable to open ") + applicationName
                                    + QStringLiteral(": no application opens ") + file.toLocalFile());
        return false;
    }
    const std::optional<QStringList> arguments = argumentsFor(file.toLocalFile(), &applicationName);
    if (!arguments) {
        Log::error(LogArea::UI, QStringLiteral("Unable to launch ") + applicationName
                                    + QStringLiteral(" (unable to find application URL)"));
        return false;
    }
    QString error;
    if (m_launcher(arguments->first(), arguments->mid(1), &error))
        return opened();
    Log::error(LogArea::UI, QStringLiteral("Unable to open ") + applicationName + QStringLiteral(": ") + error);
    return false;
}

std::optional<ExternalEditor::DesktopEntry> ExternalEditor::parseDesktopEntry(const QString &contents, const QString &id)
{
    DesktopEntry entry;
    entry.id = id;
    bool inGroup = false;
    bool hidden = false;
    for (QString line : contents.split(QLatin1Char('\n'))) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            inGroup = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        if (!inGroup)
            continue;
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals < 0)
            continue;
        const QString key = line.left(equals).trimmed();
        const QString value = unescapeValue(line.mid(equals + 1).trimmed());
        if (key == QLatin1String("Name"))
            entry.name = value;
        else if (key == QLatin1String("Exec"))
            entry.exec = value;
        else if (key == QLatin1String("MimeType"))
            entry.mimeTypes = value.split(QLatin1Char(';'), Qt::SkipEmptyParts);
        else if ((key == QLatin1String("Hidden") || key == QLatin1String("NoDisplay")) && value == QLatin1String("true"))
            hidden = true;
    }
    if (hidden || entry.name.isEmpty() || entry.exec.isEmpty())
        return std::nullopt;
    return entry;
}

std::optional<ExternalEditor::DesktopEntry> ExternalEditor::findDesktopEntry(const QString &id,
                                                                             const QStringList &applicationDirectories)
{
    for (const QString &directory : applicationDirectories) {
        QFile file(QDir(directory).filePath(id));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        return parseDesktopEntry(QString::fromUtf8(file.readAll()), id);
    }
    return std::nullopt;
}

QStringList ExternalEditor::defaultApplicationDirectories()
{
    QString home = qEnvironmentVariable("XDG_DATA_HOME");
    if (home.isEmpty())
        home = QDir::homePath() + QStringLiteral("/.local/share");
    QString dataDirectories = qEnvironmentVariable("XDG_DATA_DIRS");
    if (dataDirectories.isEmpty())
        dataDirectories = QStringLiteral("/usr/local/share:/usr/share");
    QStringList directories{home + QStringLiteral("/applications")};
    for (const QString &directory : dataDirectories.split(QLatin1Char(':'), Qt::SkipEmptyParts))
        directories << directory + QStringLiteral("/applications");
    return directories;
}

QList<ExternalEditor::DesktopEntry> ExternalEditor::imageApplications(const QStringList &applicationDirectories)
{
    return applications([](const QString &type) { return type.startsWith(QLatin1String("image/")); }, applicationDirectories);
}

QList<ExternalEditor::DesktopEntry> ExternalEditor::applicationsFor(const QString &filePath, const QStringList &applicationDirectories)
{
    const QMimeType type = QMimeDatabase().mimeTypeForFile(filePath);
    QStringList names = type.aliases();
    names.prepend(type.name());
    return applications([&names](const QString &mimeType) { return names.contains(mimeType); }, applicationDirectories);
}

QList<ExternalEditor::DesktopEntry> ExternalEditor::applications(const std::function<bool(const QString &mimeType)> &handles,
                                                                 const QStringList &applicationDirectories)
{
    QList<DesktopEntry> entries;
    QSet<QString> seen;
    for (const QString &directory : applicationDirectories) {
        QDirIterator it(directory, {QStringLiteral("*.desktop")}, QDir::Files);
        while (it.hasNext()) {
            const QString path = it.next();
            const QString id = QFileInfo(path).fileName();
            if (seen.contains(id))
                continue; // an earlier directory's entry overrides it
            seen.insert(id);
            QFile file(path);
            if (!file.open(QIODevice::ReadOnly))
                continue;
            const std::optional<DesktopEntry> entry = parseDesktopEntry(QString::fromUtf8(file.readAll()), id);
            if (entry && std::any_of(entry->mimeTypes.cbegin(), entry->mimeTypes.cend(), handles))
                entries.append(*entry);
        }
    }
    std::sort(entries.begin(), entries.end(), [](const DesktopEntry &a, const DesktopEntry &b) {
        return QString::localeAwareCompare(a.name, b.name) < 0;
    });
    return entries;
}

std::optional<QStringList> ExternalEditor::execArguments(const QString &exec, const QString &filePath)
{
    QStringList arguments;
    QString current;
    bool inToken = false; // something, if only empty quotes, makes a token
    bool inQuotes = false;
    bool hasFileField = false;
    const auto finishToken = [&] {
        if (inToken)
            arguments << current;
        current.clear();
        inToken = false;
    };
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec.at(i);
        if (inQuotes) {
            if (c == QLatin1Char('"')) {
                inQuotes = false;
            } else if (c == QLatin1Char('\\') && i + 1 < exec.size()) {
                current.append(exec.at(++i));
            } else {
                current.append(c);
            }
            continue;
        }
        if (c.isSpace()) {
            finishToken();
        } else if (c == QLatin1Char('"')) {
            inQuotes = true;
            inToken = true;
        } else if (c == QLatin1Char('%') && i + 1 < exec.size()) {
            const QChar code = exec.at(++i);
            if (code == QLatin1Char('f') || code == QLatin1Char('F')) {
                current.append(filePath);
                inToken = hasFileField = true;
            } else if (code == QLatin1Char('u') || code == QLatin1Char('U')) {
                current.append(QUrl::fromLocalFile(filePath).toString(QUrl::FullyEncoded));
                inToken = hasFileField = true;
            } else if (code == QLatin1Char('%')) {
                current.append(QLatin1Char('%'));
                inToken = true;
            }
        } else {
            current.append(c);
            inToken = true;
        }
    }
    if (inQuotes)
        return std::nullopt;
    finishToken();
    if (arguments.isEmpty())
        return std::nullopt;
    if (!hasFileField)
        arguments << filePath;
    return arguments;
}

std::optional<QStringList> ExternalEditor::commandArguments(const QString &command, const QString &filePath)
{
    QStringList arguments = QProcess::splitCommand(command);
    if (arguments.isEmpty())
        return std::nullopt;
    bool hasFileField = false;
    for (QString &argument : arguments) {
        if (argument.contains(QLatin1String("%f"))) {
            argument.replace(QLatin1String("%f"), filePath);
            hasFileField = true;
        }
    }
    if (!hasFileField)
        arguments << filePath;
    return arguments;
}

} // namespace ovalis
