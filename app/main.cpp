#include "MorvexAppDelegate.h"
#include "QtToolkitServices.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Morvex"));
    QApplication::setDesktopFileName(QStringLiteral("morvex"));
    morvex::QtToolkitServices services;
    // Files given to the program (by a file manager's "Open with", for one) become tasks.
    return RunMorvexApplication(application, services, QApplication::arguments().mid(1));
}
