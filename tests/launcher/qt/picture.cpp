// Draws the launcher's window as it opens into a PNG file, for the README:
//   QT_QPA_PLATFORM=offscreen launcher_picture docs/launcher.png
#include <QApplication>
#include <QPixmap>

#include <cstdio>

#include "qt_desktop.h"
#include "window.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fputs("usage: launcher_picture <file.png>\n", stderr);
        return 1;
    }
    vornlog::QtDesktop desktop;
    vornlog::VornlogRun window(desktop);
    window.show();
    QApplication::processEvents();
    return window.grab().save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
}
