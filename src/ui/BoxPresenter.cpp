#include "ui/BoxPresenter.h"

#include <QFileDialog>
#include <QLocale>
#include <QPushButton>

QMessageBox::StandardButton DialogBoxPresenter::ShowMessage(const MessageBoxRequest& request)
{
    QMessageBox box(request.icon, request.caption, request.text, request.buttons);
    box.setTextFormat(Qt::PlainText);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
    if (QAbstractButton* clicked = box.clickedButton()) return box.standardButton(clicked);
    // The box's loop ended without a click (the program is ending): the answer
    // is the one Esc would have given, Cancel when there is one.
    if (QAbstractButton* escape = box.escapeButton()) return box.standardButton(escape);
    return (request.buttons & QMessageBox::Cancel) ? QMessageBox::Cancel : QMessageBox::NoButton;
}

bool DialogBoxPresenter::ShowFileDialog(const FileDialogRequest& request, QString* chosen)
{
    QFileDialog dialog;
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(request.save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
    // A desktop's own dialog speaks the desktop's language; where the window
    // speaks another, Qt's dialog keeps to the window's.
    if (QLocale().language() != QLocale::system().language()) dialog.setOption(QFileDialog::DontUseNativeDialog);
    QString suffix = request.defaultExtension;
    if (suffix.startsWith(QLatin1Char('.'))) suffix.remove(0, 1);
    dialog.setDefaultSuffix(suffix);
    if (!request.nameFilter.isEmpty()) dialog.setNameFilter(request.nameFilter);
    if (!request.initialName.isEmpty()) dialog.selectFile(request.initialName);
    if (dialog.exec() != QDialog::Accepted) return false;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty()) return false;
    *chosen = files.first();
    return true;
}
