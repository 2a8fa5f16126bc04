#include "tools/demo/DemoOptions.h"

int TDemoOptions::RequestedRaises() const
{
  if (RaiseDuringPrompt)
    return 2;
  if (RaiseTwice)
    return 2;
  return RaiseMessage ? 1 : 0;
}

TDemoOptions ParseDemoOptions(const QStringList& Arguments)
{
  TDemoOptions Options;
  for (int I = 1; I < Arguments.size(); ++I) {
    const QString& Argument = Arguments[I];
    if (Argument == QLatin1String("--raise")) {
      if (I + 1 >= Arguments.size()) {
        Options.Error = QStringLiteral("--raise needs a message");
        return Options;
      }
      Options.RaiseMessage = Arguments[++I];
    } else if (Argument == QLatin1String("--raise-twice")) {
      Options.RaiseTwice = true;
    } else if (Argument == QLatin1String("--raise-during-prompt")) {
      Options.RaiseDuringPrompt = true;
    } else if (Argument == QLatin1String("--inactive")) {
      Options.Inactive = true;
    } else if (Argument == QLatin1String("--unattended")) {
      Options.Unattended = true;
    } else if (Argument == QLatin1String("--mail-attach")) {
      Options.MailAttach = true;
    } else if (Argument == QLatin1String("--mail-to") || Argument == QLatin1String("--mail-subject") ||
               Argument == QLatin1String("--mail-message")) {
      if (I + 1 >= Arguments.size()) {
        Options.Error = QStringLiteral("%1 needs a text").arg(Argument);
        return Options;
      }
      const QString& Text = Arguments[++I];
      if (Argument == QLatin1String("--mail-to"))
        Options.MailTo = Text;
      else if (Argument == QLatin1String("--mail-subject"))
        Options.MailSubject = Text;
      else
        Options.MailMessage = Text;
    } else if (Argument == QLatin1String("--comment")) {
      if (I + 1 >= Arguments.size()) {
        Options.Error = QStringLiteral("--comment needs a text");
        return Options;
      }
      Options.Comment = Arguments[++I];
    } else {
      Options.Error = QStringLiteral("unknown argument: %1").arg(Argument);
      return Options;
    }
  }
  return Options;
}
