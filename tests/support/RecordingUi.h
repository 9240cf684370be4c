#pragma once
// A RunUi that records what the core shows and answers questions from a script.
#include "engine/RunUi.h"

#include <QStringList>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

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
    std::function<void()> whileAsked; // runs while a Yes/No question waits
    QString status[6];
    // Password questions ("archive" or "archive (retry)") and the answers
    // given in turn (nothing: skip; skip when none are left).
    QStringList passwordQuestions;
    std::deque<std::optional<QString>> passwords;
    // How far the run said it had come, in order.
    std::vector<RunProgress> progressSeen;

    void showMessage(const QString &text, MessageIcon icon) override { messages.push_back({text, icon}); }
    bool askYesNo(const QString &text) override
    {
        questions << text;
        if (whileAsked)
            whileAsked();
        if (answers.empty())
            return true;
        const bool a = answers.front();
        answers.pop_front();
        return a;
    }
    bool askPassword(const QString &archive, bool retry, QString *password) override
    {
        passwordQuestions << archive + (retry ? " (retry)" : "");
        if (passwords.empty())
            return false;
        const std::optional<QString> answer = passwords.front();
        passwords.pop_front();
        if (answer)
            *password = *answer;
        return answer.has_value();
    }
    void runProgress(const RunProgress &progress) override { progressSeen.push_back(progress); }
    void setStatus(int panel, const QString &text) override
    {
        if (panel >= 1 && panel <= 5)
            status[panel] = text;
    }
};

} // namespace salvo::test
