// VornlogRun: a French window that runs the decoder vornlog on a capture
// and writes a sorted copy of its report.
#include <QApplication>

#include "qt_desktop.h"
#include "settings.h"
#include "window.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(vornlog::settings::applicationTitle);
    QApplication::setApplicationVersion(vornlog::settings::versionText());

    vornlog::QtDesktop desktop;
    vornlog::VornlogRun window(desktop);
    window.show();
    return app.exec();
}
