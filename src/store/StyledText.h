#pragma once

#include <QColor>
#include <QFont>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>

namespace ovalis {

// Text made of runs, each with a style and optionally a link target, for a
// widget to render with clickable links. Every run is set in the system font
// at pointSize points and the given weight; the style chooses the colour.
class StyledText
{
public:
    enum class Style {
        Base,  // grey
        Faded, // grey at 50 % opacity
    };

    struct Run {
        QString text;
        Style style = Style::Base;
        QString link; // the link target as text; empty for text without a link

        bool isLink() const { return !link.isEmpty(); }
        bool operator==(const Run &) const = default;
    };

    static constexpr int pointSize = 14;
    static constexpr QFont::Weight weight = QFont::Medium;
    static QColor color(Style style);

    // Text appended after a run of the same style without a link joins that run.
    void append(const QString &text, Style style = Style::Base);
    // A run in the base style that links to target.
    void appendLink(const QString &text, const QString &target);

    const QList<Run> &runs() const { return m_runs; }
    bool isEmpty() const { return m_runs.isEmpty(); }
    QString toPlainText() const;
    // The link targets in text order, duplicates included.
    QStringList links() const;
    // An HTML fragment for QLabel or QTextBrowser: runs become styled spans and
    // <a href> anchors (the href carries the target as written), carriage
    // returns and line feeds become <br>, other white space is kept.
    QString toHtml() const;

    bool operator==(const StyledText &) const = default;

private:
    QList<Run> m_runs;
};

} // namespace ovalis

Q_DECLARE_METATYPE(ovalis::StyledText)
