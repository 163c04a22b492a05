#include "ScriptedPrompter.h"

namespace qev::test {

bool ScriptedPrompter::confirm(const QString& text, const QString& caption) {
    record("confirm", text, caption);
    if (m_confirms.empty()) return false;
    const bool a = m_confirms.front();
    m_confirms.pop_front();
    return a;
}

bool ScriptedPrompter::input(const QString& text, const QString& caption, QString& value) {
    record("input", text, caption);
    if (m_inputs.empty()) return false;
    const std::optional<QString> answer = m_inputs.front();
    m_inputs.pop_front();
    if (!answer) return false;
    value = *answer;
    return true;
}

QStringList ScriptedPrompter::texts() const {
    QStringList out;
    for (const auto& m : m_messages)
        out << m.text;
    return out;
}

} // namespace qev::test
