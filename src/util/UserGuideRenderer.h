#pragma once

#include <QString>

class QTextDocument;

namespace ovalis {

// Turns the Markdown user guide into the PDF the Help menu opens: A4 pages,
// images from the guide's folder scaled down to the text width, page numbers
// at the foot. Needs a QGuiApplication (fonts); no network.
class UserGuideRenderer
{
public:
    static bool render(const QString &markdownPath, const QString &pdfPath, QString *error = nullptr);

    // Fills document from the Markdown text, resolving images relative to
    // folder and narrowing any wider than textWidth (points).
    static void prepare(QTextDocument &document, const QString &markdown, const QString &folder, qreal textWidth);
};

} // namespace ovalis
