#pragma once
// A BoxPresenter that shows nothing: it records every request and answers
// from a script, so tests of the services never block on a dialog.

#include <deque>

#include "ui/BoxPresenter.h"

class ScriptedPresenter : public DialogBoxPresenter {
public:
    bool showsBoxes = false;  // the real boxes show and answer, recorded all the same
    QList<MessageBoxRequest> boxes;
    std::deque<QMessageBox::StandardButton> answers;  // OK when empty
    QList<FileDialogRequest> dialogs;
    std::deque<QString> choices;  // empty string = cancel

    QMessageBox::StandardButton ShowMessage(const MessageBoxRequest& request) override
    {
        boxes << request;
        if (showsBoxes) return DialogBoxPresenter::ShowMessage(request);
        if (answers.empty()) return QMessageBox::Ok;
        const auto answer = answers.front();
        answers.pop_front();
        return answer;
    }
    bool ShowFileDialog(const FileDialogRequest& request, QString* chosen) override
    {
        dialogs << request;
        if (choices.empty()) return false;
        const QString choice = choices.front();
        choices.pop_front();
        if (choice.isEmpty()) return false;
        *chosen = choice;
        return true;
    }
};
