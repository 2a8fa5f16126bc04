#include "platform/Network.h"

#include "platform/ReplaceableSource.h"
#include "platform/SystemInfo.h"

#include <QFile>

#include <algorithm>
#include <climits>
#include <cstring>
#include <map>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace Network {

namespace {

ReplaceableSource::TReplaceableSource<TSource> CurrentSource;

TSource Source() { return CurrentSource.Get(); }

std::optional<std::vector<TIPv4Address>> RealResolve(const QString& HostName)
{
  addrinfo Hints{};
  Hints.ai_family = AF_INET;
  // One socket type, or every address comes once per type.
  Hints.ai_socktype = SOCK_STREAM;
  addrinfo* Result = nullptr;
  if (::getaddrinfo(QFile::encodeName(HostName).constData(), nullptr, &Hints, &Result) != 0)
    return std::nullopt;
  std::vector<TIPv4Address> Addresses;
  for (const addrinfo* Entry = Result; Entry; Entry = Entry->ai_next) {
    if (Entry->ai_family != AF_INET || !Entry->ai_addr)
      continue;
    TIPv4Address Address;
    const in_addr Raw = reinterpret_cast<const sockaddr_in*>(Entry->ai_addr)->sin_addr;
    std::memcpy(Address.data(), &Raw, 4);
    if (std::find(Addresses.begin(), Addresses.end(), Address) == Addresses.end())
      Addresses.push_back(Address);
  }
  ::freeaddrinfo(Result);
  return Addresses;
}

std::vector<TAdapter> RealAdapters()
{
  // Every interface has a packet-family entry with its index and, where it
  // has one, its hardware address.
  std::map<int, TAdapter> ByIndex;
  ifaddrs* List = nullptr;
  if (::getifaddrs(&List) != 0)
    return {};
  for (const ifaddrs* Entry = List; Entry; Entry = Entry->ifa_next) {
    if (!Entry->ifa_addr || Entry->ifa_addr->sa_family != AF_PACKET)
      continue;
    const auto* Link = reinterpret_cast<const sockaddr_ll*>(Entry->ifa_addr);
    TAdapter Adapter;
    if (Link->sll_halen == Adapter.Address.size())
      std::copy_n(Link->sll_addr, Adapter.Address.size(), Adapter.Address.begin());
    ByIndex.emplace(Link->sll_ifindex, Adapter);
  }
  ::freeifaddrs(List);
  std::vector<TAdapter> Result;
  for (const auto& [Index, Adapter] : ByIndex)
    Result.push_back(Adapter);
  return Result;
}

}  // namespace

int gethostname(char* Name, std::size_t Length)
{
  const TSource Current = Source();
  const QByteArray HostName = QFile::encodeName(Current.HostName ? Current.HostName() : SystemInfo::HostName());
  if (!Name || HostName.isEmpty() || static_cast<std::size_t>(HostName.size()) + 1 > Length)
    return -1;
  std::memcpy(Name, HostName.constData(), static_cast<std::size_t>(HostName.size()) + 1);
  return 0;
}

std::optional<std::vector<TIPv4Address>> gethostbyname(const char* Name)
{
  if (!Name)
    return std::nullopt;
  const QString HostName = QFile::decodeName(Name);
  const TSource Current = Source();
  return Current.Resolve ? Current.Resolve(HostName) : RealResolve(HostName);
}

QString inet_ntoa(const TIPv4Address& Address)
{
  return QStringLiteral("%1.%2.%3.%4").arg(Address[0]).arg(Address[1]).arg(Address[2]).arg(Address[3]);
}

std::vector<TAdapter> Adapters()
{
  const TSource Current = Source();
  return Current.Adapters ? Current.Adapters() : RealAdapters();
}

std::uint8_t Netbios(NCB* Block)
{
  if (!Block)
    return NRC_ILLCMD;
  const auto Finish = [Block](std::uint8_t Code) {
    Block->ncb_retcode = Code;
    Block->ncb_cmd_cplt = Code;
    return Code;
  };
  const std::vector<TAdapter> List = Adapters();
  switch (Block->ncb_command) {
  case NCBENUM: {
    // As many LANA numbers as the buffer holds after the count byte.
    if (!Block->ncb_buffer || Block->ncb_length < 1)
      return Finish(NRC_BUFLEN);
    const std::size_t Count = std::min<std::size_t>(List.size(), MAX_LANA);
    const std::size_t Room = std::min<std::size_t>(Count, Block->ncb_length - 1u);
    Block->ncb_buffer[0] = static_cast<std::uint8_t>(Count);
    for (std::size_t I = 0; I < Room; ++I)
      Block->ncb_buffer[1 + I] = static_cast<std::uint8_t>(I);
    return Finish(Room < Count ? NRC_INCOMP : NRC_GOODRET);
  }
  case NCBRESET:
    return Finish(Block->ncb_lana_num < List.size() ? NRC_GOODRET : NRC_BRIDGE);
  case NCBASTAT: {
    if (Block->ncb_lana_num >= List.size())
      return Finish(NRC_BRIDGE);
    const TAdapter& Adapter = List[Block->ncb_lana_num];
    if (Adapter.StatusReturnCode != NRC_GOODRET && Adapter.StatusReturnCode != NRC_INCOMP)
      return Finish(Adapter.StatusReturnCode);
    if (!Block->ncb_buffer)
      return Finish(NRC_BUFLEN);
    std::uint8_t Status[AdapterStatusSize] = {};
    std::copy(Adapter.Address.begin(), Adapter.Address.end(), Status);
    const std::size_t Room = std::min<std::size_t>(Block->ncb_length, AdapterStatusSize);
    std::copy_n(Status, Room, Block->ncb_buffer);
    return Finish(Room < AdapterStatusSize ? NRC_INCOMP : Adapter.StatusReturnCode);
  }
  default:
    return Finish(NRC_ILLCMD);
  }
}

void SetSource(TSource NewSource)
{
  CurrentSource.Set(std::move(NewSource));
}

}  // namespace Network
