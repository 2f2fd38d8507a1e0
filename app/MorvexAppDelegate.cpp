#include "MorvexAppDelegate.h"

#include "MorvexController.h"

#include <QApplication>
#include <QMainWindow>

int RunMorvexApplication(QApplication& application, morvex::ToolkitServices& services) {
    MorvexAppDelegate delegate;
    // On the heap: the controller holds the engine's task table by value, a few hundred KiB.
    auto controller = std::make_unique<MorvexController>(services);
    delegate.setWindow(controller->mainWindow());
    QApplication::setQuitOnLastWindowClosed(
        delegate.applicationShouldTerminateAfterLastWindowClosed());
    controller->mainWindow()->show();
    delegate.applicationDidFinishLaunching();
    return application.exec();
}
