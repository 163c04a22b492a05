#pragma once
// What the request rules need from the data module that owns them: its tables, settings, operator and clock, the
// record helpers and the flags derived from the settings. The data module implements it; the rules never see more.
#include "util/AppDir.h"

#include <QString>

namespace qev {

class Clock;
class Dataset;
class Prompter;
class Settings;

class RequestHost {
public:
    virtual ~RequestHost() = default;

    virtual Dataset* table(const QString& component) const = 0;
    virtual Settings& settings() = 0;
    virtual Prompter& prompter() = 0;
    virtual const Clock& clock() const = 0;
    virtual const AppDir& appDir() const = 0;

    // The one-shot permission a window grants just before it saves; false (with the message) otherwise.
    virtual bool checkSavePermission() = 0;
    virtual void setSavePermission(bool allowed) = 0;
    // The next number of a sequence ("ped", "pedp", "org"); 0 when none could be given (the message is shown).
    virtual double nextNumber(const QString& objectName) = 0;
    // The file of the current row of "ped" or "pedp" for a kind ("h", "z", "d", "c"); empty without a number.
    virtual QString requestFile(const Dataset& ds, QChar kind) const = 0;
    virtual bool ValidarImagenHuella(const QString& file) = 0;
    virtual bool ValidarImagenDocumento(const QString& file) = 0;

    virtual const QString& versionText() const = 0;
    virtual QString loggedUser() const = 0;
    virtual bool liveScan() const = 0;
    virtual bool homeService() const = 0;
    virtual bool checkSlip() const = 0;
};

} // namespace qev
