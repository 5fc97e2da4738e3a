// VornlogRun: a French window that runs the decoder vornlog on a capture
// and writes a sorted copy of its report.
#include <QApplication>

#include "qt_desktop.h"
#include "settings.h"
#include "text.h"
#include "window.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(vornlog::qt(vornlog::settings::applicationTitle));
    QApplication::setApplicationVersion(vornlog::qt(vornlog::settings::versionText()));
    // Without them Qt's dialogs speak English in a French window; the
    // window works all the same.
    vornlog::loadFrenchTranslations();

    vornlog::QtDesktop desktop;
    vornlog::VornlogRun window(desktop);
    window.show();
    return app.exec();
}
