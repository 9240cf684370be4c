#pragma once
// A RunUi that records what the core shows and answers questions from a script.
#include "engine/RunUi.h"

#include <QStringList>
#include <deque>

namespace salvo::test {

class RecordingUi : public RunUi {
public:
    struct Message {
        QString text;
        MessageIcon icon;
    };
    std::vector<Message> messages;
    QStringList questions;
    std::deque<bool> answers; // Yes when empty
    QString status[6];

    void showMessage(const QString &text, MessageIcon icon) override { messages.push_back({text, icon}); }
    bool askYesNo(const QString &text) override
    {
        questions << text;
        if (answers.empty())
            return true;
        const bool a = answers.front();
        answers.pop_front();
        return a;
    }
    void setStatus(int panel, const QString &text) override
    {
        if (panel >= 1 && panel <= 5)
            status[panel] = text;
    }
};

} // namespace salvo::test
