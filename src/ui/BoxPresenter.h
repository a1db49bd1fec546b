#pragma once
// The one place where message boxes and file dialogs actually show. The
// interface services decide what to show and what the answer means; a
// presenter only shows and waits, so tests can answer in its place.

#include <QMessageBox>
#include <QString>
#include <memory>

class QFileDialog;

struct MessageBoxRequest {
    QString text;     // line breaks as "\n"
    QString caption;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
};

struct FileDialogRequest {
    bool save = false;          // save dialog (asks before overwriting) or open dialog
    QString defaultExtension;   // as the program passes it, ".dat"
    QString initialName;        // the file name last confirmed, or empty
    QString nameFilter;         // "文本文件 (*.txt);;…", empty: every file listed
};

class BoxPresenter {
public:
    virtual ~BoxPresenter() = default;
    // Shows the box application-modal and returns the button that closed it;
    // the box's escape button when it was closed any other way.
    virtual QMessageBox::StandardButton ShowMessage(const MessageBoxRequest& request) = 0;
    // Shows the dialog modal; true with the chosen full path, false when cancelled.
    virtual bool ShowFileDialog(const FileDialogRequest& request, QString* chosen) = 0;
};

// The file dialog a request asks for, set up but not shown.
std::unique_ptr<QFileDialog> MakeFileDialog(const FileDialogRequest& request);

// Shows the real Qt widgets.
class DialogBoxPresenter : public BoxPresenter {
public:
    QMessageBox::StandardButton ShowMessage(const MessageBoxRequest& request) override;
    bool ShowFileDialog(const FileDialogRequest& request, QString* chosen) override;
};
