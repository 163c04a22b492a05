#pragma once
// What the reception, the reply handlers and the central-state services need from the data module that owns them
// and from the windows that show their results. The data module implements the host; the program's windows (or,
// in the admin command, the office folder's log files) implement the views and the printer.
#include "util/AppDir.h"

#include <QString>

namespace qev {

class Clock;
class Dataset;
class Prompter;
class Settings;

class ReplyHost {
public:
    virtual ~ReplyHost() = default;
    virtual Dataset* table(const QString& component) const = 0;
    virtual Settings& settings() = 0;
    virtual Prompter& prompter() = 0;
    virtual const Clock& clock() const = 0;
    virtual const AppDir& appDir() const = 0;
    // The one-shot permission the record rules ask for before a handler's post.
    virtual void setSavePermission(bool allowed) = 0;
};

// Where the reception's results are shown: the activity window ("logp.txt"), the state window ("EstCent.log")
// and the main window's status bar.
class ReceptionViews {
public:
    virtual ~ReceptionViews() = default;
    virtual void activityLine(const QString& line) = 0;
    virtual void showActivity() = 0;
    virtual void clearStates() = 0;
    virtual void stateLine(const QString& line) = 0;
    virtual void showStates() = 0;
    // The state window's own status line.
    virtual void stateStatus(const QString& text) = 0;
    // The main window's status bar.
    virtual void status(const QString& text) = 0;
};

// The automatic printing of what an answer brings: the answer image and the personal answer letter of the current
// personal request. False with the reason when nothing could be printed.
class AnswerPrinter {
public:
    virtual ~AnswerPrinter() = default;
    virtual bool printImage(const QString& file, QString& error) = 0;
    virtual bool printPersonalAnswer(QString& error) = 0;
};

} // namespace qev
