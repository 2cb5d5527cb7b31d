// The scanned command line.
#pragma once

#include <cstdint>
#include <string>

#define UPDATER_DEFAULT_SERVER_HOST "updates.vazizori.example"
#define UPDATER_DEFAULT_SERVER_URL "http://" UPDATER_DEFAULT_SERVER_HOST "/cgi/u"

enum COMMANDS : uint32_t {
    CMD_DISCOVER = 0x00000001,
    CMD_UPDATE = 0x00000002,
    CMD_LIST_BUILDS = 0x00000004,
    CMD_GET_FIRMWARE = 0x00000008,
    CMD_DEVICE_INFO = 0x00000010,
    CMD_CHECK_BIRD = 0x00000020,
    CMD_FINGERPRINT = 0x00000040,
    CMD_OPTION_Z = 0x00000080,
    CMD_GET_JWT = 0x00000100,
    CMD_LIST_LOCAL_BUILDS = 0x00000200,
    CMD_HELP = 0x80000000,
};

// Any of these bits means a command was given (0x400, 0x10000 and 0x20000 have no option).
constexpr uint32_t CMD_ANY_COMMAND = 0x307FF;

constexpr uint32_t TRANSPORT_RECOVER = 0xFF;

class CommandsClass {
  public:
    void Set(uint32_t commands) { bits |= commands; }
    bool IsSet(uint32_t commands) const { return (bits & commands) != 0; }

  private:
    uint32_t bits = 0;
};

struct Parameters {
    CommandsClass commands;
    uint32_t serial = 0;
    uint32_t router_serial = 0;
    uint32_t transport = 1;
    bool transport_given = false;
    std::string serial_port;
    uint32_t baud_rate = 115200;
    uint8_t module_address = 0;
    std::string bird_file;
    std::string log_message;
    std::string build;
    bool echo_bytes = false;
    std::string server_url = UPDATER_DEFAULT_SERVER_URL;
    bool flag_n = false;
    std::string store_directory;
    std::string program_name;
    std::string home_directory;
    std::string log_mode = "a+";
    std::string log_file = "Updater.log";
    bool override_model_check = false;
    bool uei_bytes_load = true;
    uint32_t log_mask = 0;
    bool show_extended_usage = false;
    bool show_full_usage = false;
};
