#pragma once
// The one way logic reaches the operator. Windows use a message-box implementation; tests script the answers.

#include <QString>

namespace qev {

class Prompter {
public:
    virtual ~Prompter() = default;
    virtual void inform(const QString& text, const QString& caption = QString()) = 0;
    virtual void warn(const QString& text, const QString& caption = QString()) = 0;
    virtual void error(const QString& text, const QString& caption = QString()) = 0;
    // Yes/No question; true for Yes.
    virtual bool confirm(const QString& text, const QString& caption = QString()) = 0;
    // Asks for a text; false when the operator cancels.
    virtual bool input(const QString& text, const QString& caption, QString& value) = 0;
    virtual void setBusy(bool busy) = 0;
};

// Shows the busy cursor for the lifetime of the object, also when the scope is left early.
class BusyScope {
public:
    explicit BusyScope(Prompter& p) : m_p(p) { m_p.setBusy(true); }
    ~BusyScope() { m_p.setBusy(false); }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    Prompter& m_p;
};

// Converts the "\r" line breaks of the system's messages into newlines for display.
QString displayText(const QString& text);

} // namespace qev
