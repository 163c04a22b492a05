#pragma once
// qevdb: the office folder's table administration commands. Runs one command line and answers the exit status
// (0 done, 1 failed or problems found, 2 wrong usage or a table `check` cannot read).

#include <QStringList>
#include <QTextStream>

namespace qev::tools {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitUnreadable = 2;

// `args` are the arguments after the program name.
int runQevDb(const QStringList& args, QTextStream& out, QTextStream& err);

} // namespace qev::tools
