// vzupdate-server: a local update server answering the tool's query protocol
// from a directory of BIRD files (see BuildCatalogue.h for the layout).
#include "BuildCatalogue.h"
#include "UpdateService.h"

#include <httplib.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

namespace {

struct Options {
    std::string root;
    std::string bind = "127.0.0.1";
    int port = 0;
    std::string path = "/cgi/u";
    std::string ready_file;
    std::string tls_cert;
    std::string tls_key;
    FaultSwitch faults;
    bool quiet = false;
};

void sUsage(const char* program) {
    fprintf(stderr,
            "Usage: %s --root DIR [--port N] [--bind ADDR] [--path /cgi/u] [--ready-file FILE]\n"
            "          [--tls-cert PEM --tls-key PEM] [--fault KIND [--fault-op OP]"
            " [--delay-ms N]] [--quiet]\n"
            "  Serves DIR/<SERIAL>/<build>.bird to the updater; --port 0 (default) picks a free\n"
            "  port. The port is printed and, with --ready-file, written to FILE once the\n"
            "  server accepts connections.\n"
            "  Fault KIND: none 404 500 no-ok missing-lines slow stall truncate bad-base64;\n"
            "  --fault-op limits it to one request (hi qu bird builds fix ent_jwt).\n",
            program);
}

bool sParse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; i++) {
        std::string arg = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) return false;
            out = argv[++i];
            return true;
        };
        std::string text;
        if (arg == "--root") {
            if (!value(o.root)) return false;
        } else if (arg == "--bind") {
            if (!value(o.bind)) return false;
        } else if (arg == "--path") {
            if (!value(o.path)) return false;
        } else if (arg == "--ready-file") {
            if (!value(o.ready_file)) return false;
        } else if (arg == "--tls-cert") {
            if (!value(o.tls_cert)) return false;
        } else if (arg == "--tls-key") {
            if (!value(o.tls_key)) return false;
        } else if (arg == "--fault-op") {
            if (!value(o.faults.op)) return false;
        } else if (arg == "--port" || arg == "--delay-ms") {
            if (!value(text)) return false;
            char* end = nullptr;
            long n = strtol(text.c_str(), &end, 10);
            if (*end || n < 0 || n > (arg == "--port" ? 65535 : 600000)) return false;
            (arg == "--port" ? o.port : o.faults.delay_ms) = (int)n;
        } else if (arg == "--fault") {
            if (!value(text) || !Fault_Parse(text, o.faults.fault)) return false;
        } else if (arg == "--quiet") {
            o.quiet = true;
        } else {
            return false;
        }
    }
    return !o.root.empty() && o.tls_cert.empty() == o.tls_key.empty();
}

bool sWriteReady(const std::string& file, int port) {
    std::string temp = file + ".tmp";
    {
        std::ofstream out(temp);
        out << port << "\n";
        if (!out) return false;
    }
    return rename(temp.c_str(), file.c_str()) == 0;
}

void sServe(const BuildCatalogue& catalogue, const Options& o, const httplib::Request& request,
            httplib::Response& response) {
    std::map<std::string, std::string> query;
    for (const auto& [key, value] : request.params)
        query.emplace(key, value);
    ServiceReply reply = UpdateService_Handle(catalogue, query, o.faults);
    if (!o.quiet) fprintf(stderr, "GET %s -> %d\n", request.target.c_str(), reply.status);
    if (reply.delay_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(reply.delay_ms));
    response.status = reply.status;
    if (reply.stall_ms <= 0) {
        response.set_content(reply.body, "text/plain");
        return;
    }
    auto body = std::make_shared<std::string>(reply.body);
    int stall = reply.stall_ms;
    response.set_content_provider(
        body->size(), "text/plain", [body, stall](size_t offset, size_t, httplib::DataSink& sink) {
            size_t half = body->size() / 2;
            if (offset == 0) return sink.write(body->data(), half);
            std::this_thread::sleep_for(std::chrono::milliseconds(stall));
            return sink.write(body->data() + offset, body->size() - offset);
        });
}

} // namespace

int main(int argc, char** argv) {
    Options o;
    if (!sParse(argc, argv, o)) {
        sUsage(argv[0]);
        return 2;
    }
    std::error_code ec;
    if (!std::filesystem::is_directory(o.root, ec)) {
        fprintf(stderr, "vzupdate-server: %s is not a directory\n", o.root.c_str());
        return 1;
    }

    // Stop cleanly on SIGINT/SIGTERM: a waiter thread, not a handler, stops the server.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    std::unique_ptr<httplib::Server> server;
    if (o.tls_cert.empty())
        server = std::make_unique<httplib::Server>();
    else
        server = std::make_unique<httplib::SSLServer>(o.tls_cert.c_str(), o.tls_key.c_str());
    if (!server->is_valid()) {
        fprintf(stderr, "vzupdate-server: cannot set up the server (certificate?)\n");
        return 1;
    }

    BuildCatalogue catalogue(o.root);
    server->Get(o.path, [&](const httplib::Request& request, httplib::Response& response) {
        sServe(catalogue, o, request, response);
    });

    int port = o.port;
    if (port == 0)
        port = server->bind_to_any_port(o.bind);
    else if (!server->bind_to_port(o.bind, port))
        port = -1;
    if (port <= 0) {
        fprintf(stderr, "vzupdate-server: cannot bind %s:%d\n", o.bind.c_str(), o.port);
        return 1;
    }
    printf("vzupdate-server: serving %s on %s://%s:%d%s\n", o.root.c_str(),
           o.tls_cert.empty() ? "http" : "https", o.bind.c_str(), port, o.path.c_str());
    fflush(stdout);
    if (!o.ready_file.empty() && !sWriteReady(o.ready_file, port)) {
        fprintf(stderr, "vzupdate-server: cannot write %s\n", o.ready_file.c_str());
        return 1;
    }

    std::thread waiter([&] {
        int sig = 0;
        sigwait(&stopSignals, &sig);
        server->stop();
    });
    server->listen_after_bind();
    if (waiter.joinable()) {
        // listen ended on its own: wake the waiter.
        pthread_kill(waiter.native_handle(), SIGTERM);
        waiter.join();
    }
    return 0;
}
