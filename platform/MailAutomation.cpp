#include "platform/MailAutomation.h"

#include "platform/Netrc.h"
#include "platform/Registry.h"
#include "platform/ReplaceableSource.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QSysInfo>
#include <QUrl>
#include <QUuid>

#include <curl/curl.h>
#include <pwd.h>
#include <unistd.h>

namespace MailAutomation {

namespace {

thread_local QString LastError;

ReplaceableSource::TReplaceableSource<TTransport> CurrentTransport;

HRESULT Fail(HRESULT Code, const QString& Description)
{
  LastError = Description;
  return Code;
}

// Characters that end an address inside a header or an SMTP command, or
// that would make it a group, a display name or a route.
bool IsAddressCharacter(QChar C)
{
  if (C.unicode() <= 32 || C.unicode() >= 127)
    return false;
  return !QStringLiteral("<>()[],;:\\\"").contains(C);
}

// One plain address (local part, "@", domain), nothing else; "" when Text
// is none.
QString PlainAddress(const QString& Text)
{
  const QString Address = Text.trimmed();
  const qsizetype At = Address.indexOf(QLatin1Char('@'));
  if (At <= 0 || At != Address.lastIndexOf(QLatin1Char('@')) || At == Address.size() - 1)
    return QString();
  for (const QChar C : Address)
    if (!IsAddressCharacter(C))
      return QString();
  return Address;
}

bool IsLineBreakOrControl(QChar C)
{
  return C.category() == QChar::Other_Control || C.category() == QChar::Separator_Line ||
         C.category() == QChar::Separator_Paragraph;
}

// Line breaks (CR LF counting as one) and other control characters become
// blanks: nothing a caller passes may start a new header line.
QString FlattenHeaderText(const QString& Text)
{
  QString Flat;
  Flat.reserve(Text.size());
  for (qsizetype I = 0; I < Text.size(); ++I) {
    const QChar C = Text[I];
    if (C == QLatin1Char('\r') && I + 1 < Text.size() && Text[I + 1] == QLatin1Char('\n'))
      continue;
    Flat += IsLineBreakOrControl(C) ? QChar(QLatin1Char(' ')) : C;
  }
  return Flat;
}

// RFC 2047 "B" encoded words, a multi-byte character never split between
// two of them, one per line joined by folding whitespace (which readers drop
// between encoded words). FirstLineTaken is what precedes the first word on
// its line ("Subject: "): no line gets longer than 78 characters.
QByteArray EncodedWords(const QString& Text, qsizetype FirstLineTaken)
{
  constexpr qsizetype MaxLine = 78;
  constexpr qsizetype WordFrame = 12;  // "=?UTF-8?B?" and "?="
  const QByteArray Utf8 = Text.toUtf8();
  QByteArray Result;
  qsizetype Start = 0;
  qsizetype Taken = FirstLineTaken;
  while (Start < Utf8.size()) {
    // Whole groups of three bytes: four base64 characters each.
    const qsizetype MaxBytes = std::max<qsizetype>((MaxLine - Taken - WordFrame) / 4 * 3, 3);
    Taken = 1;  // the blank that starts each continuation line
    qsizetype End = std::min(Start + MaxBytes, Utf8.size());
    while (End < Utf8.size() && End > Start + 1 && (static_cast<unsigned char>(Utf8[End]) & 0xC0) == 0x80)
      --End;
    if (!Result.isEmpty())
      Result += "\r\n ";
    Result += "=?UTF-8?B?" + Utf8.mid(Start, End - Start).toBase64() + "?=";
    Start = End;
  }
  return Result;
}

// A plain-text body in canonical form: every line break CR LF.
QByteArray CanonicalText(const QString& Text)
{
  QString Lines = Text;
  Lines.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  Lines.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  Lines.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
  return Lines.toUtf8();
}

// Without a configured sender, the user's login at this host.
QString DefaultSender()
{
  QString User;
  if (const passwd* Entry = ::getpwuid(::getuid()))
    User = QString::fromLocal8Bit(Entry->pw_name);
  const QString Sender = PlainAddress(User + QLatin1Char('@') + QSysInfo::machineHostName());
  return Sender.isEmpty() ? QStringLiteral("corvane@localhost") : Sender;
}

// The server's URL without anything secret, for error texts.
QString ServerName(const QString& SmtpUrl)
{
  return QUrl(SmtpUrl).adjusted(QUrl::RemoveUserInfo | QUrl::RemovePath | QUrl::RemoveQuery).toString();
}

void InitializeCurlOnce()
{
  static std::once_flag Once;
  std::call_once(Once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct TCurlDeleter {
  void operator()(CURL* Curl) const { curl_easy_cleanup(Curl); }
  void operator()(curl_mime* Mime) const { curl_mime_free(Mime); }
  void operator()(curl_slist* List) const { curl_slist_free_all(List); }
};
using TCurlHandle = std::unique_ptr<CURL, TCurlDeleter>;
using TMimeHandle = std::unique_ptr<curl_mime, TCurlDeleter>;
using TListHandle = std::unique_ptr<curl_slist, TCurlDeleter>;

// Appends to a list that may still be empty; false when out of memory.
bool Append(TListHandle& List, const QByteArray& Line)
{
  curl_slist* Grown = curl_slist_append(List.get(), Line.constData());
  if (!Grown)
    return false;
  (void)List.release();
  List.reset(Grown);
  return true;
}

// A subject as it goes into the header: line breaks and other control
// characters become blanks; a text that is not plain printable ASCII, or that
// a reader would trim or take for encoded words, goes as encoded words.
QByteArray EncodeSubject(const QString& Subject)
{
  const QString Flat = FlattenHeaderText(Subject);
  constexpr qsizetype MaxPlainLength = 78 - 9;  // "Subject: " and the text on one line
  bool Plain = Flat.size() <= MaxPlainLength && !Flat.contains(QLatin1String("=?")) &&
               !Flat.startsWith(QLatin1Char(' ')) && !Flat.endsWith(QLatin1Char(' '));
  for (const QChar C : Flat)
    Plain = Plain && C.unicode() >= 32 && C.unicode() < 127;
  return Plain ? Flat.toLatin1() : EncodedWords(Flat, 9);
}

struct TDeadline {
  std::chrono::steady_clock::time_point When;
  static int Passed(void* Self, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
  {
    return std::chrono::steady_clock::now() >= static_cast<const TDeadline*>(Self)->When ? 1 : 0;
  }
};

std::weak_ptr<TMailApplication>& RunningApplication()
{
  static std::weak_ptr<TMailApplication> Running;
  return Running;
}

}  // namespace

QString ErrorDescription() { return LastError; }

void SetTransport(const TTransport& Transport)
{
  CurrentTransport.Set(Transport);
}

HRESULT TRecipients::Add(const QString& Name)
{
  const QString Address = PlainAddress(Name);
  if (Address.isEmpty())
    return Fail(E_INVALIDARG, QStringLiteral("\"%1\" is no mail address").arg(FlattenHeaderText(Name)));
  FAddresses += Address;
  return S_OK;
}

HRESULT TAttachments::Add(const QString& Source)
{
  QFile File(Source);
  if (!File.open(QIODevice::ReadOnly))
    return Fail(STG_E_FILENOTFOUND, QStringLiteral("cannot attach \"%1\": %2").arg(Source, File.errorString()));
  const QByteArray Data = File.readAll();
  if (File.error() != QFileDevice::NoError)
    return Fail(E_FAIL, QStringLiteral("cannot attach \"%1\": %2").arg(Source, File.errorString()));
  FItems.push_back({QFileInfo(Source).fileName(), Data});
  return S_OK;
}

TMailItem::TMailItem(TServerSettings Settings) : FSettings(std::move(Settings))
{
  // Here rather than in Send: the global set-up must not race another thread.
  InitializeCurlOnce();
  FTransport = CurrentTransport.Get();
}

HRESULT TMailItem::SetSubject(const QString& Subject)
{
  FSubject = Subject;
  return S_OK;
}

HRESULT TMailItem::SetBody(const QString& Body)
{
  FBody = Body;
  return S_OK;
}

HRESULT TMailItem::Send()
{
  if (FSent)
    return Fail(E_FAIL, QStringLiteral("the item has been sent already"));
  if (FRecipients.Addresses().isEmpty())
    return Fail(E_FAIL, QStringLiteral("the item has no recipient"));

  const TCurlHandle Curl(curl_easy_init());
  if (!Curl)
    return Fail(E_FAIL, QStringLiteral("no mail session could be started"));
  const TMimeHandle Mime(curl_mime_init(Curl.get()));
  TListHandle Headers;
  TListHandle Recipients;
  if (!Mime)
    return Fail(E_FAIL, QStringLiteral("out of memory"));

  const QString From = FSettings.From;
  bool Built = Append(Headers, "Date: " + QDateTime::currentDateTime().toString(Qt::RFC2822Date).toLatin1()) &&
               Append(Headers, "From: " + From.toLatin1()) &&
               Append(Headers, "To: " + FRecipients.Addresses().join(QLatin1String(", ")).toLatin1()) &&
               Append(Headers, "Subject: " + EncodeSubject(FSubject)) &&
               Append(Headers, "Message-ID: <" + QUuid::createUuid().toString(QUuid::WithoutBraces).toLatin1() +
                                 From.mid(From.indexOf(QLatin1Char('@'))).toLatin1() + ">");
  for (const QString& Address : FRecipients.Addresses())
    Built = Built && Append(Recipients, "<" + Address.toLatin1() + ">");

  const QByteArray BodyBytes = CanonicalText(FBody);
  curl_mimepart* BodyPart = curl_mime_addpart(Mime.get());
  Built = Built && BodyPart && curl_mime_data(BodyPart, BodyBytes.constData(), BodyBytes.size()) == CURLE_OK &&
          curl_mime_type(BodyPart, "text/plain; charset=UTF-8") == CURLE_OK &&
          curl_mime_encoder(BodyPart, "quoted-printable") == CURLE_OK;
  const QMimeDatabase Types;
  for (const TAttachment& Attachment : FAttachments.Items()) {
    bool Ascii = true;
    for (const QChar C : Attachment.FileName)
      Ascii = Ascii && C.unicode() >= 32 && C.unicode() < 127 && C != QLatin1Char('"') && C != QLatin1Char('\\');
    // Named as most mail programs name such files: one encoded word, as a
    // quoted parameter may not be folded.
    const QByteArray FileName =
      Ascii ? Attachment.FileName.toLatin1() : "=?UTF-8?B?" + Attachment.FileName.toUtf8().toBase64() + "?=";
    const QByteArray Type =
      Types.mimeTypeForFile(Attachment.FileName, QMimeDatabase::MatchExtension).name().toLatin1();
    curl_mimepart* Part = curl_mime_addpart(Mime.get());
    Built = Built && Part &&
            curl_mime_data(Part, Attachment.Data.constData(), Attachment.Data.size()) == CURLE_OK &&
            curl_mime_filename(Part, FileName.constData()) == CURLE_OK &&
            curl_mime_type(Part, Type.constData()) == CURLE_OK && curl_mime_encoder(Part, "base64") == CURLE_OK;
  }
  if (!Built)
    return Fail(E_FAIL, QStringLiteral("out of memory"));

  char ErrorBuffer[CURL_ERROR_SIZE] = {};
  const QUrl Server(FSettings.SmtpUrl);
  const QByteArray Url = Server.adjusted(QUrl::RemoveUserInfo).toString(QUrl::FullyEncoded).toUtf8();
  const QByteArray Sender = "<" + From.toLatin1() + ">";
  // The login is ours to find, not curl's: we must know whether there is
  // one before deciding whether plain text will do.
  std::optional<Netrc::TLogin> Login = Netrc::LoginFor(Server.host(), Server.userName());
  if (!Login && !Server.userName().isEmpty())
    Login = Netrc::TLogin{Server.userName().toUtf8(), QByteArray()};
  const QByteArray TrustedCertificates = QFile::encodeName(FTransport.TrustedCertificates);
  CURL* C = Curl.get();
  curl_easy_setopt(C, CURLOPT_ERRORBUFFER, ErrorBuffer);
  curl_easy_setopt(C, CURLOPT_URL, Url.constData());
  curl_easy_setopt(C, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
  curl_easy_setopt(C, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(C, CURLOPT_NETRC, static_cast<long>(CURL_NETRC_IGNORED));
  if (Login) {
    curl_easy_setopt(C, CURLOPT_USERNAME, Login->Login.constData());
    curl_easy_setopt(C, CURLOPT_PASSWORD, Login->Password.constData());
  }
  // A login goes encrypted or not at all: STARTTLS is then a must, and curl
  // gives up before AUTH on a server that does not offer it. Without a login
  // there is nothing to protect but the report; take TLS where offered.
  curl_easy_setopt(C, CURLOPT_USE_SSL, static_cast<long>(Login ? CURLUSESSL_ALL : CURLUSESSL_TRY));
  if (!TrustedCertificates.isEmpty())
    curl_easy_setopt(C, CURLOPT_CAINFO, TrustedCertificates.constData());
  // The connect limit covers the server's greeting, TLS and the login; the
  // mail limit the whole transfer, so a server that keeps sending a byte
  // now and then is given up all the same.
  curl_easy_setopt(C, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(FTransport.ConnectLimit.count()));
  curl_easy_setopt(C, CURLOPT_TIMEOUT_MS, static_cast<long>(FTransport.MailLimit.count()));
  // curl's own limit does not cover the QUIT with which it leaves a server,
  // and a dribbling server would keep it there: the connection is closed
  // within the transfer, and the deadline checked all the way through.
  const TDeadline Deadline{std::chrono::steady_clock::now() + FTransport.MailLimit};
  curl_easy_setopt(C, CURLOPT_FORBID_REUSE, 1L);
  curl_easy_setopt(C, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(C, CURLOPT_XFERINFOFUNCTION, &TDeadline::Passed);
  curl_easy_setopt(C, CURLOPT_XFERINFODATA, &Deadline);
  curl_easy_setopt(C, CURLOPT_MAIL_FROM, Sender.constData());
  curl_easy_setopt(C, CURLOPT_MAIL_RCPT, Recipients.get());
  curl_easy_setopt(C, CURLOPT_HTTPHEADER, Headers.get());
  curl_easy_setopt(C, CURLOPT_MIMEPOST, Mime.get());

  const CURLcode Result = curl_easy_perform(C);
  if (Result != CURLE_OK) {
    QString Reason = QString::fromUtf8(ErrorBuffer[0] ? ErrorBuffer : curl_easy_strerror(Result)).trimmed();
    if (Result == CURLE_ABORTED_BY_CALLBACK)
      Reason = QStringLiteral("no answer within %1 ms").arg(FTransport.MailLimit.count());
    if (Result == CURLE_USE_SSL_FAILED && Login)
      Reason += QStringLiteral(" (there is a login for this server, and a login never travels without TLS)");
    // Not a byte of reply, not even a greeting: the server is out of reach,
    // and will be for the next mail as well.
    long ReplyBytes = 0;
    curl_easy_getinfo(C, CURLINFO_HEADER_SIZE, &ReplyBytes);
    return Fail(ReplyBytes == 0 ? MAPI_E_NETWORK_ERROR : E_FAIL,
                QStringLiteral("the mail to %1 could not be sent through %2: %3")
                  .arg(FRecipients.Addresses().join(QLatin1String(", ")), ServerName(FSettings.SmtpUrl), Reason));
  }
  FSent = true;
  return S_OK;
}

HRESULT TMailApplication::CreateItem(int ItemType, std::shared_ptr<TMailItem>& Item)
{
  Item.reset();
  if (ItemType != olMailItem)
    return Fail(E_INVALIDARG, QStringLiteral("item type %1 is not served; only mail items (0) are").arg(ItemType));
  Item = std::make_shared<TMailItem>(FSettings);
  return S_OK;
}

HRESULT GetActiveObject(const QString& ProgId, std::shared_ptr<TMailApplication>& Object)
{
  Object.reset();
  if (ProgId.compare(MailApplicationProgId, Qt::CaseInsensitive) != 0)
    return Fail(CO_E_CLASSSTRING, QStringLiteral("Invalid class string \"%1\"").arg(ProgId));
  Object = RunningApplication().lock();
  if (!Object)
    return Fail(MK_E_UNAVAILABLE, QStringLiteral("the mail program is not running"));
  return S_OK;
}

HRESULT CreateObject(const QString& ProgId, std::shared_ptr<TMailApplication>& Object)
{
  Object.reset();
  if (ProgId.compare(MailApplicationProgId, Qt::CaseInsensitive) != 0)
    return Fail(CO_E_CLASSSTRING, QStringLiteral("Invalid class string \"%1\"").arg(ProgId));

  TServerSettings Settings;
  const QString Where = QStringLiteral("HKEY_CURRENT_USER%1").arg(MailKey);
  try {
    Registry::TRegistry Reg(Registry::KEY_READ);
    Reg.SetRootKey(Registry::HKEY_CURRENT_USER);
    if (Reg.OpenKeyReadOnly(MailKey)) {
      Settings.SmtpUrl = Reg.ReadString(SmtpUrlValue).trimmed();
      Settings.From = Reg.ReadString(FromValue);
    }
  } catch (const ERegistryException& E) {
    return Fail(CO_E_APPNOTFOUND,
                QStringLiteral("The mail settings under %1 cannot be read: %2").arg(Where, E.Message()));
  }
  if (Settings.SmtpUrl.isEmpty())
    return Fail(CO_E_APPNOTFOUND, QStringLiteral("The mail program is not installed: no \"%1\" under %2")
                                    .arg(SmtpUrlValue, Where));

  const QUrl Url(Settings.SmtpUrl, QUrl::StrictMode);
  const QString Scheme = Url.scheme().toLower();
  if (!Url.isValid() || Url.host().isEmpty() || (Scheme != QLatin1String("smtp") && Scheme != QLatin1String("smtps")))
    return Fail(CO_E_APPNOTFOUND, QStringLiteral("The mail program is not installed: \"%1\" under %2 is no "
                                                 "smtp:// or smtps:// URL")
                                    .arg(SmtpUrlValue, Where));
  if (!Url.password().isEmpty())
    return Fail(CO_E_APPNOTFOUND, QStringLiteral("\"%1\" under %2 carries a password; credentials belong in ~/.netrc")
                                    .arg(SmtpUrlValue, Where));

  if (Settings.From.trimmed().isEmpty())
    Settings.From = DefaultSender();
  else if (const QString From = PlainAddress(Settings.From); !From.isEmpty())
    Settings.From = From;
  else
    return Fail(CO_E_APPNOTFOUND, QStringLiteral("\"%1\" under %2 is no mail address").arg(FromValue, Where));

  Object = std::make_shared<TMailApplication>(std::move(Settings));
  RunningApplication() = Object;
  return S_OK;
}

}  // namespace MailAutomation
