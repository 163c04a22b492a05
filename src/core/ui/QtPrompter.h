#pragma once
// The Prompter of the running program: modal message boxes in Spanish and the hourglass cursor.
#include "util/Prompter.h"
#include <QPointer>
#include <QWidget>

namespace qev {

class QtPrompter final : public Prompter {
public:
    explicit QtPrompter(QWidget* parent = nullptr) : m_parent(parent) {}
    void setParent(QWidget* parent) { m_parent = parent; }
    void inform(const QString& text, const QString& caption) override;
    void warn(const QString& text, const QString& caption) override;
    void error(const QString& text, const QString& caption) override;
    bool confirm(const QString& text, const QString& caption) override;
    bool input(const QString& text, const QString& caption, QString& value) override;
    void setBusy(bool busy) override;

private:
    QPointer<QWidget> m_parent;
};

} // namespace qev
