#include "CommandLine.h"

#include <cstring>

#include "Log.h"
#include "OptionScanner.h"

namespace {

enum { GROUP_HELP = 0, GROUP_COMMAND = 1, GROUP_PARAMETER = 2 };

const OptionEntry sOptions[] = {
    {"-B", GROUP_COMMAND, false},        {"-L", GROUP_COMMAND, false},
    {"-D", GROUP_COMMAND, false},        {"-G", GROUP_COMMAND, false},
    {"-I", GROUP_COMMAND, false},        {"-U", GROUP_COMMAND, false},
    {"-OVERRIDE", GROUP_COMMAND, false}, {"-N", GROUP_COMMAND, false},
    {"-Y", GROUP_COMMAND, false},        {"-C", GROUP_COMMAND, false},
    {"-J", GROUP_COMMAND, false},        {"-h", GROUP_HELP, false},
    {"-H", GROUP_HELP, false},           {"-n", GROUP_PARAMETER, false},
    {"-X", GROUP_PARAMETER, true},       {"-Z", GROUP_PARAMETER, true},
    {"-m", GROUP_PARAMETER, true},       {"-i", GROUP_PARAMETER, true},
    {"-b", GROUP_PARAMETER, true},       {"-d", GROUP_PARAMETER, true},
    {"-t", GROUP_PARAMETER, true},       {"-f", GROUP_PARAMETER, true},
    {"-r", GROUP_PARAMETER, true},       {"-s", GROUP_PARAMETER, true},
    {"-o", GROUP_PARAMETER, true},       {"-e", GROUP_PARAMETER, false},
    {"-l", GROUP_PARAMETER, true},       {"-k", GROUP_PARAMETER, true},
    {"-u", GROUP_PARAMETER, true},       {"--help", GROUP_HELP, false},
};
static_assert(sizeof(sOptions) / sizeof(sOptions[0]) == 30);

uint32_t sDigits(const char* text, char** end, const char* digits, uint32_t base) {
    if (!end || !text) return 0;
    uint32_t value = 0;
    const char* p = text;
    for (; *p; ++p) {
        const char* at = strchr(digits, *p);
        if (!at) return 0;
        uint32_t digit = static_cast<uint32_t>(at - digits);
        if (digit >= 16) digit -= 6;  // lower-case hex letters follow the upper-case ones
        value = value * base + digit; // wraps: the value is kept to 32 bits
    }
    *end = const_cast<char*>(p);
    return value;
}

bool sHasHexPrefix(const char* text) {
    return text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
}

// Parses "-X": base 16 after "0x", else base 10; returns where the digits stop.
const char* sParseMask(const char* text, uint32_t* mask) {
    uint32_t base = 10;
    if (sHasHexPrefix(text)) {
        base = 16;
        text += 2;
    }
    uint32_t value = 0;
    for (;; ++text) {
        uint32_t digit;
        const char c = *text;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            break;
        value = value * base + digit;
    }
    *mask = value;
    return text;
}

void sHandleCommand(UpdaterDisplayInterface& display, const char* option, Parameters* params,
                    int* errors) {
    switch (option[1]) {
    case 'B':
        params->commands.Set(CMD_LIST_BUILDS);
        break;
    case 'C':
        params->commands.Set(CMD_CHECK_BIRD);
        break;
    case 'D':
        params->commands.Set(CMD_DISCOVER);
        break;
    case 'G':
        params->commands.Set(CMD_GET_FIRMWARE);
        break;
    case 'I':
        params->commands.Set(CMD_DEVICE_INFO);
        break;
    case 'J':
        params->commands.Set(CMD_GET_JWT);
        break;
    case 'L':
        params->commands.Set(CMD_LIST_LOCAL_BUILDS);
        break;
    case 'N':
        params->commands.Set(CMD_FINGERPRINT);
        break;
    case 'O':
        params->override_model_check = true;
        break;
    case 'U':
        params->commands.Set(CMD_UPDATE);
        break;
    default:
        display.message(UpdaterDisplayInterface::LEVEL_ERROR, "Unhandled command: [%s]", option);
        ++*errors;
        break;
    }
}

void sHandleParameter(UpdaterDisplayInterface& display, const char* option, const char* value,
                      Parameters* params, int* errors) {
    char* end = nullptr;
    switch (option[1]) {
    case 'X': {
        params->show_extended_usage = true;
        const char* rest = sParseMask(value, &params->log_mask);
        if (*rest)
            display.message(UpdaterDisplayInterface::LEVEL_ERROR,
                            "Invalid format for \"%s\" parameter, unprocessed characters [%s]",
                            option, rest);
        else
            Log::ActivatePackage(params->log_mask);
        break;
    }
    case 'Z':
        params->commands.Set(CMD_OPTION_Z);
        break;
    case 'm':
        params->uei_bytes_load = value[0] == '1' || strncmp(value, "true", 4) == 0;
        break;
    case 'i':
        params->store_directory = value;
        break;
    case 'b':
        params->build = std::to_string(_get_int_arg(value, &end));
        break;
    case 'd':
        if (sHasHexPrefix(value)) {
            value += 2;
            Log::log(DEBUG_Updater, "Discarding '0x' serial number prefix\n");
        }
        params->serial = _get_hex_arg(value, &end);
        if (params->serial == 0) {
            display.message(UpdaterDisplayInterface::LEVEL_ERROR,
                            "Invalid serial number obtained from argument [%s]", value);
            ++*errors;
        }
        break;
    case 't':
        params->transport_given = true;
        if (strncmp(value, "USB", 3) == 0)
            params->transport = 1;
        else if (strncmp(value, "TCP", 3) == 0)
            params->transport = 2;
        else if (strncmp(value, "RECOVER", 7) == 0)
            params->transport = TRANSPORT_RECOVER;
        else {
            display.message(UpdaterDisplayInterface::LEVEL_ERROR,
                            "Invalid transport type:[%s]\nMust be one of the following: USB, "
                            "TCPIP, RECOVER",
                            value);
            params->transport = 0;
            ++*errors;
        }
        break;
    case 'f':
        params->bird_file = value;
        break;
    case 'r':
        if (sHasHexPrefix(value)) {
            value += 2;
            Log::log(DEBUG_Updater, "Discarding '0x' router serial number prefix\n");
        }
        params->router_serial = _get_hex_arg(value, &end);
        if (params->router_serial == 0) {
            display.message(UpdaterDisplayInterface::LEVEL_ERROR,
                            "Invalid router serial number obtained from argument [%s]", value);
            ++*errors;
        }
        break;
    case 's':
        params->serial_port = value;
        break;
    case 'o':
        params->baud_rate = _get_int_arg(value, &end);
        break;
    case 'e':
        params->echo_bytes = true;
        break;
    case 'l':
        params->log_message = value;
        break;
    case 'k':
        params->log_file = value;
        break;
    case 'u':
        params->server_url = value;
        break;
    case 'n':
        params->flag_n = true;
        break;
    }
}

} // namespace

uint32_t _get_hex_arg(const char* text, char** end) {
    return sDigits(text, end, "0123456789ABCDEFabcdef", 16);
}

uint32_t _get_int_arg(const char* text, char** end) {
    return sDigits(text, end, "0123456789", 10);
}

int _validate_params(Parameters*) {
    return 0;
}

int _get_params(UpdaterDisplayInterface& display, int argc, char** argv, Parameters* params) {
    *params = Parameters{};
    if (argc > 0 && argv && argv[0]) {
        const char* name = argv[0];
        for (const char* p = argv[0]; *p; ++p)
            if (*p == '/' || *p == '\\') name = p + 1;
        params->program_name = name;
    }

    int errors = 0;
    OptionScanner scanner(argc, argv, sOptions, sizeof(sOptions) / sizeof(sOptions[0]));
    ScanItem item;
    while (scanner.Next(item)) {
        // Unknown options, ambiguous prefixes and misplaced values are dropped silently.
        if (item.result != ScanResult::Found) continue;
        const OptionEntry& entry = sOptions[item.index];
        switch (entry.group) {
        case GROUP_HELP:
            params->commands.Set(CMD_HELP);
            params->show_full_usage = true;
            return 0;
        case GROUP_COMMAND:
            sHandleCommand(display, entry.text, params, &errors);
            break;
        default:
            sHandleParameter(display, entry.text, item.value ? item.value : "", params, &errors);
            break;
        }
    }

    Log::log(DEBUG_APP, "\nApplication parameters:[%s]\n", params->program_name.c_str());
    for (int i = 0; i < argc && argv; ++i)
        Log::log(DEBUG_APP, "\t[%s]\n", argv[i] ? argv[i] : "");
    if (errors) return 1;
    return _validate_params(params);
}
