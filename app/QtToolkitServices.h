#pragma once

#include "ToolkitServices.h"

namespace morvex {

// The services on real Qt dialogs (QFileDialog, QMessageBox).
class QtToolkitServices final : public ToolkitServices {
public:
    PanelAnswer runOpenPanel(QWidget* parent, const OpenPanelOptions& options) override;
    PanelAnswer runSavePanel(QWidget* parent, const SavePanelOptions& options) override;
    int runAlert(QWidget* parent, const AlertOptions& options) override;
};

} // namespace morvex
