#pragma once

#include <QObject>
#include <QStringList>

class QApplication;
class QMainWindow;

namespace morvex {
class ToolkitServices;
}

// The application delegate: knows the main window and has the application end with it.
class MorvexAppDelegate final : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    QMainWindow* window() const { return m_Window; }
    // Not owned: the controller owns the main window.
    void setWindow(QMainWindow* window) { m_Window = window; }

    void applicationDidFinishLaunching() {}
    bool applicationShouldTerminateAfterLastWindowClosed() const { return true; }

private:
    QMainWindow* m_Window = nullptr;
};

// Builds the main window with its controller and delegate, adds `fileNames` as tasks once the
// loop runs, and runs the main loop until the window has closed; answers the loop's exit status.
int RunMorvexApplication(QApplication& application, morvex::ToolkitServices& services,
                         const QStringList& fileNames = {});
