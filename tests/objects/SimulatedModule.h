// A simulated module served over TCP on 127.0.0.1, and the specifier that
// reaches it.
#pragma once

#include <arpa/inet.h>

#include <gtest/gtest.h>

#include <string>

#include "ModuleModel.h"
#include "TcpFrontEnd.h"
#include "aLinkSpec.h"

struct SimulatedModule {
    explicit SimulatedModule(const vzsim::ModuleIdentity& identity) : model(identity) {}
    bool start() {
        std::string error;
        bool ok = front.start("127.0.0.1", 0, &error);
        EXPECT_TRUE(ok) << error;
        return ok;
    }
    linkSpec lspec() const {
        linkSpec s = {};
        s.type = TCPIP;
        s.serialNumber = identity().serial;
        s.ipAddress = htonl(INADDR_LOOPBACK);
        s.ipPort = front.port();
        return s;
    }
    const vzsim::ModuleIdentity& identity() const {
        return const_cast<vzsim::ModuleModel&>(model).primary()->identity();
    }

    vzsim::ModuleModel model;
    vzsim::TcpFrontEnd front{model};
};
