#pragma once

#include <QRegularExpression>
#include <QString>
#include <QStringList>

namespace ovalis {

// A regular expression compiled with no options and applied to whole texts.
// Case-sensitive. Reentrant: use one instance per thread.
class TextPattern
{
public:
    // Three capital letters, the first neither O nor I, then four digits.
    static const QString nhiPattern;
    // http or https, "://", then non-white-space characters, greedily.
    static const QString urlPattern;
    // Links of the companion paper library; they carry title and date query items.
    static const QString paperReferencePattern;

    explicit TextPattern(const QString &pattern);

    // The compiled patterns above, one instance per calling thread.
    static const TextPattern &nhi();
    static const TextPattern &url();
    static const TextPattern &paperReference();

    bool isValid() const { return m_expression.isValid(); }
    // Every non-overlapping match in text order; none for a null text or a
    // pattern that does not compile.
    QStringList matches(const QString &text) const;
    bool hasMatch(const QString &text) const;

private:
    QRegularExpression m_expression;
};

} // namespace ovalis
