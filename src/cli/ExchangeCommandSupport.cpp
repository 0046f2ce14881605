#include "ExchangeCommandSupport.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <unistd.h>

#include "cli/CommandArguments.h"
#include "exchange/LabelledProgressInfo.h"
#include "store/CoreDataStack.h"
#include "util/NotificationCenter.h"

namespace ovalis::ExchangeCommandSupport {

QTextStream &out() { static QTextStream stream(stdout); return stream; }
QTextStream &err() { static QTextStream stream(stderr); return stream; }

int fail(const QString &message, int code)
{
    err() << "ovalis-cli: " << message << Qt::endl;
    return code;
}

bool open(CoreDataStack &stack)
{
    stack.setChecksIntegrityInBackground(false);
    QString error;
    if (stack.loadPersistentStores(&error))
        return true;
    fail(error, 2);
    return false;
}

QString singleArgument(const QString &command, const QString &description, const QString &name, const QString &help,
                       const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(description);
    parser.addHelpOption();
    parser.addPositionalArgument(name, help);
    CommandArguments::parse(parser, command, arguments);
    if (parser.positionalArguments().size() == 1)
        return parser.positionalArguments().first();
    fail(QStringLiteral("%1 needs one %2 (see ovalis-cli %1 --help)").arg(command, name), 1);
    return QString();
}

void waitFor(const bool &done)
{
    while (!done)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

FileCommand openFileCommand(const QString &library, const QString &command, const QString &description, const QString &name,
                            const QString &help, const QStringList &arguments)
{
    FileCommand opened;
    const QString argument = singleArgument(command, description, name, help, arguments);
    if (argument.isEmpty()) {
        opened.exitCode = 1;
        return opened;
    }
    opened.path = QFileInfo(argument).absoluteFilePath();
    opened.stack = openLibrary(library);
    if (!opened.stack)
        opened.exitCode = 2;
    return opened;
}

std::unique_ptr<CoreDataStack> openLibrary(const QString &directory)
{
    auto stack = std::make_unique<CoreDataStack>(directory);
    return open(*stack) ? std::move(stack) : nullptr;
}

TerminalByteProgress::TerminalByteProgress(const QString &label)
    : m_label(label)
    , m_terminal(isatty(STDERR_FILENO))
{
}

TerminalByteProgress::~TerminalByteProgress()
{
    if (m_terminal && m_shownTenths >= 0)
        err() << "\r\033[K" << Qt::flush;
}

LibraryArchive::Progress TerminalByteProgress::progress()
{
    if (!m_terminal)
        return {};
    return [this](qint64 done, qint64 total) {
        // Redrawn only when the figure shown changes, a tenth of a megabyte at a time.
        constexpr double megabyte = 1024.0 * 1024.0;
        const qint64 tenths = qint64(double(done) * 10 / megabyte);
        if (total > 0 && tenths != m_shownTenths) {
            m_shownTenths = tenths;
            err() << "\r\033[K" << m_label << ' ' << QString::number(double(done) / megabyte, 'f', 1) << " of "
                  << QString::number(double(total) / megabyte, 'f', 1) << " MB" << Qt::flush;
        }
        return true;
    };
}

TerminalCountProgress::TerminalCountProgress(const QString &label, const QString &unit)
    : m_label(label)
    , m_unit(unit)
    , m_terminal(isatty(STDERR_FILENO))
{
}

TerminalCountProgress::~TerminalCountProgress()
{
    if (m_terminal && m_shown)
        err() << "\r\033[K" << Qt::flush;
}

LibraryArchive::Progress TerminalCountProgress::progress()
{
    if (!m_terminal)
        return {};
    return [this](qint64 done, qint64 total) {
        m_shown = true;
        err() << "\r\033[K" << m_label << ' ' << done << " of " << total << ' ' << m_unit << Qt::flush;
        return true;
    };
}

TerminalProgress::TerminalProgress()
    : m_terminal(isatty(STDERR_FILENO))
{
    if (!m_terminal)
        return;
    // Shown on the main thread, so that lines from worker threads never interleave.
    m_updateLabelledProgressToken = NotificationCenter::defaultCenter().addObserver(
        LabelledProgressInfo::notificationName, nullptr,
        [label = std::make_shared<QString>()](const Notification &notification) {
            const QVariantMap &info = notification.userInfo;
            if (info.contains(LabelledProgressInfo::label))
                *label = info.value(LabelledProgressInfo::label).toString();
            const int count = info.value(LabelledProgressInfo::count).toInt();
            if (count == 0) {
                err() << "\r\033[K" << Qt::flush;
                return;
            }
            err() << "\r\033[K" << *label << " " << count << "/" << info.value(LabelledProgressInfo::total).toInt() << Qt::flush;
        },
        NotificationCenter::Delivery::MainThread);
}

TerminalProgress::~TerminalProgress()
{
    if (m_terminal)
        err() << "\r\033[K" << Qt::flush;
}

} // namespace ovalis::ExchangeCommandSupport
