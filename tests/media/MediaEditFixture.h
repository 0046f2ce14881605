#pragma once

#include <QDir>
#include <QDirIterator>
#include <QImage>
#include <QPainter>

#include "support/EncodedImage.h"
#include "store/UndoFileFolder.h"
#include "support/StoreFixture.h"
#include "util/UndoManager.h"

namespace ovalis::test {

// A library whose temporary folder is the test's own, with an undo manager
// that makes one step of each explicit group only.
class MediaEditFixture : public StoreFixture
{
protected:
    void SetUp() override
    {
        StoreFixture::SetUp();
        m_previousTemp = qgetenv("TMPDIR");
        // The temporary folder must exist: the one of a missing TMPDIR is "".
        const QString temporary = m_directory.filePath(QStringLiteral("tmp"));
        ASSERT_TRUE(QDir().mkpath(temporary));
        qputenv("TMPDIR", temporary.toUtf8());
        undoManager()->setGroupsByEvent(false);
    }

    void TearDown() override
    {
        if (m_previousTemp.isEmpty())
            qunsetenv("TMPDIR");
        else
            qputenv("TMPDIR", m_previousTemp);
        StoreFixture::TearDown();
    }

    UndoManager *undoManager() const { return context()->undoManager(); }
    // The files the library's undo steps keep.
    QStringList keptUndoFiles() const
    {
        QStringList files;
        QDirIterator it(m_stack->undoFiles().path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext())
            files.append(it.next());
        return files;
    }
    // Makes what the test set up permanent, so that undo starts with the test's own steps.
    void forgetSetUpUndo()
    {
        context()->saveWithParent(true);
        undoManager()->removeAllActions();
    }

    // An image of one colour with its lower-left quarter (origin top left:
    // x < w/2, y ≥ h/2) in another.
    static QImage quarteredImage(const QSize &size, const QColor &colour, const QColor &lowerLeft)
    {
        QImage image(size, QImage::Format_RGB32);
        image.fill(colour);
        QPainter painter(&image);
        painter.fillRect(QRect(0, size.height() / 2, size.width() / 2, size.height() - size.height() / 2), lowerLeft);
        return image;
    }

    static QByteArray encoded(const QImage &image, const char *format)
    {
        QByteArray data;
        QBuffer buffer(&data);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, format);
        return data;
    }

    static bool near(const QColor &a, const QColor &b, int tolerance = 24)
    {
        return qAbs(a.red() - b.red()) <= tolerance && qAbs(a.green() - b.green()) <= tolerance
               && qAbs(a.blue() - b.blue()) <= tolerance;
    }

    static QImage fileImage(const Media *media)
    {
        return QImage(media->filePath());
    }

private:
    QByteArray m_previousTemp;
};

} // namespace ovalis::test
