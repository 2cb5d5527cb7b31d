// Link layer speed: packet assembly, filtered FIFO searches on a busy queue,
// and UEI round trips and bulk sends through a TCP link to the simulator.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <chrono>
#include <thread>

#include "ModuleModel.h"
#include "TcpFrontEnd.h"
#include "aLink.h"
#include "aUEI.h"
#include "packetfifo.h"

namespace {

void BM_PacketAssembly(benchmark::State& state) {
    uint8_t wire[30] = {4, 28};
    for (int i = 2; i < 30; i++)
        wire[i] = (uint8_t)i;
    aPacket* packet = aPacket_Create();
    for (auto _ : state) {
        for (uint8_t b : wire)
            aPacket_AddByte(packet, b);
        benchmark::DoNotOptimize(aPacket_IsComplete(packet));
        aPacket_Reset(packet);
    }
    state.SetBytesProcessed(state.iterations() * sizeof wire);
    aPacket_Destroy(&packet);
}
BENCHMARK(BM_PacketAssembly);

bool sTagFilter(const aPacket* packet, void* ref) {
    return packet->data[0] == *(uint8_t*)ref;
}

// A reply found behind a full queue of other traffic.
void BM_FifoAwaitFirstBusyQueue(benchmark::State& state) {
    uint64_t fifo = aPacketFifo_Create();
    uint8_t other[3] = {93, 1, 0x40}, wanted[3] = {3, 9, 0};
    aPacket* noise = aPacket_CreateWithData(2, 3, other);
    aPacket* reply = aPacket_CreateWithData(2, 3, wanted);
    for (int i = 0; i < state.range(0); i++)
        aPacketFifo_Put(fifo, noise);
    uint8_t tag = 3;
    for (auto _ : state) {
        aPacketFifo_Put(fifo, reply);
        aPacket* found = aPacketFifo_AwaitFirst(fifo, sTagFilter, &tag, 1000);
        aPacket_Destroy(&found);
    }
    aPacket_Destroy(&noise);
    aPacket_Destroy(&reply);
    aPacketFifo_Destroy(&fifo);
}
BENCHMARK(BM_FifoAwaitFirstBusyQueue)->Arg(0)->Arg(100)->Arg(998);

struct SimLink {
    vzsim::ModuleModel model{vzsim::ModuleIdentity{}};
    vzsim::TcpFrontEnd front{model};
    uint32_t id = 0;
    SimLink() {
        std::string error;
        if (front.start("127.0.0.1", 0, &error))
            id = aLink_CreateTCPIP(htonl(INADDR_LOOPBACK), front.port());
    }
    ~SimLink() {
        if (id) aLink_Destroy(&id);
    }
};

// One UEI get of the serial number, request to decoded reply.
void BM_TcpUeiRoundTrip(benchmark::State& state) {
    SimLink sim;
    if (!sim.id) {
        state.SkipWithError("no link to the simulator");
        return;
    }
    uei request{};
    request.module = 2;
    request.command = cmdSYSTEM;
    request.option = aUEI_GET | 9;
    request.specifier = aUEI_REQUEST;
    aPacket* packet = aUEI_CreateRequest(&request);
    for (auto _ : state) {
        aLink_PutPacket(sim.id, packet);
        uei key = request;
        key.option = 9;
        key.specifier = 0;
        aPacket* reply = aLink_AwaitFirst(sim.id, aUEI_ReplyFilter, &key, 1000);
        if (!reply) {
            state.SkipWithError("no reply");
            break;
        }
        aPacket_Destroy(&reply);
    }
    aPacket_Destroy(&packet);
}
BENCHMARK(BM_TcpUeiRoundTrip)->UseRealTime();

// Full-size packets to the module, unpooled (0) and pooled (1).
void BM_TcpBulkSend(benchmark::State& state) {
    SimLink sim;
    if (!sim.id) {
        state.SkipWithError("no link to the simulator");
        return;
    }
    aLink_EnablePooledPackets(sim.id, state.range(0) != 0);
    uint8_t data[28] = {cmdFACTORY};
    aPacket* packet = aPacket_CreateWithData(2, 28, data);
    const unsigned batch = 500;
    for (auto _ : state) {
        unsigned before = sim.model.stats().packetsIn;
        for (unsigned i = 0; i < batch; i++)
            aLink_PutPacket(sim.id, packet);
        while (sim.model.stats().packetsIn - before < batch)
            std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    state.SetBytesProcessed(state.iterations() * batch * 30);
    aPacket_Destroy(&packet);
}
BENCHMARK(BM_TcpBulkSend)->Arg(0)->Arg(1)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace
