#include "tools/corvane-reg/RegCommand.h"

#include <QString>

#include <iostream>

#include <unistd.h>

int main(int argc, char* argv[])
{
  QStringList Arguments;
  for (int I = 1; I < argc; ++I)
    Arguments += QString::fromLocal8Bit(argv[I]);
  return CorvaneReg::Run(Arguments, std::cout, std::cerr, {::isatty(STDOUT_FILENO) == 1, ::isatty(STDERR_FILENO) == 1});
}
