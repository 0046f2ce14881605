#include "exchange/BackupScanner.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <algorithm>

namespace ovalis {

namespace {

// The bytes the parser looks ahead of where it stands, at most: a value is
// handed out with as many of the bytes after it, so that it fails where it
// fails in the whole file.
constexpr qsizetype parserLookahead = 5;

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// A byte that can belong to a number or a literal (null, true, false).
bool isScalarByte(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' || c == '+' || c == '.';
}

QString syntaxMessage(QJsonParseError::ParseError error, qint64 offset)
{
    QJsonParseError parseError;
    parseError.error = error;
    return QStringLiteral("The file is not valid JSON (%1 at offset %2)").arg(parseError.errorString()).arg(offset);
}

} // namespace

BackupScanner::BackupScanner(QIODevice *device, qsizetype chunkSize, qsizetype valueLimit)
    : m_text(device, chunkSize)
    , m_valueLimit(valueLimit)
{
}

bool BackupScanner::restart()
{
    m_buffer = QByteArray();
    m_base = 0;
    m_pos = 0;
    m_textEnded = false;
    m_state = State::Start;
    m_values = 0;
    m_notAList = false;
    m_pendingError.clear();
    m_error.clear();
    if (!m_text.restart()) {
        fail(QStringLiteral("The file cannot be read again from its start"));
        return false;
    }
    return true;
}

void BackupScanner::fail(const QString &message)
{
    if (m_error.isEmpty())
        m_error = message;
    m_state = State::Ended;
}

void BackupScanner::failSyntax(QJsonParseError::ParseError error, qint64 at)
{
    fail(syntaxMessage(error, at));
}

bool BackupScanner::fill()
{
    if (m_textEnded)
        return false;
    m_buffer.remove(0, m_pos);
    m_base += m_pos;
    m_pos = 0;
    const QByteArray more = m_text.read();
    if (more.isEmpty()) {
        m_textEnded = true;
        if (m_text.failed())
            fail(QStringLiteral("The file is not valid UTF-16 text"));
        return false;
    }
    m_buffer += more;
    return true;
}

bool BackupScanner::skipSpace()
{
    for (;;) {
        while (m_pos < m_buffer.size() && isSpace(m_buffer.at(m_pos)))
            ++m_pos;
        if (m_pos < m_buffer.size())
            return true;
        if (!fill())
            return false;
    }
}

std::optional<BackupScanner::Value> BackupScanner::next()
{
    if (failed())
        return std::nullopt;
    if (!m_pendingError.isEmpty()) {
        fail(m_pendingError);
        return std::nullopt;
    }
    switch (m_state) {
    case State::Start: {
        // The parser passes over a byte-order mark within the text as well.
        while (m_buffer.size() <= 3 && fill()) {
        }
        if (m_buffer.size() > 3 && m_buffer.startsWith("\xEF\xBB\xBF"))
            m_pos = 3;
        if (!skipSpace()) {
            failSyntax(QJsonParseError::IllegalValue, offset());
            return std::nullopt;
        }
        const char first = m_buffer.at(m_pos);
        if (first == '{') {
            // One object: a valid one is not a list of cases.
            const std::optional<Value> object = takeValue();
            if (!object)
                return std::nullopt;
            QString error;
            if (!parse(*object, &error)) {
                fail(error);
                return std::nullopt;
            }
            m_notAList = true;
            m_state = State::AfterArray;
            return next();
        }
        ++m_pos;
        if (first != '[') {
            failSyntax(QJsonParseError::IllegalValue, offset());
            return std::nullopt;
        }
        if (!skipSpace()) {
            failSyntax(QJsonParseError::UnterminatedArray, offset());
            return std::nullopt;
        }
        if (m_buffer.at(m_pos) == ']') {
            ++m_pos;
            m_state = State::AfterArray;
        } else {
            m_state = State::InArray;
        }
        return next();
    }
    case State::InArray: {
        if (!skipSpace()) {
            failSyntax(QJsonParseError::UnterminatedArray, offset());
            return std::nullopt;
        }
        const char first = m_buffer.at(m_pos);
        if (first == ']' || first == '}') {
            failSyntax(QJsonParseError::MissingObject, offset() + 1);
            return std::nullopt;
        }
        if (first == ',') {
            failSyntax(QJsonParseError::IllegalValue, offset() + 1);
            return std::nullopt;
        }
        std::optional<Value> value = takeValue();
        if (value)
            afterValue();
        return value;
    }
    case State::AfterArray:
        if (skipSpace())
            failSyntax(QJsonParseError::GarbageAtEnd, offset());
        else if (m_notAList)
            fail(QStringLiteral("The file does not hold a list of cases"));
        m_state = State::Ended;
        return std::nullopt;
    case State::Ended:
        break;
    }
    return std::nullopt;
}

std::optional<BackupScanner::Value> BackupScanner::takeValue()
{
    const char first = m_buffer.at(m_pos);
    const bool scalar = first != '{' && first != '[' && first != '"';
    // The value's length so far, found by bracket and quote, and whether it ended.
    qsizetype length = 0;
    bool closed = false;
    int depth = 0;
    bool inString = false;
    bool escaped = false;
    while (!closed) {
        if (m_pos + length == m_buffer.size()) {
            if (length > m_valueLimit) {
                fail(QStringLiteral("case record %1: larger than %2 MB").arg(m_values + 1).arg(m_valueLimit / (1024 * 1024)));
                return std::nullopt;
            }
            if (!fill())
                break;
        }
        const char *data = m_buffer.constData() + m_pos;
        const qsizetype available = m_buffer.size() - m_pos;
        if (scalar) {
            while (length < available && isScalarByte(data[length]))
                ++length;
            closed = length < available;
            continue;
        }
        for (; length < available && !closed; ++length) {
            const char c = data[length];
            if (inString) {
                if (escaped)
                    escaped = false;
                else if (c == '\\')
                    escaped = true;
                else if (c == '"')
                    inString = false;
            } else if (c == '"') {
                inString = true;
            } else if (c == '{' || c == '[') {
                ++depth;
            } else if (c == '}' || c == ']') {
                --depth;
            }
            closed = depth == 0 && !inString;
        }
    }
    if (length == 0) {
        // Neither number nor literal: the parser takes it for a number of no digits.
        failSyntax(QJsonParseError::IllegalNumber, offset());
        return std::nullopt;
    }
    qsizetype following = 0;
    if (closed) {
        while (m_buffer.size() - m_pos - length < parserLookahead && fill()) {
        }
        following = std::min(parserLookahead, m_buffer.size() - m_pos - length);
    }
    Value value;
    value.number = ++m_values;
    value.offset = offset() - 1;
    value.json.reserve(length + 1 + following);
    value.json += '[';
    value.json += QByteArrayView(m_buffer).sliced(m_pos, length);
    if (following > 0) {
        value.json += ']';
        value.json += QByteArray(following - 1, ' ');
    }
    m_pos += length;
    if (!closed) {
        // The file ended inside the value, whose parse fails; this is what
        // the parser says after it.
        m_pendingError = syntaxMessage(QJsonParseError::UnterminatedArray, offset());
        m_state = State::Ended;
    }
    return value;
}

void BackupScanner::afterValue()
{
    if (m_state == State::Ended)
        return;
    // As the parser takes the token after a value: white space, then one byte.
    if (!skipSpace()) {
        m_pendingError = syntaxMessage(QJsonParseError::UnterminatedArray, offset());
        m_state = State::Ended;
        return;
    }
    const char token = m_buffer.at(m_pos++);
    if (token == ']') {
        m_state = State::AfterArray;
    } else if (token != ',') {
        const bool more = skipSpace();
        m_pendingError = syntaxMessage(more ? QJsonParseError::MissingValueSeparator : QJsonParseError::UnterminatedArray, offset());
        m_state = State::Ended;
    }
}

std::optional<QJsonValue> BackupScanner::parse(const Value &value, QString *error)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(value.json, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        *error = syntaxMessage(parseError.error, value.offset + parseError.offset);
        return std::nullopt;
    }
    return document.array().at(0);
}

} // namespace ovalis
