#pragma once

#include <QString>
#include <QStringList>

class QWidget;

// The modal services of the window toolkit that the controller uses: the open panel, the save
// panel and alerts. Going through this interface lets the tests answer them in advance instead
// of blocking on a real dialog.
namespace morvex {

// Answers of a panel.
inline constexpr int kPanelCancelled = 0;
inline constexpr int kPanelChosen = 1;

// Answers of an alert: the first button added answers 1000, the second 1001, and so on.
inline constexpr int kAlertFirstButton = 1000;
inline constexpr int kAlertSecondButton = 1001;

struct OpenPanelOptions {
    QString title;
    QString prompt;        // the title of the accept button
    QString directory;     // initial folder; empty for the toolkit's default
    QStringList fileTypes; // extensions offered first, without the dot, any letter case; any
                           // file can be chosen too
    bool canChooseDirectories = false;
    bool canChooseFiles = true;
    bool allowsMultipleSelection = false;
};

struct SavePanelOptions {
    QString title;
    QString prompt;
    QString directory;
    QString fileName; // the name proposed
};

struct PanelAnswer {
    int result = kPanelCancelled;
    QString directory;     // the folder the panel showed when it closed
    QStringList filenames; // full paths of the chosen files
};

struct AlertOptions {
    QString messageText;
    QString informativeText;
    QStringList buttons;   // in order; empty gives the toolkit's single default button
    int defaultButton = 0; // the index of the button that Return presses
};

class ToolkitServices {
public:
    virtual ~ToolkitServices() = default;

    virtual PanelAnswer runOpenPanel(QWidget* parent, const OpenPanelOptions& options) = 0;
    virtual PanelAnswer runSavePanel(QWidget* parent, const SavePanelOptions& options) = 0;
    // Warning style, modal. Answers kAlertFirstButton + the index of the button chosen.
    virtual int runAlert(QWidget* parent, const AlertOptions& options) = 0;
};

} // namespace morvex
