#include "util/UserGuideRenderer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QSaveFile>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextImageFormat>
#include <QUrl>

namespace ovalis {

namespace {

// Screenshots are taken at 96 dots per inch; on paper a point is 1/72 inch.
constexpr qreal pointsPerPixel = 72.0 / 96.0;
constexpr qreal marginMillimetres = 18.0;

} // namespace

void UserGuideRenderer::prepare(QTextDocument &document, const QString &markdown, const QString &folder, qreal textWidth)
{
    document.setBaseUrl(QUrl::fromLocalFile(QDir(folder).absolutePath() + QLatin1Char('/')));
    document.setMarkdown(markdown, QTextDocument::MarkdownDialectGitHub);

    // Gather the image runs first: changing a format while walking the
    // fragments would split them under the walk.
    struct ImageRun {
        int position;
        int length;
        QTextImageFormat format;
    };
    QList<ImageRun> images;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (fragment.isValid() && fragment.charFormat().isImageFormat())
                images.append({fragment.position(), fragment.length(), fragment.charFormat().toImageFormat()});
        }
    }
    for (ImageRun &run : images) {
        const QUrl url = document.baseUrl().resolved(QUrl(run.format.name()));
        const QImage image(url.toLocalFile());
        if (image.isNull())
            continue;
        document.addResource(QTextDocument::ImageResource, QUrl(run.format.name()), image);
        qreal width = image.width() * pointsPerPixel;
        qreal height = image.height() * pointsPerPixel;
        if (width > textWidth) {
            height *= textWidth / width;
            width = textWidth;
        }
        run.format.setWidth(width);
        run.format.setHeight(height);
        QTextCursor cursor(&document);
        cursor.setPosition(run.position);
        cursor.setPosition(run.position + run.length, QTextCursor::KeepAnchor);
        cursor.setCharFormat(run.format);
    }
}

bool UserGuideRenderer::render(const QString &markdownPath, const QString &pdfPath, QString *error)
{
    QFile input(markdownPath);
    if (!input.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("Could not read %1: %2").arg(markdownPath, input.errorString());
        return false;
    }
    const QString markdown = QString::fromUtf8(input.readAll());

    QSaveFile output(pdfPath);
    if (!output.open(QIODevice::WriteOnly)) {
        if (error)
            *error = QStringLiteral("Could not write %1: %2").arg(pdfPath, output.errorString());
        return false;
    }
    {
        QPdfWriter writer(&output);
        writer.setTitle(QStringLiteral("Ovalis User Guide"));
        writer.setCreator(QStringLiteral("Ovalis"));
        writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                         QMarginsF(marginMillimetres, marginMillimetres, marginMillimetres, marginMillimetres),
                                         QPageLayout::Millimeter));
        QTextDocument document;
        QFont font = document.defaultFont();
        font.setPointSizeF(10.5);
        document.setDefaultFont(font);
        const qreal textWidth = writer.pageLayout().paintRect(QPageLayout::Point).width();
        prepare(document, markdown, QFileInfo(markdownPath).absolutePath(), textWidth);
        document.print(&writer);
    }
    if (!output.commit()) {
        if (error)
            *error = QStringLiteral("Could not write %1: %2").arg(pdfPath, output.errorString());
        return false;
    }
    return true;
}

} // namespace ovalis
