#pragma once
// Host addresses of the host name, and the status of the network adapters
// through a NetBIOS-style control block. Adapters are the network interfaces
// in index order; an adapter's status carries its hardware address.

#include <QString>

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace Network {

// The local host name into Name (at most Length bytes with its NUL); 0 on
// success, -1 when it does not fit or cannot be had.
int gethostname(char* Name, std::size_t Length);

// The IPv4 addresses of a host name, in the resolver's order, each once
// (network byte order); nullopt when the name cannot be resolved.
using TIPv4Address = std::array<std::uint8_t, 4>;
std::optional<std::vector<TIPv4Address>> gethostbyname(const char* Name);

// Dotted-decimal text of an address.
QString inet_ntoa(const TIPv4Address& Address);

// The control block, 64 bytes as the caller lays it out.
inline constexpr std::uint8_t NCBENUM = 0x37;
inline constexpr std::uint8_t NCBRESET = 0x32;
inline constexpr std::uint8_t NCBASTAT = 0x33;
inline constexpr std::uint8_t NRC_GOODRET = 0x00;
inline constexpr std::uint8_t NRC_BUFLEN = 0x01;
inline constexpr std::uint8_t NRC_INCOMP = 0x06;
inline constexpr std::uint8_t NRC_ILLCMD = 0x03;
inline constexpr std::uint8_t NRC_BRIDGE = 0x23;
inline constexpr std::size_t NCBNAMSZ = 16;
inline constexpr std::size_t MAX_LANA = 254;

struct NCB {
  std::uint8_t ncb_command;
  std::uint8_t ncb_retcode;
  std::uint8_t ncb_lsn;
  std::uint8_t ncb_num;
  std::uint8_t* ncb_buffer;
  std::uint16_t ncb_length;
  std::uint8_t ncb_callname[NCBNAMSZ];
  std::uint8_t ncb_name[NCBNAMSZ];
  std::uint8_t ncb_rto;
  std::uint8_t ncb_sto;
  std::uint8_t ncb_lana_num;
  std::uint8_t ncb_cmd_cplt;
  std::uint8_t ncb_reserve[8];
};
static_assert(sizeof(NCB) == 64);

// LANA enumeration: the count, then one LANA number per adapter.
struct LANA_ENUM {
  std::uint8_t length;
  std::uint8_t lana[MAX_LANA + 1];
};
// Adapter status as far as a 60-byte buffer holds it; the address first.
inline constexpr std::size_t AdapterStatusSize = 60;

// Issues the command of the block; returns and stores its return code.
// NCBENUM fills a LANA_ENUM, NCBRESET checks the LANA number, NCBASTAT
// fills the adapter status (NRC_INCOMP when the buffer is shorter than the
// status, which then holds what fits).
std::uint8_t Netbios(NCB* Block);

// What a test puts behind the adapters: each one's hardware address and the
// return code its status call gives.
struct TAdapter {
  std::array<std::uint8_t, 6> Address{};
  std::uint8_t StatusReturnCode = NRC_GOODRET;
};
// The machine's adapters in index order.
std::vector<TAdapter> Adapters();

struct TSource {
  std::function<QString()> HostName;  // returns "" to make gethostname fail
  std::function<std::optional<std::vector<TIPv4Address>>(const QString& HostName)> Resolve;
  std::function<std::vector<TAdapter>()> Adapters;
};
// Empty members keep the real machine; a default-constructed source
// restores it wholly.
void SetSource(TSource Source);

}  // namespace Network
