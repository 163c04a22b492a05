#pragma once
// `qevdb informe`: one report of a request of an office folder rendered to a PDF file, without a display.
#include <QStringList>
#include <QTextStream>

namespace qev::tools {

// `args` are the arguments after "informe". 0 done, 1 unknown request or report or nothing written, 2 wrong usage.
int informeCommand(const QStringList& args, QTextStream& out, QTextStream& err);

} // namespace qev::tools
