#pragma once
// The desktop mail program as an automation server: an application object
// found or created by its identifier, mail items made by CreateItem, each with
// recipients, subject, plain-text body and attachments, sent by Send.
//
// Mail goes out by SMTP through libcurl. The server is configured for the
// current user in the registry store, key
//   HKEY_CURRENT_USER\SOFTWARE\Corvane\Mail
// value "SmtpUrl" (smtp://host:port, or smtps://host:port for implicit TLS)
// and value "From" (the sender address). Without "SmtpUrl" the mail program
// counts as not installed: no application object can be created. Login
// credentials come from ~/.netrc, never from the registry store. A login
// only ever travels encrypted: with one, an smtp:// server must take
// STARTTLS or the mail fails before anything secret is sent; without one,
// STARTTLS is used where the server offers it.
//
// A send blocks its thread for at most the limits of TTransport: so long to
// connect (up to the server's greeting, TLS and login), so long for the whole
// mail, a server that dribbles its answers included.
//
// As automation calls do, every call answers with a status code; the text of
// the last failure of the calling thread is ErrorDescription().

#include "platform/ComStatus.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

namespace MailAutomation {

using ComStatus::E_FAIL;
using ComStatus::E_INVALIDARG;
using ComStatus::Failed;
using ComStatus::HRESULT;
using ComStatus::S_FALSE;
using ComStatus::S_OK;
inline constexpr HRESULT STG_E_FILENOTFOUND = static_cast<HRESULT>(0x80030002);
inline constexpr HRESULT MK_E_UNAVAILABLE = static_cast<HRESULT>(0x800401E3);
inline constexpr HRESULT CO_E_CLASSSTRING = static_cast<HRESULT>(0x800401F3);
inline constexpr HRESULT CO_E_APPNOTFOUND = static_cast<HRESULT>(0x800401F5);
// The server never answered: it cannot be reached, or gave no greeting.
inline constexpr HRESULT MAPI_E_NETWORK_ERROR = static_cast<HRESULT>(0x80040115);

// The identifier under which the mail program's application object is found.
inline constexpr QLatin1String MailApplicationProgId("Outlook.Application");
// CreateItem's item type for a mail.
inline constexpr int olMailItem = 0;

// Where the server settings live.
inline constexpr QLatin1String MailKey("\\SOFTWARE\\Corvane\\Mail");
inline constexpr QLatin1String SmtpUrlValue("SmtpUrl");
inline constexpr QLatin1String FromValue("From");

// Why the last failing call of this thread failed.
QString ErrorDescription();

// How mail travels. A test shortens the limits and trusts its own server's
// certificate; the product keeps the defaults.
struct TTransport {
  std::chrono::milliseconds ConnectLimit{15000};
  std::chrono::milliseconds MailLimit{60000};
  // A PEM file of the certificates trusted for TLS; empty: the system's.
  QString TrustedCertificates;
};
// Applies to the items created from now on.
void SetTransport(const TTransport& Transport);

class TRecipients {
public:
  // Name is one mail address; blanks around it are dropped. An address with
  // blanks, control characters or anything else that could leave the address
  // fields of the mail is refused.
  HRESULT Add(const QString& Name);
  const QStringList& Addresses() const { return FAddresses; }

private:
  QStringList FAddresses;
};

struct TAttachment {
  QString FileName;  // without folder
  QByteArray Data;
};

class TAttachments {
public:
  // Takes the file's bytes now, as they are when attached.
  HRESULT Add(const QString& Source);
  const std::vector<TAttachment>& Items() const { return FItems; }

private:
  std::vector<TAttachment> FItems;
};

struct TServerSettings {
  QString SmtpUrl;
  QString From;
};

class TMailItem {
public:
  explicit TMailItem(TServerSettings Settings);

  TRecipients& Recipients() { return FRecipients; }
  TAttachments& Attachments() { return FAttachments; }
  HRESULT SetSubject(const QString& Subject);
  HRESULT SetBody(const QString& Body);
  QString Subject() const { return FSubject; }
  QString Body() const { return FBody; }

  // Delivers the item to every recipient in one SMTP transaction; a
  // recipient the server refuses fails the whole item. An item is sent once.
  // Blocks the calling thread (any thread) within the transport's limits;
  // MAPI_E_NETWORK_ERROR when the server never answered.
  // The subject's line breaks and control characters turn into blanks, and
  // a subject beyond plain ASCII goes as RFC 2047 encoded words; the body is
  // UTF-8 plain text with CR LF line breaks, quoted-printable; attachments
  // go in base64 under their file names.
  HRESULT Send();

private:
  TServerSettings FSettings;
  TTransport FTransport;
  TRecipients FRecipients;
  TAttachments FAttachments;
  QString FSubject;
  QString FBody;
  bool FSent = false;
};

class TMailApplication {
public:
  explicit TMailApplication(TServerSettings Settings) : FSettings(std::move(Settings)) {}
  HRESULT CreateItem(int ItemType, std::shared_ptr<TMailItem>& Item);

private:
  TServerSettings FSettings;
};

// The running application object of that identifier; MK_E_UNAVAILABLE when
// none runs in this process.
HRESULT GetActiveObject(const QString& ProgId, std::shared_ptr<TMailApplication>& Object);
// Starts the mail program: reads the server settings and registers the new
// object as the running one for as long as someone holds it.
// CO_E_CLASSSTRING for an unknown identifier; CO_E_APPNOTFOUND when no
// server is configured, its URL is no smtp:// or smtps:// URL or carries a
// password, or "From" is no mail address.
HRESULT CreateObject(const QString& ProgId, std::shared_ptr<TMailApplication>& Object);

}  // namespace MailAutomation
