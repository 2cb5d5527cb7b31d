// A test fixture that owns an emulated USB bus (a umockdev testbed) for
// simulated modules to plug into, and runs the tool as a child that sees it.
#pragma once

#include <gtest/gtest.h>
#include <umockdev.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "RunTool.h"
#include "aStream_USBDevice.h"

class EmulatedUsbBus : public ::testing::Test {
  protected:
    void SetUp() override {
        testbed = umockdev_testbed_new();
        if (!umockdev_in_mock_environment()) GTEST_SKIP() << "umockdev preload not active";
    }
    void TearDown() override {
        Vuviridor_libusb_exit(); // the next testbed needs a fresh context
        unplugAll();             // while the testbed still holds the devices
        if (testbed) g_object_unref(testbed);
    }
    virtual void unplugAll() = 0;

    // Runs the tool under the preload library with HOME set.
    static ToolResult runOnBus(const std::vector<std::string>& args, const std::string& home) {
        // A sanitizer build of the tool must accept the preload library first.
        std::string asan = "ASAN_OPTIONS=verify_asan_link_order=0";
        if (const char* given = getenv("ASAN_OPTIONS")) asan += std::string(":") + given;
        return RunTool(args, {"HOME=" + home, "LD_PRELOAD=libumockdev-preload.so.0", asan});
    }

    UMockdevTestbed* testbed = nullptr;
};
