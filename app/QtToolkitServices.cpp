#include "QtToolkitServices.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

#include <algorithm>

namespace morvex {

namespace {

// Qt matches name filters case-sensitively on Linux; the recorder writes ".WAV", other tools
// ".wav", so each type is offered in the usual spellings. Any file can be chosen too: a take
// copied under another name is still a take.
QStringList NameFiltersFor(const QStringList& fileTypes) {
    QStringList patterns;
    for (const QString& type : fileTypes) {
        const QString lower = type.toLower();
        const QString upper = type.toUpper();
        QString capital = lower;
        if (!capital.isEmpty())
            capital[0] = capital[0].toUpper();
        for (const QString& spelling : {lower, upper, capital}) {
            const QString pattern = QStringLiteral("*.") + spelling;
            if (!patterns.contains(pattern))
                patterns << pattern;
        }
    }
    return {QObject::tr("WAV files (%1)").arg(patterns.join(QLatin1Char(' '))),
            QObject::tr("All files (*)")};
}

PanelAnswer AnswerOf(QFileDialog& dialog, bool chosen) {
    PanelAnswer answer;
    answer.result = chosen ? kPanelChosen : kPanelCancelled;
    answer.directory = dialog.directory().absolutePath();
    if (chosen)
        answer.filenames = dialog.selectedFiles();
    return answer;
}

} // namespace

PanelAnswer QtToolkitServices::runOpenPanel(QWidget* parent, const OpenPanelOptions& options) {
    QFileDialog dialog(parent, options.title);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (options.canChooseDirectories && !options.canChooseFiles)
        dialog.setFileMode(QFileDialog::Directory);
    else
        dialog.setFileMode(options.allowsMultipleSelection ? QFileDialog::ExistingFiles
                                                           : QFileDialog::ExistingFile);
    if (!options.prompt.isEmpty())
        dialog.setLabelText(QFileDialog::Accept, options.prompt);
    if (!options.directory.isEmpty())
        dialog.setDirectory(options.directory);
    if (!options.fileTypes.isEmpty())
        dialog.setNameFilters(NameFiltersFor(options.fileTypes));
    const bool chosen = dialog.exec() == QDialog::Accepted;
    return AnswerOf(dialog, chosen);
}

PanelAnswer QtToolkitServices::runSavePanel(QWidget* parent, const SavePanelOptions& options) {
    QFileDialog dialog(parent, options.title);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // The name chosen is a base for the outputs, never a file that would be replaced.
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    if (!options.prompt.isEmpty())
        dialog.setLabelText(QFileDialog::Accept, options.prompt);
    if (!options.directory.isEmpty())
        dialog.setDirectory(options.directory);
    if (!options.fileName.isEmpty())
        dialog.selectFile(options.fileName);
    const bool chosen = dialog.exec() == QDialog::Accepted;
    return AnswerOf(dialog, chosen);
}

int QtToolkitServices::runAlert(QWidget* parent, const AlertOptions& options) {
    QMessageBox box(parent);
    box.setIcon(QMessageBox::Warning);
    box.setWindowTitle(parent ? parent->windowTitle() : QString());
    box.setText(options.messageText);
    box.setInformativeText(options.informativeText);

    QList<QAbstractButton*> buttons;
    if (options.buttons.isEmpty()) {
        buttons << box.addButton(QMessageBox::Ok);
    } else {
        for (const QString& title : options.buttons) {
            const auto role = buttons.isEmpty() ? QMessageBox::AcceptRole : QMessageBox::RejectRole;
            buttons << box.addButton(title, role);
        }
    }
    const qsizetype defaultButton =
        std::clamp<qsizetype>(options.defaultButton, 0, buttons.size() - 1);
    box.setDefaultButton(qobject_cast<QPushButton*>(buttons.at(defaultButton)));
    // Escape and the window's close box give the last button ("Cancel" in every question), so
    // that dismissing a question never stops a run or quits with unfinished work.
    box.setEscapeButton(buttons.last());
    box.exec();

    const qsizetype chosen = buttons.indexOf(box.clickedButton());
    return kAlertFirstButton + static_cast<int>(chosen < 0 ? buttons.size() - 1 : chosen);
}

} // namespace morvex
