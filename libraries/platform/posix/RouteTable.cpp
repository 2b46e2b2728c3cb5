// Linux routing table through rtnetlink, without a library: one request
// message per call, answered by an acknowledgement or a dump. Only the main
// table (254) is touched. Every row the helper adds carries the route
// protocol kOwnRouteProtocol (the forwarding row's Windows protocol number
// has no meaning here); a delete dumps the table and sends back as a delete
// only the row with that mark, destination, interface, metric and next hop,
// so a route that an administrator or another daemon made is never removed.
//
// Windows takes a next hop equal to one of its own addresses as "on the
// link"; the kernel refuses a local address as a gateway, so such a row is
// added without a gateway and with link scope, which means the same.
#include "platform/RouteTable.h"

#include <errno.h>
#include <ifaddrs.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "ErrorTable.h"
#include "platform/Errors.h"

namespace platform {

namespace {

// The mark of the helper's rows: a protocol number that no routing daemon
// in iproute2's list uses ("ip route" shows it as "proto 142").
constexpr unsigned char kOwnRouteProtocol = 142;

using Message = std::vector<std::uint8_t>;

// The prefix length of a contiguous mask, -1 for any other.
int PrefixLength(std::uint32_t mask) {
  const std::uint32_t host = ntohl(mask);
  const int length = __builtin_popcount(host);
  const std::uint32_t expected = length == 0 ? 0 : ~0u << (32 - length);
  return host == expected ? length : -1;
}

struct AddressEntry {
  std::string name;
  std::uint32_t address;
};

// Every IPv4 address of the system, in the order the system lists them.
std::vector<AddressEntry> LocalAddresses() {
  std::vector<AddressEntry> entries;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return entries;
  for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
    const auto* in = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
    entries.push_back({entry->ifa_name, in->sin_addr.s_addr});
  }
  freeifaddrs(list);
  return entries;
}

bool IsOwnAddress(std::uint32_t address) {
  for (const AddressEntry& entry : LocalAddresses()) {
    if (entry.address == address) return true;
  }
  return false;
}

void AddAttribute(Message& message, unsigned short type, const void* data, unsigned short length) {
  rtattr attribute{};
  attribute.rta_type = type;
  attribute.rta_len = static_cast<unsigned short>(RTA_LENGTH(length));
  const std::size_t at = message.size();
  message.resize(at + RTA_SPACE(length));
  std::memcpy(message.data() + at, &attribute, sizeof attribute);
  std::memcpy(message.data() + at + RTA_LENGTH(0), data, length);
  reinterpret_cast<nlmsghdr*>(message.data())->nlmsg_len =
      static_cast<std::uint32_t>(message.size());
}

Message NewMessage(unsigned short type, unsigned short flags, const rtmsg& body) {
  Message message(NLMSG_SPACE(sizeof(rtmsg)));
  auto* header = reinterpret_cast<nlmsghdr*>(message.data());
  header->nlmsg_len = static_cast<std::uint32_t>(message.size());
  header->nlmsg_type = type;
  header->nlmsg_flags = static_cast<unsigned short>(NLM_F_REQUEST | flags);
  std::memcpy(NLMSG_DATA(header), &body, sizeof body);
  return message;
}

class Netlink {
 public:
  Netlink() : fd_(socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE)) {}
  ~Netlink() {
    if (fd_ >= 0) close(fd_);
  }
  Netlink(const Netlink&) = delete;
  Netlink& operator=(const Netlink&) = delete;

  // Sends the request and reads the answer: 0 or the errno of the failure.
  // The rows of a dump are added to *rows.
  int Transact(Message& request, std::vector<Message>* rows) {
    if (fd_ < 0) return errno;
    auto* header = reinterpret_cast<nlmsghdr*>(request.data());
    header->nlmsg_seq = ++sequence_;
    if (send(fd_, request.data(), request.size(), 0) < 0) return errno;
    std::vector<std::uint8_t> buffer(32768);
    for (;;) {
      const ssize_t got = recv(fd_, buffer.data(), buffer.size(), 0);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) return errno;
      int result = 0;
      if (Consume(buffer.data(), static_cast<std::size_t>(got), rows, &result)) return result;
    }
  }

 private:
  // True once the answer is complete; *result is then its status.
  bool Consume(const std::uint8_t* data, std::size_t length, std::vector<Message>* rows,
               int* result) {
    for (std::size_t offset = 0; offset + sizeof(nlmsghdr) <= length;) {
      const auto* message = reinterpret_cast<const nlmsghdr*>(data + offset);
      if (message->nlmsg_len < sizeof(nlmsghdr) || message->nlmsg_len > length - offset) break;
      offset += NLMSG_ALIGN(message->nlmsg_len);
      if (message->nlmsg_seq != sequence_) continue;
      if (message->nlmsg_type == NLMSG_DONE) return true;
      if (message->nlmsg_type == NLMSG_ERROR) {
        *result = -static_cast<const nlmsgerr*>(NLMSG_DATA(message))->error;
        return true;
      }
      if (rows != nullptr && message->nlmsg_type == RTM_NEWROUTE) {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(message);
        rows->emplace_back(bytes, bytes + message->nlmsg_len);
      }
    }
    return false;
  }

  int fd_;
  std::uint32_t sequence_ = 0;
};

// The attributes of a dumped route that a delete compares.
struct DumpedRoute {
  unsigned char protocol = 0;
  int prefix = -1;
  std::uint32_t table = 0;
  std::uint32_t destination = 0;
  std::uint32_t gateway = 0;
  std::uint32_t interfaceIndex = 0;
  std::uint32_t metric = 0;
};

DumpedRoute ReadDumpedRoute(const Message& row) {
  const auto* header = reinterpret_cast<const nlmsghdr*>(row.data());
  const auto* body = static_cast<const rtmsg*>(NLMSG_DATA(header));
  DumpedRoute route;
  if (body->rtm_family != AF_INET) return route;
  route.protocol = body->rtm_protocol;
  route.prefix = body->rtm_dst_len;
  route.table = body->rtm_table;
  int length = static_cast<int>(RTM_PAYLOAD(header));
  for (const rtattr* attribute = RTM_RTA(body); RTA_OK(attribute, length);
       attribute = RTA_NEXT(attribute, length)) {
    std::uint32_t* field = nullptr;
    switch (attribute->rta_type) {
      case RTA_TABLE: field = &route.table; break;
      case RTA_DST: field = &route.destination; break;
      case RTA_GATEWAY: field = &route.gateway; break;
      case RTA_OIF: field = &route.interfaceIndex; break;
      case RTA_PRIORITY: field = &route.metric; break;
      default: break;
    }
    if (field != nullptr && RTA_PAYLOAD(attribute) == 4) std::memcpy(field, RTA_DATA(attribute), 4);
  }
  return route;
}

// True when the dumped row is the one CreateRoute made from `row`. An
// on-link row carries no gateway (see CreateRoute).
bool IsOwnRow(const DumpedRoute& route, const ForwardRow& row, int prefix) {
  return route.protocol == kOwnRouteProtocol && route.table == RT_TABLE_MAIN &&
         route.prefix == prefix && route.destination == row.destination &&
         route.interfaceIndex == row.interfaceIndex && route.metric == row.metric1 &&
         (route.gateway == row.nextHop || route.gateway == 0);
}

class LinuxRouteTable : public RouteTable {
 public:
  std::uint32_t AdapterIndex(std::uint32_t address) override {
    std::vector<std::string> seen;
    for (const AddressEntry& entry : LocalAddresses()) {
      bool first = true;
      for (const std::string& name : seen) first = first && name != entry.name;
      if (!first) continue;
      seen.push_back(entry.name);
      if (entry.address != address) continue;
      const unsigned index = if_nametoindex(entry.name.c_str());
      return index != 0 ? index : kNoInterfaceIndex;
    }
    return kNoInterfaceIndex;
  }

  bool IsLocalAddress(std::uint32_t address) override { return IsOwnAddress(address); }

  // Linux keeps no metric per interface; routes get their own.
  std::uint32_t InterfaceMetric(std::uint32_t) override { return 0; }

  int CreateRoute(const ForwardRow& row) override {
    const int prefix = PrefixLength(row.mask);
    if (prefix < 0) return kErrorInvalidParameter;
    const bool onLink = IsOwnAddress(row.nextHop);
    rtmsg body{};
    body.rtm_family = AF_INET;
    body.rtm_dst_len = static_cast<unsigned char>(prefix);
    body.rtm_table = RT_TABLE_MAIN;
    body.rtm_protocol = kOwnRouteProtocol;
    body.rtm_scope = onLink ? RT_SCOPE_LINK : RT_SCOPE_UNIVERSE;
    body.rtm_type = RTN_UNICAST;
    Message request = NewMessage(RTM_NEWROUTE, NLM_F_ACK | NLM_F_CREATE | NLM_F_EXCL, body);
    AddAttribute(request, RTA_DST, &row.destination, 4);
    if (!onLink) AddAttribute(request, RTA_GATEWAY, &row.nextHop, 4);
    AddAttribute(request, RTA_OIF, &row.interfaceIndex, 4);
    AddAttribute(request, RTA_PRIORITY, &row.metric1, 4);
    Netlink netlink;
    return SystemErrorFromErrno(netlink.Transact(request, nullptr));
  }

  int DeleteRoute(const ForwardRow& row) override {
    const int prefix = PrefixLength(row.mask);
    if (prefix < 0) return kErrorInvalidParameter;
    rtmsg body{};
    body.rtm_family = AF_INET;
    Message dump = NewMessage(RTM_GETROUTE, NLM_F_DUMP, body);
    Netlink netlink;
    std::vector<Message> rows;
    const int error = netlink.Transact(dump, &rows);
    if (error != 0) return SystemErrorFromErrno(error);
    for (Message& dumped : rows) {
      if (!IsOwnRow(ReadDumpedRoute(dumped), row, prefix)) continue;
      auto* header = reinterpret_cast<nlmsghdr*>(dumped.data());
      header->nlmsg_type = RTM_DELROUTE;
      header->nlmsg_flags = NLM_F_REQUEST | NLM_F_ACK;
      return SystemErrorFromErrno(netlink.Transact(dumped, nullptr));
    }
    return kErrorFileNotFound;
  }
};

}  // namespace

std::unique_ptr<RouteTable> MakeRouteTable() { return std::make_unique<LinuxRouteTable>(); }

std::string RouteAddFailureLine(int error, std::uint32_t interfaceIndex, std::uint32_t metric) {
  char name[IF_NAMESIZE] = "none";
  if (interfaceIndex == kNoInterfaceIndex || if_indextoname(interfaceIndex, name) == nullptr) {
    std::strcpy(name, "none");
  }
  return "Could not add route " + std::to_string(error) + " (" + SystemErrorText(error) +
         ") interface " + name + " metric " + std::to_string(metric) + "\n";
}

}  // namespace platform
