// Link layer speed: packet assembly, FIFO searches and hand-overs between
// threads, UEI round trips next to a raw socket ping-pong with the simulator in
// its own process, the CPU an idle link costs, and bulk sends.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <netinet/tcp.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

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

bool sAnyPacket(const aPacket*, void*) {
    return true;
}

// A producer thread keeps the FIFO fed (below its overflow size) while this
// thread takes packets with await.
void BM_FifoPutAwaitStream(benchmark::State& state) {
    uint64_t fifo = aPacketFifo_Create();
    uint8_t data[7] = {3, 9, 0, 1, 2, 3, 4};
    aPacket* packet = aPacket_CreateWithData(2, 7, data);
    std::atomic<bool> stop{false};
    std::thread producer([&] {
        while (!stop) {
            if (aPacketFifo_GetLength(fifo) < 500)
                aPacketFifo_Put(fifo, packet);
            else
                std::this_thread::yield();
        }
    });
    for (auto _ : state) {
        aPacket* got = aPacketFifo_Await(fifo, 1000);
        if (!got) {
            state.SkipWithError("producer stalled");
            break;
        }
        aPacket_Destroy(&got);
    }
    stop = true;
    producer.join();
    state.SetItemsProcessed(state.iterations());
    aPacket_Destroy(&packet);
    aPacketFifo_Destroy(&fifo);
}
BENCHMARK(BM_FifoPutAwaitStream)->UseRealTime();

// One packet handed to another thread and one handed back (put and await on
// each side): the wake-up cost a link pays twice per request.
void BM_FifoPingPong(benchmark::State& state) {
    uint64_t there = aPacketFifo_Create(), back = aPacketFifo_Create();
    uint8_t data[3] = {3, 9, 0};
    aPacket* packet = aPacket_CreateWithData(2, 3, data);
    std::atomic<bool> stop{false};
    std::thread echo([&] {
        while (!stop) {
            aPacket* got = aPacketFifo_AwaitFirst(there, sAnyPacket, nullptr, 100);
            if (!got) continue;
            aPacketFifo_Put(back, got);
            aPacket_Destroy(&got);
        }
    });
    for (auto _ : state) {
        aPacketFifo_Put(there, packet);
        aPacket* got = aPacketFifo_Await(back, 1000);
        if (!got) {
            state.SkipWithError("no echo");
            break;
        }
        aPacket_Destroy(&got);
    }
    stop = true;
    echo.join();
    state.SetItemsProcessed(state.iterations() * 2);
    aPacket_Destroy(&packet);
    aPacketFifo_Destroy(&there);
    aPacketFifo_Destroy(&back);
}
BENCHMARK(BM_FifoPingPong)->UseRealTime();

// The simulator as a process of its own (vzsim), so the host process measures
// only itself; the in-process front end when the program is not built.
class SimProcess {
  public:
    SimProcess() {
#ifdef VZSIM_PATH
        char dir[] = "/tmp/link_bench.XXXXXX";
        if (!mkdtemp(dir)) return;
        dir_ = dir;
        std::string ready = dir_ + "/ready";
        std::vector<std::string> args{VZSIM_PATH, "--tcp",     "0",  "--ready-file",
                                      ready,      "--run-for", "900"};
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t quiet; // its ready lines are not ours to print
        posix_spawn_file_actions_init(&quiet);
        posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
        int spawned = posix_spawn(&pid_, VZSIM_PATH, &quiet, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&quiet);
        if (spawned != 0) {
            pid_ = 0;
            return;
        }
        for (int i = 0; i < 500 && access(ready.c_str(), F_OK) != 0; i++)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::ifstream in(ready);
        std::string kind, serial, where;
        unsigned port = 0;
        if (in >> kind >> serial >> where >> port && kind == "tcp") port_ = (uint16_t)port;
#else
        std::string error;
        if (front_.start("127.0.0.1", 0, &error)) port_ = front_.port();
#endif
    }
    ~SimProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        if (!dir_.empty()) {
            unlink((dir_ + "/ready").c_str());
            rmdir(dir_.c_str());
        }
    }
    uint16_t port() const {
        return port_;
    }

  private:
    pid_t pid_ = 0;
    std::string dir_;
    uint16_t port_ = 0;
#ifndef VZSIM_PATH
    vzsim::ModuleModel model_{vzsim::ModuleIdentity{}};
    vzsim::TcpFrontEnd front_{model_};
#endif
};

// A plain blocking TCP connection with the same options as the link's.
int sRawConnect(uint16_t port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

uei sSerialRequest() {
    uei request{};
    request.module = 2;
    request.command = cmdSYSTEM;
    request.option = aUEI_GET | 9;
    request.specifier = aUEI_REQUEST;
    return request;
}

double sSeconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// The UEI get of the serial number (5 wire bytes out, 9 back) through the link
// engine, next to the same bytes over a raw socket to the same simulator
// process (the floor). Turns alternate so both see the same machine load; the
// time reported is the link's, the counters give both means and their ratio.
void BM_TcpUeiRoundTripVsFloor(benchmark::State& state) {
    SimProcess sim;
    uint32_t id = sim.port() ? aLink_CreateTCPIP(htonl(INADDR_LOOPBACK), sim.port()) : 0;
    int raw = sim.port() ? sRawConnect(sim.port()) : -1;
    if (!id || raw < 0) {
        state.SkipWithError("no simulator");
        if (id) aLink_Destroy(&id);
        if (raw >= 0) close(raw);
        return;
    }
    uei request = sSerialRequest();
    aPacket* packet = aUEI_CreateRequest(&request);
    uint8_t wire[aPACKET_MAXWIRE];
    size_t wireLength = aPacket_ToWire(packet, wire, sizeof wire);
    const size_t replyLength = 9;
    double linkTotal = 0, floorTotal = 0;
    using clock = std::chrono::steady_clock;
    for (auto _ : state) {
        clock::time_point t0 = clock::now();
        aLink_PutPacket(id, packet);
        uei key = request;
        key.option = 9;
        key.specifier = 0;
        aPacket* reply = aLink_AwaitFirst(id, aUEI_ReplyFilter, &key, 1000);
        clock::time_point t1 = clock::now();
        if (!reply) {
            state.SkipWithError("no reply over the link");
            break;
        }
        aPacket_Destroy(&reply);

        uint8_t back[replyLength];
        clock::time_point t2 = clock::now();
        bool ok = send(raw, wire, wireLength, MSG_NOSIGNAL) == (ssize_t)wireLength &&
                  recv(raw, back, replyLength, MSG_WAITALL) == (ssize_t)replyLength;
        clock::time_point t3 = clock::now();
        if (!ok) {
            state.SkipWithError("no reply over the raw socket");
            break;
        }
        state.SetIterationTime(sSeconds(t1 - t0));
        linkTotal += sSeconds(t1 - t0);
        floorTotal += sSeconds(t3 - t2);
    }
    double n = state.iterations() ? (double)state.iterations() : 1;
    state.counters["link_us"] = linkTotal / n * 1e6;
    state.counters["floor_us"] = floorTotal / n * 1e6;
    state.counters["ratio"] = floorTotal > 0 ? linkTotal / floorTotal : 0;
    aPacket_Destroy(&packet);
    close(raw);
    aLink_Destroy(&id);
}
BENCHMARK(BM_TcpUeiRoundTripVsFloor)->UseManualTime()->Unit(benchmark::kMicrosecond);

double sProcessCpuSeconds() {
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// CPU time of this process (only the link's threads run) while one TCP link
// to the simulator process sits open and idle for 10 s.
void BM_IdleTcpLinkCpu(benchmark::State& state) {
    SimProcess sim;
    uint32_t id = sim.port() ? aLink_CreateTCPIP(htonl(INADDR_LOOPBACK), sim.port()) : 0;
    if (!id) {
        state.SkipWithError("no simulator");
        return;
    }
    double cpu = 0, wall = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        double before = sProcessCpuSeconds();
        std::this_thread::sleep_for(std::chrono::seconds(10));
        cpu += sProcessCpuSeconds() - before;
        wall += sSeconds(std::chrono::steady_clock::now() - start);
    }
    state.counters["cpu_ms"] = cpu * 1e3;
    state.counters["core_percent"] = wall > 0 ? cpu / wall * 100 : 0;
    aLink_Destroy(&id);
}
BENCHMARK(BM_IdleTcpLinkCpu)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

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
