#pragma once
// A real SMTP server on a free loopback port for the lifetime of the object
// (tests/support/smtp_server.py), what it received read back by Python's
// email parser, and the current user's mail settings pointed at it.

#include "platform/MailAutomation.h"
#include "platform/Registry.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace TestSupport {

// The server is Debian's python3-aiosmtpd, which only Debian's own
// interpreter has, whatever else "python3" finds first.
inline const QString SystemPython = QStringLiteral("/usr/bin/python3");
inline const QString SmtpServerScript = QStringLiteral(CORVANE_SOURCE_DIR "/tests/support/smtp_server.py");
// What the server shows with --tls: self-signed, for 127.0.0.1.
inline const QString SmtpServerCertificate = QStringLiteral(CORVANE_SOURCE_DIR "/tests/support/smtp_server_cert.pem");

class TSmtpServer {
public:
  // Options as smtp_server.py takes them: "--refuse", address; "--auth",
  // "login:password"; "--any-login"; "--tls"; "--greet-after", seconds; ...
  explicit TSmtpServer(const QString& Folder, const QStringList& Options = {}) : FFolder(Folder)
  {
    QDir().mkpath(Folder);
    FProcess.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    FProcess.start(SystemPython, QStringList{SmtpServerScript, QStringLiteral("serve"), Folder} + Options);
    while (FProcess.waitForReadyRead(30000) || FProcess.canReadLine()) {
      if (!FProcess.canReadLine())
        continue;
      const QByteArray Line = FProcess.readLine().trimmed();
      if (Line.startsWith("port ")) {
        FPort = Line.mid(5).toInt();
        break;
      }
    }
  }
  ~TSmtpServer()
  {
    FProcess.closeWriteChannel();
    if (!FProcess.waitForFinished(10000)) {
      FProcess.kill();
      FProcess.waitForFinished();
    }
  }
  TSmtpServer(const TSmtpServer&) = delete;
  TSmtpServer& operator=(const TSmtpServer&) = delete;

  int Port() const { return FPort; }
  QString Url() const { return QStringLiteral("smtp://127.0.0.1:%1").arg(FPort); }

  // Every message received so far, oldest first: envelope ("mail_from",
  // "rcpt_tos", "login") and what the parser makes of it ("subject", "to",
  // "body", "attachments" with base64 "data", "header_names", "defects", ...).
  QJsonArray Messages() const
  {
    QProcess Dump;
    Dump.start(SystemPython, {SmtpServerScript, QStringLiteral("dump"), FFolder});
    Dump.waitForFinished(60000);
    const QJsonDocument Document = QJsonDocument::fromJson(Dump.readAllStandardOutput());
    EXPECT_TRUE(Document.isArray()) << Dump.readAllStandardError().toStdString();
    return Document.array();
  }

  // The mechanism of every AUTH command received so far.
  QStringList AuthAttempts() const
  {
    QFile Log(FFolder + QStringLiteral("/auth.log"));
    if (!Log.open(QIODevice::ReadOnly))
      return {};
    return QString::fromUtf8(Log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  }

  // Forgets what was received so far.
  void Clear() const
  {
    QDir Folder(FFolder);
    for (const QString& Name : Folder.entryList(QDir::Files))
      Folder.remove(Name);
  }

private:
  QString FFolder;
  QProcess FProcess;
  int FPort = 0;
};

// A loopback port where nothing listens (just given up by a listener).
inline int ClosedPort()
{
  const int Socket = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in Address{};
  Address.sin_family = AF_INET;
  Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t Size = sizeof Address;
  const bool Bound = ::bind(Socket, reinterpret_cast<sockaddr*>(&Address), Size) == 0 &&
                     ::getsockname(Socket, reinterpret_cast<sockaddr*>(&Address), &Size) == 0;
  ::close(Socket);
  EXPECT_TRUE(Bound);
  return ntohs(Address.sin_port);
}

// Writes the current user's mail settings; an empty text removes the value.
inline void SetMailSettings(const QString& SmtpUrl, const QString& From = QString())
{
  Registry::TRegistry Reg;
  Reg.SetRootKey(Registry::HKEY_CURRENT_USER);
  ASSERT_TRUE(Reg.OpenKey(MailAutomation::MailKey, true)) << Reg.LastError().toStdString();
  const std::pair<QLatin1String, QString> Values[] = {{MailAutomation::SmtpUrlValue, SmtpUrl},
                                                       {MailAutomation::FromValue, From}};
  for (const auto& [Name, Value] : Values) {
    if (Value.isEmpty())
      Reg.DeleteValue(Name);
    else
      Reg.WriteString(Name, Value);
  }
}

}  // namespace TestSupport
