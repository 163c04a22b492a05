#pragma once
// `qevdb enviar`: sends one request of an office folder to the central office through the data module, as the
// request window's button does, answering the operator's questions from the command line.
#include <QStringList>
#include <QTextStream>

namespace qev::tools {

int sendCommand(const QStringList& args, QTextStream& out, QTextStream& err);
// `qevdb recibir`: one POP3 reception of an office folder's replies through the data module.
int receiveCommand(const QStringList& args, QTextStream& out, QTextStream& err);

} // namespace qev::tools
