#include <QDir>
#include <QFile>
#include <QPdfDocument>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace ovalis::test {
namespace {

QString run(const QString &program, const QStringList &arguments, int *exitCode)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    process.waitForFinished(120000);
    *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return QString::fromUtf8(process.readAll());
}

QString readText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

TEST(InstallTest, InstallsProgramsDesktopEntryIconMetadataAndGuide)
{
    QTemporaryDir stage;
    int exitCode = 0;
    const QString output = run(QStringLiteral("cmake"),
                               {QStringLiteral("--install"), QStringLiteral(OVALIS_BUILD_DIR), QStringLiteral("--prefix"), stage.path()}, &exitCode);
    ASSERT_EQ(exitCode, 0) << output.toStdString();
    const QDir root(stage.path());
    EXPECT_TRUE(QFileInfo(root.filePath(QStringLiteral("bin/ovalis"))).isExecutable());
    EXPECT_TRUE(QFileInfo(root.filePath(QStringLiteral("bin/ovalis-cli"))).isExecutable());

    // The desktop entry launches the installed program with the files offered
    // to it, under an icon that is installed, for file types that are declared.
    const QString desktopPath = root.filePath(QStringLiteral("share/applications/nz.org.vantor.ovalis.desktop"));
    QSettings entry(desktopPath, QSettings::IniFormat);
    entry.beginGroup(QStringLiteral("Desktop Entry"));
    EXPECT_EQ(entry.value(QStringLiteral("Name")).toString(), QStringLiteral("Ovalis"));
    EXPECT_EQ(entry.value(QStringLiteral("Exec")).toString(), QStringLiteral("ovalis %F"));
    const QString icon = entry.value(QStringLiteral("Icon")).toString();
    EXPECT_TRUE(QFile::exists(root.filePath(QStringLiteral("share/icons/hicolor/scalable/apps/%1.svg").arg(icon))));
    const QString desktopText = readText(desktopPath);
    for (const QString &category : {QStringLiteral("MedicalSoftware"), QStringLiteral("Education")})
        EXPECT_TRUE(desktopText.contains(category)) << category.toStdString();
    // Desktops refuse or misfile entries the validator rejects; it also warns
    // of an entry listed under more than one main category.
    const QString desktopValidator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    if (!desktopValidator.isEmpty()) {
        const QString report = run(desktopValidator, {desktopPath}, &exitCode);
        EXPECT_EQ(exitCode, 0) << report.toStdString();
        EXPECT_EQ(report.trimmed(), QString()) << report.toStdString();
    }
    EXPECT_TRUE(desktopText.contains(QStringLiteral("MimeType=application/json;application/x-ovalis-v1-document;application/dicom;")));
    const QString mime = readText(root.filePath(QStringLiteral("share/mime/packages/nz.org.vantor.ovalis.xml")));
    EXPECT_TRUE(mime.contains(QStringLiteral("type=\"application/x-ovalis-v1-document\"")));
    EXPECT_TRUE(mime.contains(QStringLiteral("<glob pattern=\"*.ovalis\"/>")));

    const QString metainfoPath = root.filePath(QStringLiteral("share/metainfo/nz.org.vantor.ovalis.metainfo.xml"));
    EXPECT_TRUE(readText(metainfoPath).contains(QStringLiteral("<launchable type=\"desktop-id\">nz.org.vantor.ovalis.desktop</launchable>")));
    const QString appstream = QStandardPaths::findExecutable(QStringLiteral("appstreamcli"));
    if (!appstream.isEmpty()) {
        const QString report = run(appstream, {QStringLiteral("validate"), QStringLiteral("--no-net"), metainfoPath}, &exitCode);
        EXPECT_EQ(exitCode, 0) << report.toStdString();
    }

    QPdfDocument guide;
    ASSERT_EQ(guide.load(root.filePath(QStringLiteral("share/ovalis/PDF/User Guide.pdf"))), QPdfDocument::Error::None);
    EXPECT_GT(guide.pageCount(), 3);
    EXPECT_TRUE(guide.getAllText(0).text().contains(QStringLiteral("Ovalis User Guide")));
}

} // namespace
} // namespace ovalis::test
