// Encoding and decoding a typical discovery reply: the ten elements a unit
// answers the record query with (two booleans, addresses and the MAC as
// blobs, the node number, group and version strings, the gateway). Decoding
// is measured as the discovery code does it, into a fresh record per
// datagram, and also into one reused record and in pieces, so the cost of the
// allocations and of resuming can be read off side by side.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "DataRecord.h"

namespace {

unsigned char kAddress[4] = {192, 168, 1, 20};
unsigned char kFromIp[4] = {192, 168, 1, 2};
unsigned char kNetMask[4] = {255, 255, 255, 0};
unsigned char kMac[6] = {0x00, 0x50, 0xC2, 0x11, 0x22, 0x33};

void build_reply(DataRecord& record) {
  record.Put(VT_BOOL, "ReplyTarvo", 1);
  record.Put(VT_BOOL, "ReplyTarvoProxy", 0);
  record.Put(VT_BLOB, "IPAddress", kAddress, RecordElement::kCopy, 4);
  record.Put(VT_BLOB, "FromIP", kFromIp, RecordElement::kCopy, 4);
  record.Put(VT_BLOB, "NetMask", kNetMask, RecordElement::kCopy, 4);
  record.Put(VT_I2, "Node", 17);
  record.Put(VT_BSTR, "Group", const_cast<char*>("Maintenance"), RecordElement::kCopy, 0);
  record.Put(VT_BLOB, "MAC", kMac, RecordElement::kCopy, 6);
  record.Put(VT_BSTR, "Version", const_cast<char*>("4.2.17.3"), RecordElement::kCopy, 0);
  record.Put(VT_UI4, "VXMGW", 0x0101A8C0);
}

struct Encoded {
  std::vector<unsigned char> bytes;
  int mode;
};

Encoded encoded_reply() {
  DataRecord record;
  build_reply(record);
  std::vector<unsigned char> buffer(1500);
  int written = 0;
  record.Write(buffer.data(), static_cast<int>(buffer.size()), &written);
  buffer.resize(written);
  return {buffer, record.getFlags()};
}

void BM_EncodeDiscoveryReply(benchmark::State& state) {
  DataRecord record;
  build_reply(record);
  unsigned char buffer[1500];
  int written = 0;
  for (auto _ : state) {
    record.Write(buffer, sizeof buffer, &written);
    benchmark::DoNotOptimize(buffer);
  }
  state.SetBytesProcessed(state.iterations() * written);
}
BENCHMARK(BM_EncodeDiscoveryReply);

void BM_BuildAndEncodeDiscoveryReply(benchmark::State& state) {
  unsigned char buffer[1500];
  int written = 0;
  for (auto _ : state) {
    DataRecord record;
    build_reply(record);
    record.Write(buffer, sizeof buffer, &written);
    benchmark::DoNotOptimize(buffer);
  }
  state.SetBytesProcessed(state.iterations() * written);
}
BENCHMARK(BM_BuildAndEncodeDiscoveryReply);

void BM_DecodeDiscoveryReply(benchmark::State& state) {
  const Encoded reply = encoded_reply();
  const int size = static_cast<int>(reply.bytes.size());
  for (auto _ : state) {
    DataRecord record;
    record.setFlags(reply.mode);
    benchmark::DoNotOptimize(record.Read(reply.bytes.data(), size));
    benchmark::DoNotOptimize(record.Find("IPAddress"));
  }
  state.SetBytesProcessed(state.iterations() * size);
}
BENCHMARK(BM_DecodeDiscoveryReply);

void BM_DecodeDiscoveryReplyReusingTheRecord(benchmark::State& state) {
  const Encoded reply = encoded_reply();
  const int size = static_cast<int>(reply.bytes.size());
  DataRecord record;
  record.setFlags(reply.mode);
  for (auto _ : state) {
    benchmark::DoNotOptimize(record.Read(reply.bytes.data(), size));
    benchmark::DoNotOptimize(record.Find("IPAddress"));
  }
  state.SetBytesProcessed(state.iterations() * size);
}
BENCHMARK(BM_DecodeDiscoveryReplyReusingTheRecord);

// The same datagram fed in pieces of the given size, every value cut.
void BM_DecodeDiscoveryReplyInPieces(benchmark::State& state) {
  const Encoded reply = encoded_reply();
  const int size = static_cast<int>(reply.bytes.size());
  const int piece = static_cast<int>(state.range(0));
  for (auto _ : state) {
    DataRecord record;
    record.setFlags(reply.mode);
    for (int at = 0; at < size; at += piece) {
      benchmark::DoNotOptimize(
          record.Read(reply.bytes.data() + at, size - at < piece ? size - at : piece));
    }
    benchmark::DoNotOptimize(record.Find("IPAddress"));
  }
  state.SetBytesProcessed(state.iterations() * size);
}
BENCHMARK(BM_DecodeDiscoveryReplyInPieces)->Arg(16)->Arg(3);

}  // namespace
