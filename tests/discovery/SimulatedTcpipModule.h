// A simulated module reached over TCP/IP inside the test's network namespace:
// its packet service and its answers to discovery requests.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "DiscoveryResponder.h"
#include "ModuleModel.h"
#include "NetNamespace.h"
#include "TcpFrontEnd.h"

inline vzsim::ModuleIdentity sIdentity(uint32_t serial, uint8_t address, uint8_t model,
                                       uint32_t version, uint32_t build, const char* name) {
    vzsim::ModuleIdentity id;
    id.serial = serial;
    id.address = address;
    id.model = model;
    id.version = version;
    id.build = build;
    id.name = name;
    return id;
}

struct TcpipModule {
    explicit TcpipModule(const vzsim::ModuleIdentity& identity) : model(identity) {}
    void start() {
        std::string error;
        ASSERT_TRUE(front.start(NETNS_MODULE_ADDRESS, 0, &error)) << error;
        vzsim::DiscoveryIdentity id;
        id.serial = model.primary()->identity().serial;
        id.model = model.primary()->identity().model;
        id.module = model.primary()->address();
        id.tcpPort = front.port();
        responder = std::make_unique<vzsim::DiscoveryResponder>(id, NETNS_MODULE_ADDRESS);
        ASSERT_TRUE(responder->start(&error)) << error;
    }
    vzsim::ModuleModel model;
    vzsim::TcpFrontEnd front{model};
    std::unique_ptr<vzsim::DiscoveryResponder> responder;
};
