#include "MorvexAppDelegate.h"
#include "QtToolkitServices.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Morvex"));
    QApplication::setDesktopFileName(QStringLiteral("morvex"));
    morvex::QtToolkitServices services;
    return RunMorvexApplication(application, services);
}
