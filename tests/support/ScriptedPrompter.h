#pragma once
// A Prompter for tests: records every message and replays scripted answers to questions.

#include "util/Prompter.h"

#include <QStringList>

#include <deque>
#include <optional>

namespace qev::test {

class ScriptedPrompter final : public Prompter {
public:
    struct Message {
        QString kind; // "inform", "warn", "error", "confirm", "input"
        QString text;
        QString caption;
    };

    void inform(const QString& text, const QString& caption) override { record("inform", text, caption); }
    void warn(const QString& text, const QString& caption) override { record("warn", text, caption); }
    void error(const QString& text, const QString& caption) override { record("error", text, caption); }
    bool confirm(const QString& text, const QString& caption) override;
    bool input(const QString& text, const QString& caption, QString& value) override;
    void setBusy(bool busy) override { m_busyDepth += busy ? 1 : -1; }

    // Answers for the next confirm() calls, in order; unscripted questions answer No.
    void answerConfirm(bool yes) { m_confirms.push_back(yes); }
    // Answers for the next input() calls; an empty optional means Cancel.
    void answerInput(std::optional<QString> value) { m_inputs.push_back(std::move(value)); }

    const std::vector<Message>& messages() const { return m_messages; }
    QStringList texts() const;
    QString lastText() const { return m_messages.empty() ? QString() : m_messages.back().text; }
    void clear() { m_messages.clear(); }
    int busyDepth() const { return m_busyDepth; }

private:
    void record(const char* kind, const QString& text, const QString& caption) {
        m_messages.push_back({QString::fromLatin1(kind), text, caption});
    }
    std::vector<Message> m_messages;
    std::deque<bool> m_confirms;
    std::deque<std::optional<QString>> m_inputs;
    int m_busyDepth = 0;
};

} // namespace qev::test
