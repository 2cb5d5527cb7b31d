// Byte streams: what an idle socket or serial get costs the reader thread, how
// soon an arriving byte is delivered, and the cost of the push-back path.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pty.h>
#include <string>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include "aStream.h"
#include "aStream_Serial.h"
#include "aStream_Socket.h"

namespace {

// A connected socket stream and the peer's end of it.
struct SocketPair {
    int listener = -1, peer = -1;
    aStream* stream = nullptr;
    SocketPair() {
        listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof(a));
        socklen_t len = sizeof(a);
        getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
        listen(listener, 1);
        aStream_CreateSocket(htonl(INADDR_LOOPBACK), ntohs(a.sin_port), &stream);
        peer = accept(listener, nullptr, nullptr);
        int on = 1;
        setsockopt(peer, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
    }
    ~SocketPair() {
        if (stream) aStream_Destroy(&stream);
        close(peer);
        close(listener);
    }
};

// CPU time per idle get (the real time is the bounded wait).
void BM_SocketIdleGet(benchmark::State& state) {
    SocketPair pair;
    uint8_t b;
    for (auto _ : state)
        benchmark::DoNotOptimize(aStream_Read(pair.stream, &b, 1));
}
BENCHMARK(BM_SocketIdleGet)->Iterations(50);

// A byte sent by the peer while the reader waits in get, until get returns it.
void BM_SocketByteDelivery(benchmark::State& state) {
    SocketPair pair;
    uint8_t b = 0;
    for (auto _ : state) {
        send(pair.peer, "x", 1, 0);
        while (aStream_Read(pair.stream, &b, 1) != aErrNone) {
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SocketByteDelivery)->UseRealTime();

void BM_SerialIdleGet(benchmark::State& state) {
    int master, slave;
    char name[256];
    openpty(&master, &slave, name, nullptr, nullptr);
    aStream* s = nullptr;
    aStream_CreateSerial(name, 6, false, 0, 0, &s);
    uint8_t b;
    for (auto _ : state)
        benchmark::DoNotOptimize(aStream_Read(s, &b, 1));
    aStream_Destroy(&s);
    close(master);
    close(slave);
}
BENCHMARK(BM_SerialIdleGet)->Iterations(50);

aErr sCountingGet(uint8_t* byte, void* ref) {
    *byte = (*static_cast<uint8_t*>(ref))++;
    return aErrNone;
}

// A 30-byte packet read through the push-back path, as a multi-byte read.
void BM_StreamRead30(benchmark::State& state) {
    uint8_t counter = 0;
    aStream* s = aStream_Create(sCountingGet, nullptr, nullptr, nullptr, &counter);
    uint8_t packet[30];
    for (auto _ : state)
        benchmark::DoNotOptimize(aStream_Read(s, packet, sizeof(packet)));
    state.SetBytesProcessed(state.iterations() * sizeof(packet));
    aStream_Destroy(&s);
}
BENCHMARK(BM_StreamRead30);

} // namespace
