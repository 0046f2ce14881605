#pragma once

#include <QRegularExpression>
#include <QString>
#include <QStringView>

namespace ovalis {

// Whether the whole text matches a LIKE pattern: '*' matches any run of
// characters (also none), '?' exactly one character (a surrogate pair is one
// character), and a backslash makes the character after it literal.
bool matchesLikePattern(QStringView text, QStringView pattern);

// The regular expression a MATCHES comparison uses: it must match the whole
// text. Invalid when the pattern is.
QRegularExpression matchesExpression(const QString &pattern, bool caseInsensitive);

// Substring tests in which an empty needle is found in every text, null or not.
bool textContains(QStringView text, QStringView needle);
bool textStartsWith(QStringView text, QStringView prefix);
bool textEndsWith(QStringView text, QStringView suffix);

} // namespace ovalis
