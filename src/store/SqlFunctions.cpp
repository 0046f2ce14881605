#include "store/SqlFunctions.h"

#include <QRegularExpression>
#include <QString>
#include <QStringView>

#include <cstring>
#include <sqlite3.h>

#include "util/Log.h"
#include "util/TextFolding.h"
#include "util/TextMatching.h"

namespace ovalis {

namespace {

// The text of an argument, valid until the argument is next converted.
// Null when the argument is NULL.
QStringView argumentText(sqlite3_value *value)
{
    if (sqlite3_value_type(value) == SQLITE_NULL)
        return {};
    const void *data = sqlite3_value_text16(value);
    const int bytes = sqlite3_value_bytes16(value);
    if (!data)
        return QStringView(u"", 0);
    return QStringView(static_cast<const char16_t *>(data), bytes / 2);
}

void resultText(sqlite3_context *context, const QString &text)
{
    sqlite3_result_text16(context, text.utf16(), int(text.size() * 2), SQLITE_TRANSIENT);
}

template <QString (*fold)(const QString &)>
void foldFunction(sqlite3_context *context, int, sqlite3_value **arguments)
{
    if (sqlite3_value_type(arguments[0]) == SQLITE_NULL) {
        sqlite3_result_null(context);
        return;
    }
    const QStringView text = argumentText(arguments[0]);
    resultText(context, fold(QString::fromRawData(reinterpret_cast<const QChar *>(text.data()), text.size())));
}

void lengthFunction(sqlite3_context *context, int, sqlite3_value **arguments)
{
    sqlite3_result_int64(context, argumentText(arguments[0]).size());
}

void likeFunction(sqlite3_context *context, int, sqlite3_value **arguments)
{
    if (sqlite3_value_type(arguments[0]) == SQLITE_NULL || sqlite3_value_type(arguments[1]) == SQLITE_NULL) {
        sqlite3_result_int(context, 0);
        return;
    }
    const QStringView text = argumentText(arguments[0]);
    const QStringView pattern = argumentText(arguments[1]);
    sqlite3_result_int(context, matchesLikePattern(text, pattern) ? 1 : 0);
}

// Works on the UTF-8 text as stored: a valid UTF-8 needle found anywhere in
// valid UTF-8 text starts on a character boundary, so a byte search answers
// the same as a search by characters, and glibc's memmem is several times
// faster than SQLite's instr on the long texts of a library.
void containsFunction(sqlite3_context *context, int, sqlite3_value **arguments)
{
    if (sqlite3_value_type(arguments[0]) == SQLITE_NULL || sqlite3_value_type(arguments[1]) == SQLITE_NULL) {
        sqlite3_result_null(context);
        return;
    }
    const void *text = sqlite3_value_text(arguments[0]);
    const size_t textBytes = size_t(sqlite3_value_bytes(arguments[0]));
    const void *needle = sqlite3_value_text(arguments[1]);
    const size_t needleBytes = size_t(sqlite3_value_bytes(arguments[1]));
    if (!text || !needle) {
        sqlite3_result_error_nomem(context);
        return;
    }
    sqlite3_result_int(context, needleBytes == 0 || memmem(text, textBytes, needle, needleBytes) != nullptr);
}

struct CompiledExpression {
    QRegularExpression expression;
    bool caseInsensitive = false;
};

void deleteCompiledExpression(void *compiled)
{
    delete static_cast<CompiledExpression *>(compiled);
}

void matchesFunction(sqlite3_context *context, int, sqlite3_value **arguments)
{
    if (sqlite3_value_type(arguments[0]) == SQLITE_NULL || sqlite3_value_type(arguments[1]) == SQLITE_NULL) {
        sqlite3_result_int(context, 0);
        return;
    }
    const bool caseInsensitive = sqlite3_value_int(arguments[2]) != 0;
    const auto *cached = static_cast<const CompiledExpression *>(sqlite3_get_auxdata(context, 1));
    if (cached && cached->caseInsensitive == caseInsensitive) {
        const QRegularExpression &expression = cached->expression;
        sqlite3_result_int(context, expression.isValid() && expression.match(argumentText(arguments[0])).hasMatch());
        return;
    }
    auto *compiled = new CompiledExpression{matchesExpression(argumentText(arguments[1]).toString(), caseInsensitive),
                                            caseInsensitive};
    const QRegularExpression &expression = compiled->expression;
    sqlite3_result_int(context, expression.isValid() && expression.match(argumentText(arguments[0])).hasMatch());
    // SQLite owns the compiled expression from here on and may delete it at once.
    sqlite3_set_auxdata(context, 1, compiled, deleteCompiledExpression);
}

int utf16Collation(void *, int leftBytes, const void *left, int rightBytes, const void *right)
{
    const QStringView leftText(static_cast<const char16_t *>(left), leftBytes / 2);
    const QStringView rightText(static_cast<const char16_t *>(right), rightBytes / 2);
    return leftText.compare(rightText);
}

void check(sqlite3 *db, int result, const char *name)
{
    if (result != SQLITE_OK)
        Log::error(LogArea::CoreData, QStringLiteral("Unable to register SQL function %1: %2")
                                          .arg(QString::fromLatin1(name), QString::fromUtf8(sqlite3_errmsg(db))));
}

} // namespace

void registerSqlFunctions(sqlite3 *db)
{
    const int flags = SQLITE_UTF16 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS;
    struct Function {
        const char *name;
        int arguments;
        void (*call)(sqlite3_context *, int, sqlite3_value **);
    };
    const Function functions[] = {
        {"ovalis_fold", 1, foldFunction<foldForComparison>},
        {"ovalis_fold_c", 1, foldFunction<foldCaseOnly>},
        {"ovalis_fold_d", 1, foldFunction<foldDiacriticsOnly>},
        {"ovalis_length", 1, lengthFunction},
        {"ovalis_like", 2, likeFunction},
        {"ovalis_matches", 3, matchesFunction},
    };
    for (const Function &function : functions)
        check(db, sqlite3_create_function_v2(db, function.name, function.arguments, flags, nullptr, function.call,
                                             nullptr, nullptr, nullptr),
              function.name);
    // Texts are stored as UTF-8: this one reads them without conversion.
    check(db, sqlite3_create_function_v2(db, "ovalis_contains", 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS,
                                         nullptr, containsFunction, nullptr, nullptr, nullptr),
          "ovalis_contains");
    check(db, sqlite3_create_collation_v2(db, "ovalis_utf16", SQLITE_UTF16, nullptr, utf16Collation, nullptr),
          "ovalis_utf16");
}

} // namespace ovalis
