#include "MorvexAppDelegate.h"

#include "MorvexController.h"

#include <QApplication>
#include <QMainWindow>
#include <QTimer>

int RunMorvexApplication(QApplication& application, morvex::ToolkitServices& services,
                         const QStringList& fileNames) {
    MorvexAppDelegate delegate;
    // On the heap: the controller holds the engine's task table by value, a few hundred KiB.
    auto controller = std::make_unique<MorvexController>(services);
    delegate.setWindow(controller->mainWindow());
    QApplication::setQuitOnLastWindowClosed(
        delegate.applicationShouldTerminateAfterLastWindowClosed());
    controller->mainWindow()->show();
    delegate.applicationDidFinishLaunching();
    // Inside the loop, so that a refusal's alert opens over the window shown.
    if (!fileNames.isEmpty())
        QTimer::singleShot(0, controller.get(),
                           [&controller, fileNames] { controller->openFiles(fileNames); });
    return application.exec();
}
