#include "ui/BoxPresenter.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QIdentityProxyModel>
#include <QLocale>
#include <QPushButton>

namespace {

// Qt's file dialog words two things apart from its catalogue: a folder's
// type (in a context the catalogue lacks) and the dates (in the system's
// locale, not the window's). Both follow the window's language here.
class FileDialogWords : public QIdentityProxyModel {
public:
    using QIdentityProxyModel::QIdentityProxyModel;
    QVariant data(const QModelIndex& index, int role) const override
    {
        const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
        if (role == Qt::DisplayRole && files) {
            const QModelIndex source = mapToSource(index);
            // The dialog's own context holds the word (no literal here, so the program's catalogue does not take it).
            static const char* const dialog = "QFileDialog";
            static const char* const folder = "Folder";
            if (index.column() == 2 && files->isDir(source)) return QCoreApplication::translate(dialog, folder);
            if (index.column() == 3) return QLocale().toString(files->lastModified(source), QLocale::ShortFormat);
        }
        return QIdentityProxyModel::data(index, role);
    }
};

}  // namespace

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

std::unique_ptr<QFileDialog> MakeFileDialog(const FileDialogRequest& request)
{
    auto dialog = std::make_unique<QFileDialog>();
    dialog->setWindowModality(Qt::ApplicationModal);
    dialog->setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog->setFileMode(request.save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog->setOption(QFileDialog::DontConfirmOverwrite, false);
    dialog->setProxyModel(new FileDialogWords(dialog.get()));
    // A desktop's own dialog speaks the desktop's language; where the window
    // speaks another, Qt's dialog keeps to the window's.
    if (QLocale().language() != QLocale::system().language()) dialog->setOption(QFileDialog::DontUseNativeDialog);
    QString suffix = request.defaultExtension;
    if (suffix.startsWith(QLatin1Char('.'))) suffix.remove(0, 1);
    dialog->setDefaultSuffix(suffix);
    if (!request.nameFilter.isEmpty()) dialog->setNameFilter(request.nameFilter);
    if (!request.initialName.isEmpty()) dialog->selectFile(request.initialName);
    return dialog;
}

bool DialogBoxPresenter::ShowFileDialog(const FileDialogRequest& request, QString* chosen)
{
    const std::unique_ptr<QFileDialog> dialog = MakeFileDialog(request);
    if (dialog->exec() != QDialog::Accepted) return false;
    const QStringList files = dialog->selectedFiles();
    if (files.isEmpty()) return false;
    *chosen = files.first();
    return true;
}
