#pragma once

#include <QDate>
#include <QIcon>
#include <QString>
#include <QWidget>
#include <optional>

class QLabel;

namespace ovalis {

// The About window's content: icon on the left; name, version, build,
// descriptions, the components it is built on and the maker's site on the right.
class AboutView : public QWidget
{
    Q_OBJECT

public:
    struct Content {
        QIcon icon; // the placeholder symbol when null
        QString displayName;
        QString version;
        std::optional<QString> buildNumber;
        QDate buildDate;
    };

    explicit AboutView(const Content &content, QWidget *parent = nullptr);

    // The texts shown, top to bottom, for tests and accessibility checks.
    QStringList texts() const;

    // "Build 42 (07/12/2026)", or empty when the build number is unknown.
    static QString buildLine(const std::optional<QString> &buildNumber, const QDate &buildDate);

private:
    QLabel *addLabel(const QString &text, const QFont &font);

    QList<QLabel *> m_labels;
};

} // namespace ovalis
