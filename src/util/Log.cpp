#include "util/Log.h"

#include <QMutex>
#include <QMutexLocker>
#include <cstdio>

#include "util/PrintableText.h"

namespace ovalis {

namespace {

Q_LOGGING_CATEGORY(lcCoreData, "Core Data")
Q_LOGGING_CATEGORY(lcUI, "UI")
Q_LOGGING_CATEGORY(lcStartup, "Startup")
Q_LOGGING_CATEGORY(lcTearDown, "Tear Down")
Q_LOGGING_CATEGORY(lcFiling, "Filing")
Q_LOGGING_CATEGORY(lcImporting, "Importing")
Q_LOGGING_CATEGORY(lcMultipeer, "Multipeer")
Q_LOGGING_CATEGORY(lcNetworking, "Networking")

QMutex captureMutex;
QList<LogCapture *> captures;

void messageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    const char *level = "";
    switch (type) {
    case QtDebugMsg: level = "debug "; break;
    case QtInfoMsg: level = ""; break;
    case QtWarningMsg: level = "warning "; break;
    case QtCriticalMsg: level = "error "; break;
    case QtFatalMsg: level = "fatal "; break;
    }
    // Lines carry names and text from peers and files: no escape sequence
    // of theirs reaches the terminal. Line breaks of a message stay.
    QStringList lines = message.split(QLatin1Char('\n'));
    for (QString &part : lines)
        part = PrintableText::from(part);
    const QByteArray line = QStringLiteral("[%1] %2%3\n")
                                .arg(QString::fromLatin1(context.category ? context.category : "default"),
                                     QString::fromLatin1(level), lines.join(QLatin1Char('\n')))
                                .toUtf8();
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    std::fflush(stderr);
}

} // namespace

const QLoggingCategory &Log::category(LogArea area)
{
    switch (area) {
    case LogArea::CoreData: return lcCoreData();
    case LogArea::UI: return lcUI();
    case LogArea::Startup: return lcStartup();
    case LogArea::TearDown: return lcTearDown();
    case LogArea::Filing: return lcFiling();
    case LogArea::Importing: return lcImporting();
    case LogArea::Multipeer: return lcMultipeer();
    case LogArea::Networking: return lcNetworking();
    }
    return lcCoreData();
}

QString Log::categoryName(LogArea area)
{
    return QString::fromLatin1(category(area).categoryName());
}

void Log::write(LogArea area, LogLevel level, const QString &message)
{
    {
        QMutexLocker locker(&captureMutex);
        for (LogCapture *capture : std::as_const(captures))
            capture->append({area, level, message});
    }
    const QLoggingCategory &cat = category(area);
    switch (level) {
    case LogLevel::Default:
        if (cat.isInfoEnabled())
            QMessageLogger(nullptr, 0, nullptr, cat.categoryName()).info("%s", qUtf8Printable(message));
        break;
    case LogLevel::Error:
        if (cat.isCriticalEnabled())
            QMessageLogger(nullptr, 0, nullptr, cat.categoryName()).critical("%s", qUtf8Printable(message));
        break;
    case LogLevel::Debug:
        if (cat.isDebugEnabled())
            QMessageLogger(nullptr, 0, nullptr, cat.categoryName()).debug("%s", qUtf8Printable(message));
        break;
    }
}

void Log::install()
{
    // Debug chatter stays out of the output unless asked for with QT_LOGGING_RULES.
    if (qEnvironmentVariableIsEmpty("QT_LOGGING_RULES"))
        QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\n"));
    if (qEnvironmentVariableIsEmpty("JOURNAL_STREAM"))
        qInstallMessageHandler(messageHandler);
}

LogCapture::LogCapture()
    : m_mutex(new QMutex)
{
    QMutexLocker locker(&captureMutex);
    captures.append(this);
}

LogCapture::~LogCapture()
{
    {
        QMutexLocker locker(&captureMutex);
        captures.removeAll(this);
    }
    delete m_mutex;
}

void LogCapture::append(const Entry &entry)
{
    QMutexLocker locker(m_mutex);
    m_entries.append(entry);
}

QList<LogCapture::Entry> LogCapture::entries() const
{
    QMutexLocker locker(m_mutex);
    return m_entries;
}

QStringList LogCapture::messages() const
{
    QStringList result;
    for (const Entry &entry : entries())
        result.append(entry.message);
    return result;
}

int LogCapture::count(const QString &message) const
{
    int n = 0;
    for (const Entry &entry : entries())
        n += entry.message == message ? 1 : 0;
    return n;
}

bool LogCapture::contains(const QString &message, LogLevel level) const
{
    for (const Entry &entry : entries())
        if (entry.message == message && entry.level == level)
            return true;
    return false;
}

int LogCapture::countPrefix(const QString &prefix) const
{
    int n = 0;
    for (const Entry &entry : entries())
        n += entry.message.startsWith(prefix) ? 1 : 0;
    return n;
}

bool LogCapture::containsPrefix(const QString &prefix) const
{
    return countPrefix(prefix) > 0;
}

void LogCapture::clear()
{
    QMutexLocker locker(m_mutex);
    m_entries.clear();
}

} // namespace ovalis
