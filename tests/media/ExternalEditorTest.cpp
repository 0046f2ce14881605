#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <gtest/gtest.h>

#include "media/ExternalEditor.h"
#include "media/MediaEditFixture.h"
#include "media/MediaFileUndo.h"
#include "media/MediaFileWatcher.h"
#include "support/DicomTestImage.h"
#include "util/Log.h"

using namespace ovalis;

namespace {

const QString path = QStringLiteral("/home/r/Ovalis/Media/E6/21/E621E1F8 X.jpg");

class ExternalEditorTest : public test::MediaEditFixture
{
protected:
    void SetUp() override
    {
        MediaEditFixture::SetUp();
        m_applications = m_directory.filePath(QStringLiteral("applications"));
        ASSERT_TRUE(QDir().mkpath(m_applications));
        writeEntry(QStringLiteral("org.example.Paint.desktop"),
                   "[Desktop Entry]\nName=Paint\nExec=paint --edit %U\nMimeType=image/png;image/jpeg;\n"
                   "[Desktop Action New]\nName=New\nExec=paint --new\n");
    }

    void writeEntry(const QString &id, const QByteArray &contents)
    {
        QFile file(QDir(m_applications).filePath(id));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(contents);
    }

    // An editor that records what it was asked to start.
    ExternalEditor editor(const QString &choice, bool starts = true)
    {
        return ExternalEditor(
            choice,
            [this, starts](const QString &program, const QStringList &arguments, QString *error) {
                m_started << (QStringList{program} + arguments);
                if (!starts)
                    *error = QStringLiteral("No such file or directory");
                return starts;
            },
            [this](const QUrl &url) {
                m_opened << url;
                return true;
            },
            {m_applications});
    }

    QString m_applications;
    QList<QStringList> m_started;
    QList<QUrl> m_opened;
};

} // namespace

TEST(ExternalEditorExecTest, ExecLinesSplitAndTakeTheFile)
{
    using Args = std::optional<QStringList>;
    EXPECT_EQ(ExternalEditor::execArguments(QStringLiteral("gimp-2.10 %U"), path), Args({QStringLiteral("gimp-2.10"),
                                                                                        QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded)}));
    EXPECT_EQ(ExternalEditor::execArguments(QStringLiteral("krita %f"), path), Args({QStringLiteral("krita"), path}));
    // Quoted arguments keep their spaces and escaped characters; %i and the
    // like drop out; %% is a percent sign; no file field appends the file.
    EXPECT_EQ(ExternalEditor::execArguments(QStringLiteral(R"("/opt/My Editor/edit" --title "say \"hi\"" %i --zoom=50%% )"),
                                            path),
              Args({QStringLiteral("/opt/My Editor/edit"), QStringLiteral("--title"), QStringLiteral("say \"hi\""),
                    QStringLiteral("--zoom=50%"), path}));
    EXPECT_EQ(ExternalEditor::execArguments(QStringLiteral(R"(env "" x)"), path),
              Args({QStringLiteral("env"), QString(), QStringLiteral("x"), path}));
    EXPECT_FALSE(ExternalEditor::execArguments(QStringLiteral(R"(edit "unterminated)"), path));
    EXPECT_FALSE(ExternalEditor::execArguments(QStringLiteral("  %i "), path));

    EXPECT_EQ(ExternalEditor::commandArguments(QStringLiteral("gimp --no-splash"), path),
              Args({QStringLiteral("gimp"), QStringLiteral("--no-splash"), path}));
    EXPECT_EQ(ExternalEditor::commandArguments(QStringLiteral(R"("my editor" --file=%f --x)"), path),
              Args({QStringLiteral("my editor"), QStringLiteral("--file=") + path, QStringLiteral("--x")}));
    EXPECT_FALSE(ExternalEditor::commandArguments(QStringLiteral("   "), path));
}

TEST(ExternalEditorExecTest, DesktopEntriesReadTheirMainGroupOnly)
{
    const auto entry = ExternalEditor::parseDesktopEntry(
        QStringLiteral("# comment\n[Desktop Action Edit]\nExec=wrong\n[Desktop Entry]\nType=Application\n"
                       "Name=Image\\sEditor\nExec=edit \"a\\\\\\\\b\" %f\nMimeType=image/png;text/plain;\n"),
        QStringLiteral("edit.desktop"));
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->name, QStringLiteral("Image Editor"));
    EXPECT_EQ(entry->mimeTypes, (QStringList{QStringLiteral("image/png"), QStringLiteral("text/plain")}));
    // The value's \\\\ is \\ for the Exec quoting, which makes one backslash.
    EXPECT_EQ(ExternalEditor::execArguments(entry->exec, path),
              std::optional<QStringList>({QStringLiteral("edit"), QStringLiteral("a\\b"), path}));

    EXPECT_FALSE(ExternalEditor::parseDesktopEntry(QStringLiteral("[Desktop Entry]\nName=X\n"), QString()));
    EXPECT_FALSE(ExternalEditor::parseDesktopEntry(QStringLiteral("[Desktop Entry]\nName=X\nExec=x\nHidden=true\n"), QString()));
}

TEST_F(ExternalEditorTest, ChoiceDecidesHowTheFileIsOpened)
{
    writeEntry(QStringLiteral("notes.desktop"), "[Desktop Entry]\nName=Notes\nExec=notes %f\nMimeType=text/plain;\n");
    const QList<ExternalEditor::DesktopEntry> imageApplications = ExternalEditor::imageApplications({m_applications});
    ASSERT_EQ(imageApplications.size(), 1);
    EXPECT_EQ(imageApplications.first().id, QStringLiteral("org.example.Paint.desktop"));

    const QUrl file = QUrl::fromLocalFile(path);
    ExternalEditor fallback = editor(QString());
    EXPECT_EQ(fallback.kind(), ExternalEditor::Kind::defaultApplication);
    EXPECT_EQ(fallback.name(), QStringLiteral("Default Application"));
    EXPECT_TRUE(fallback.open(file));
    EXPECT_EQ(m_opened, QList<QUrl>{file});

    ExternalEditor paint = editor(QStringLiteral("org.example.Paint.desktop"));
    EXPECT_EQ(paint.kind(), ExternalEditor::Kind::desktopEntry);
    EXPECT_EQ(paint.name(), QStringLiteral("Paint"));
    LogCapture capture;
    EXPECT_TRUE(paint.open(file));
    EXPECT_EQ(m_started.value(0), (QStringList{QStringLiteral("paint"), QStringLiteral("--edit"), file.toString(QUrl::FullyEncoded)}));
    EXPECT_TRUE(capture.contains(QStringLiteral("Successfully opened ") + file.toString(QUrl::FullyEncoded) + QStringLiteral(" with Paint")));

    capture.clear();
    EXPECT_FALSE(editor(QStringLiteral("org.example.Gone.desktop")).open(file));
    EXPECT_TRUE(capture.contains(QStringLiteral("Unable to launch org.example.Gone (unable to find application URL)"), LogLevel::Error));

    capture.clear();
    ExternalEditor command = editor(QStringLiteral("/opt/bin/retouch --single"), false);
    EXPECT_EQ(command.kind(), ExternalEditor::Kind::command);
    EXPECT_EQ(command.name(), QStringLiteral("retouch"));
    EXPECT_FALSE(command.open(file));
    EXPECT_EQ(m_started.value(1), (QStringList{QStringLiteral("/opt/bin/retouch"), QStringLiteral("--single"), path}));
    EXPECT_TRUE(capture.contains(QStringLiteral("Unable to open retouch: No such file or directory"), LogLevel::Error));
}

TEST_F(ExternalEditorTest, ApplicationsForAFileAreThoseListingItsType)
{
    const QString guide = m_directory.filePath(QStringLiteral("User Guide.pdf"));
    // An image editor alone cannot show a PDF document.
    EXPECT_TRUE(ExternalEditor::applicationsFor(guide, {m_applications}).isEmpty());
    EXPECT_EQ(ExternalEditor::applicationsFor(path, {m_applications}).size(), 1);

    // A viewer is found under the type's name or one of its aliases.
    writeEntry(QStringLiteral("viewer.desktop"), "[Desktop Entry]\nName=Viewer\nExec=viewer %f\nMimeType=application/x-pdf;\n");
    const QList<ExternalEditor::DesktopEntry> viewers = ExternalEditor::applicationsFor(guide, {m_applications});
    ASSERT_EQ(viewers.size(), 1);
    EXPECT_EQ(viewers.first().id, QStringLiteral("viewer.desktop"));
}

TEST_F(ExternalEditorTest, EditingBacksUpFirstSoThatUndoBringsTheOldFileBack)
{
    Case *item = newCase(QStringLiteral("ABC1235"));
    Media *media = item->addMedia(encoded(quarteredImage(QSize(40, 30), Qt::white, Qt::red), "PNG"), QStringLiteral("a.png"));
    const QString file = media->filePath();
    forgetSetUpUndo();

    ASSERT_TRUE(editor(QStringLiteral("org.example.Paint.desktop")).editMedia(media));
    ASSERT_EQ(m_started.size(), 1);
    EXPECT_EQ(undoManager()->undoActionName(), MediaFileUndo::editImageActionName);
    // The editor saves its change in place.
    ASSERT_TRUE(quarteredImage(QSize(20, 10), Qt::green, Qt::green).save(file, "PNG"));

    undoManager()->undo();
    EXPECT_EQ(QImage(file).size(), QSize(40, 30));
    EXPECT_EQ(media->filePath(), file);
    undoManager()->redo();
    EXPECT_EQ(QImage(file).size(), QSize(20, 10));

    // Without a file name there is nothing to edit.
    Media *nameless = context()->insertNew<Media>();
    nameless->setItsCase(item);
    LogCapture capture;
    EXPECT_FALSE(editor(QString()).editMedia(nameless));
    EXPECT_TRUE(capture.contains(QStringLiteral("Unable to launch Default Application (unable to get media URL)"), LogLevel::Error));
    EXPECT_TRUE(m_opened.isEmpty());

    // A DICOM file is never handed to an editor that would write over it.
    Media *dicom = item->addMedia(test::DicomTestImage::ramp(4, 4, 0).bytes(), QStringLiteral("scan.dcm"));
    forgetSetUpUndo();
    EXPECT_FALSE(editor(QStringLiteral("org.example.Paint.desktop")).editMedia(dicom));
    EXPECT_EQ(m_started.size(), 1);
    EXPECT_FALSE(undoManager()->canUndo());

    // The file went missing: no backup, no undo step, no editor.
    ASSERT_TRUE(QFile::remove(file));
    capture.clear();
    undoManager()->removeAllActions();
    EXPECT_FALSE(editor(QString()).editMedia(media));
    EXPECT_TRUE(capture.containsPrefix(QStringLiteral("Unable to prepare image for editing at ") + file + QStringLiteral(": ")));
    EXPECT_FALSE(undoManager()->canUndo());
    EXPECT_TRUE(m_opened.isEmpty());
}

TEST_F(ExternalEditorTest, WatcherReportsChangesIncludingFilesReplacedByRename)
{
    Case *item = newCase(QStringLiteral("ABC1235"));
    Media *media = item->addMedia(encoded(quarteredImage(QSize(40, 30), Qt::white, Qt::red), "PNG"), QStringLiteral("a.png"));
    const QString file = media->filePath();

    MediaFileWatcher watcher;
    watcher.setSettleMilliseconds(20);
    watcher.watch(file);
    EXPECT_EQ(watcher.watchedFiles(), QStringList{file});
    QSignalSpy spy(&watcher, &MediaFileWatcher::fileChanged);

    {
        QFile out(file);
        ASSERT_TRUE(out.open(QIODevice::Append));
        out.write("more");
    }
    ASSERT_TRUE(spy.wait(5000));
    EXPECT_EQ(spy.takeFirst().value(0).toString(), file);

    // Saved as a new file renamed over the old one, twice: each is reported.
    for (int round = 0; round < 2; ++round) {
        const QString temporary = file + QStringLiteral(".part");
        ASSERT_TRUE(quarteredImage(QSize(10 + round, 10), Qt::blue, Qt::blue).save(temporary, "PNG"));
        ASSERT_TRUE(QFile::remove(file));
        ASSERT_TRUE(QFile::rename(temporary, file));
        ASSERT_TRUE(spy.wait(5000)) << round;
        EXPECT_EQ(spy.takeFirst().value(0).toString(), file);
        spy.clear();
    }

    watcher.unwatch(file);
    EXPECT_TRUE(watcher.watchedFiles().isEmpty());
    {
        QFile out(file);
        ASSERT_TRUE(out.open(QIODevice::Append));
        out.write("ignored");
    }
    EXPECT_FALSE(spy.wait(300));
}
