// Build step: turns docs/user-guide.md into "User Guide.pdf".
#include "util/UserGuideRenderer.h"

#include <QGuiApplication>
#include <cstdio>

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 3) {
        std::fprintf(stderr, "usage: ovalis-user-guide GUIDE.md OUTPUT.pdf\n");
        return 2;
    }
    QString error;
    if (!ovalis::UserGuideRenderer::render(arguments.at(1), arguments.at(2), &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    return 0;
}
