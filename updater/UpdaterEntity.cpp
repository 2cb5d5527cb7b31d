#include "UpdaterEntity.h"

#include <cstring>

#include "Log.h"
#include "Module.h"
#include "SystemClass.h"
#include "aTime.h"

using Vazizori::Vuviridor::Module;
using Vazizori::Vuviridor::SystemClass;

namespace {

constexpr uint32_t kLog = DEBUG_Network_FIRM;

uint32_t sAddress(const uint8_t* block) {
    return (uint32_t)block[0] << 24 | (uint32_t)block[1] << 16 | (uint32_t)block[2] << 8 | block[3];
}

uint32_t sSum(const uint8_t* data, uint32_t length) {
    uint32_t sum = 0;
    for (uint32_t i = 0; i < length; i++)
        sum += data[i];
    return sum;
}

// A TCP stream notices that the module closed its end only when a write meets
// the closed connection (and then quietly reconnects when the module listens
// again), so a wait for the link to drop writes a harmless query now and then.
void sProbe(Module* module) {
    Vazizori::Vuviridor::Link* link = module->getLink();
    const uint8_t build = 0xFF;
    if (link && module->isConnected())
        link->sendPacket(module->getModuleAddress(), cmdINFO, 1, &build);
}

} // namespace

bool UpdaterEntity::AwaitLinkDrop(Module& module, uint32_t max_ms) {
    const uint64_t deadline = aTime_GetMSTicks() + max_ms;
    while (module.isConnected() && aTime_GetMSTicks() < deadline) {
        aTime_MSSleep(UPGRADE_REBOOT_ROUND_MS);
        sProbe(&module);
    }
    return !module.isConnected();
}

void UpdaterEntity::init(Module* module_, uint8_t index, bool validate_sums_,
                         bool no_wait_for_drop_) {
    EntityClass::init(module_, cmdUPGRADE, index);
    module = module_;
    validate_sums = validate_sums_;
    no_wait_for_drop = no_wait_for_drop_;
    uei_data = false;
    round_trips = 0;
}

aErr UpdaterEntity::_await(uint8_t option, size_t& length, uint8_t* reply) {
    const uint8_t match[2] = {cmdUPGRADE, option};
    length = sizeof(match);
    round_trips++;
    return receivePacket(match, &length, reply);
}

aErr UpdaterEntity::LoaderInit() {
    Log::log(kLog, "NETWORK: Loader Initialization {cmdUPGRADE, val_UPGRADE_INIT}\n");
    const uint8_t request[] = {val_UPGRADE_INIT};
    aErr error = sendPacket(cmdUPGRADE, sizeof(request), request);
    if (error != aErrNone) {
        Log::log(kLog, "NETWORK: Error sending UPGRADE_INIT (%d)\n", error);
        return error;
    }
    uint8_t reply[aPACKET_MAXDATA];
    size_t length = 0;
    if ((error = _await(val_UPGRADE_INIT, length, reply)) != aErrNone) return error;
    if (length < 6) return aErrPacket;
    uint32_t base = sAddress(reply + 2);
    Log::log(kLog, "NETWORK: load base = %d [%08X]\n", (int)base, base);
    return aErrNone;
}

aErr UpdaterEntity::TransferPrepare(const uint8_t* block, uint32_t length, uint8_t flags,
                                    uint16_t& chunk_size) {
    if (block == nullptr || length < 4) return aErrParam;
    Log::log(kLog, "NETWORK: TransferPrepare(..., %d, %02X, %d)\n", (int)length, flags, chunk_size);
    Log::log(kLog,
             "NETWORK: TransferPrepare {cmdUPGRADE, val_UPGRADE_PREPARE, %02X, [%02X %02X %02X "
             "%02X]} \n",
             flags, block[0], block[1], block[2], block[3]);
    Log::log(kLog, "NETWORK: Address: %d\n", (int)sAddress(block));
    const uint8_t request[] = {val_UPGRADE_PREPARE, flags, block[0], block[1], block[2], block[3]};
    aErr error = sendPacket(cmdUPGRADE, sizeof(request), request);
    if (error != aErrNone) {
        Log::log(kLog, "NETWORK: Error sending UPGRADE_PREPARE (%d)\n", error);
        return error;
    }
    uint8_t reply[aPACKET_MAXDATA];
    size_t replyLength = 0;
    if ((error = _await(val_UPGRADE_STATUS, replyLength, reply)) != aErrNone) return error;
    // A reply too short to carry status and chunk size is no acceptance.
    if (replyLength < 5 || reply[2] != 0) {
        Log::log(kLog, "NETWORK: Invalid or error reply when initializing loader for firmware.\n");
        return aErrInvalidOption;
    }
    chunk_size = (uint16_t)(reply[3] << 8 | reply[4]);
    Log::log(kLog, "NETWORK: Loader validated firmware init [%d block size]\n", chunk_size);
    return aErrNone;
}

aErr UpdaterEntity::LoaderStart() {
    Log::log(kLog, "NETWORK: Loader Start {cmdUPGRADE, val_UPGRADE_LOAD}\n");
    const uint8_t request[] = {val_UPGRADE_LOAD};
    aErr error = sendPacket(cmdUPGRADE, sizeof(request), request);
    if (error != aErrNone) {
        Log::log(kLog, "NETWORK: Error sending UPGRADE_LOAD (%d)\n", error);
        return error;
    }
    uint8_t reply[aPACKET_MAXDATA];
    size_t length = 0;
    if (_await(val_UPGRADE_LOAD, length, reply) == aErrNone) {
        Log::log(kLog, "NETWORK: Loader validated start\n");
        return aErrNone;
    }
    if ((error = _reconnect(500)) != aErrNone) {
        Log::log(kLog, "NETWORK: Invalid or reply when starting loader. [%d, %s]\n", error,
                 aError_GetErrorText(error));
        return aErrTimeout;
    }
    if ((error = _await(val_UPGRADE_LOAD, length, reply)) == aErrNone) {
        Log::log(kLog, "NETWORK: Loader validated start (Reconnect)\n");
        return aErrNone;
    }
    Log::log(kLog, "NETWORK: Invalid or reply when starting loader (Reconnect). [%d, %s]\n", error,
             aError_GetErrorText(error));
    return aErrTimeout;
}

aErr UpdaterEntity::CheckUEIDataSupport() {
    aErr answer = module ? module->hasUEI(cmdUPGRADE, val_UPGRADE_DATA_UEI, 0, 0x80) : aErrResource;
    round_trips++;
    Log::log(kLog, "NETWORK: CheckUEIDataSupport: Error: %d\n", answer);
    if (answer == aErrNone) uei_data = true;
    return answer;
}

aErr UpdaterEntity::CheckPooledPacketsSupport() {
    if (module == nullptr) return aErrResource;
    SystemClass system;
    system.init(module, 0);
    uint32_t features = 0;
    aErr error = system.getProtocolFeatures(&features);
    round_trips++;
    Log::log(kLog, "NETWORK: Protocol Version: %d Error: %d\n", (int32_t)features, error);
    if (error == aErrNone && (features & 0x80000000u)) {
        Vazizori::Vuviridor::Link* link = module->getLink();
        error = link ? link->enablePooledPackets(true) : aErrConnection;
    }
    return error;
}

aErr UpdaterEntity::_block_transfer_uei_helper(const uint8_t* data, uint32_t length,
                                               uint32_t& packets, uint32_t& sum) {
    Log::log(kLog, "\nNETWORK: Block Transfer {cmdUPGRADE, val_UPGRADE_DATA_UEI, %d} \n",
             (int)length);
    uei record = {};
    record.type = ueiBytes;
    record.value.bytes.data = data;
    record.value.bytes.length = length;
    round_trips++;
    aErr error = setUEI(val_UPGRADE_DATA_UEI, &record);
    if (error != aErrNone) {
        Log::log(kLog, "\nNETWORK: Error sending UPGRADE_DATA_UEI (%d)\n", error);
        return error;
    }
    sum = sSum(data, length);
    packets = 1;
    Log::log(kLog, "\nNETWORK: accepted %d bytes \n", (int)length);
    return aErrNone;
}

aErr UpdaterEntity::_block_transfer(const uint8_t* data, uint32_t length, uint32_t& packets) {
    Log::log(kLog, "\nNETWORK: Block Transfer\n");
    uint32_t sum = 0;
    uint32_t sent = 0;
    aErr error = aErrNone;
    if (uei_data) {
        error = _block_transfer_uei_helper(data, length, packets, sum);
        if (error != aErrNone) return error;
        sent = length;
    } else {
        unsigned resends = 0;
        while (sent < length) {
            uint32_t piece =
                length - sent < UPGRADE_DATA_PIECE ? length - sent : UPGRADE_DATA_PIECE;
            Log::log(kLog, "\nNETWORK: Block Transfer {cmdUPGRADE, val_UPGRADE_DATA, %d} \n",
                     (int)piece);
            uint8_t request[1 + UPGRADE_DATA_PIECE];
            request[0] = val_UPGRADE_DATA;
            memcpy(request + 1, data + sent, piece);
            error = sendPacket(cmdUPGRADE, 1 + piece, request);
            if (error != aErrNone) {
                Log::log(kLog, "\nNETWORK: Error sending UPGRADE_DATA (%d)\n", error);
                return error;
            }
            uint8_t reply[aPACKET_MAXDATA];
            size_t replyLength = 0;
            if (_await(val_UPGRADE_DATA, replyLength, reply) != aErrNone) {
                Log::log(kLog, "\nNETWORK(DATA): No reply when initializing upgrade.\n");
                error = aErrPacket;
                break;
            }
            uint8_t taken = replyLength >= 3 ? reply[2] : 0;
            if (replyLength >= 3 && taken == piece) {
                sum += sSum(data + sent, piece);
                sent += piece;
                packets++;
                resends = 0;
                Log::log(kLog, "\nNETWORK: accepted %d more bytes (%d of %d remaining)\n",
                         (int)piece, (int)(length - sent), (int)length);
                continue;
            }
            Log::log(kLog, "\nNETWORK: Invalid upgrade transfer response [%d != %d].\n", taken,
                     (int)piece);
            // A module that keeps miscounting would have the piece go forever.
            if (++resends > UPGRADE_DATA_RESENDS) {
                Log::log(0, "\nNETWORK: Giving up on a data piece after %d wrong byte counts.\n",
                         UPGRADE_DATA_RESENDS + 1);
                error = aErrPacket;
                break;
            }
        }
    }
    Log::log(kLog, "\nNETWORK: transferred %d of %d bytes\n", (int)sent, (int)length);
    if (error != aErrNone || !validate_sums) return error;

    Log::log(kLog, "\nNETWORK: Block Transfer Validation {cmdUPGRADE, val_UPGRADE_SUM}\n");
    const uint8_t request[] = {val_UPGRADE_SUM};
    sendPacket(cmdUPGRADE, sizeof(request), request);
    uint8_t reply[aPACKET_MAXDATA];
    size_t replyLength = 0;
    if (_await(val_UPGRADE_STATUS, replyLength, reply) != aErrNone) {
        Log::log(kLog, "\nNETWORK(STATUS): No reply when initializing upgrade.\n");
        return aErrPacket;
    }
    uint8_t status = replyLength >= 3 ? reply[2] : 0xFF;
    uint32_t moduleSum = replyLength >= 7 ? sAddress(reply + 3) : ~sum;
    if (status == 0 && moduleSum == sum) {
        Log::log(kLog, "\nNETWORK: Validate transfer [%02X] [%08X == %08X][%d blocks].\n", status,
                 sum, moduleSum, (int)packets);
        return aErrNone;
    }
    Log::log(0, "\nNETWORK: Unable to validate transfer [%02X] [%08X != %08X].\n", status, sum,
             moduleSum);
    return aErrInvalidOption;
}

aErr UpdaterEntity::LoaderTransfer(const uint8_t* block, uint32_t length) {
    if (block == nullptr || length < 4) return aErrParam;
    Log::log(kLog, "NETWORK: Loader Transfer (addr=%08X, len=%d)\n", sAddress(block),
             (int)(length - 4));
    uint32_t packets = 0;
    return _block_transfer(block + 4, length - 4, packets);
}

aErr UpdaterEntity::FirmwareTransfer(const uint8_t* block, uint32_t length, uint16_t chunk_size,
                                     UpdaterDisplayInterface& display) {
    if (block == nullptr || length < 4) return aErrParam;
    Log::log(kLog, "NETWORK: Firmware Transfer (addr=%08X, len=%d)\n", sAddress(block),
             (int)(length - 4));
    // Chunks of no bytes would never finish the block.
    if (chunk_size == 0 && length > 4) {
        Log::log(0, "NETWORK: Module announced a chunk size of 0; firmware not sent\n");
        return aErrRange;
    }
    const uint8_t* image = block + 4;
    uint32_t left = length - 4;
    uint32_t packets = 0;
    aErr error = aErrNone;
    display.display_progress(true);
    while (left > 0 && error == aErrNone) {
        uint32_t chunk = left < chunk_size ? left : chunk_size;
        error = _block_transfer(image, chunk, packets);
        if (error != aErrNone) break;
        left -= chunk;
        image += chunk;
        packets++;
        display.update_progress((double)(length - left) / (double)length, nullptr);
        Log::log(kLog, "\nNETWORK: accepted %d more bytes (%d of %d remaining)\n", (int)chunk,
                 (int)left, (int)length);
        error = FirmwareWrite(chunk);
    }
    display.display_progress(false);
    Log::log(kLog, "NETWORK: transferred %d of %d bytes\n", (int)(length - left), (int)length);
    if (error != aErrNone) Log::log(0, "NETWORK: Failed to transfer firmware\n");
    return error;
}

aErr UpdaterEntity::FirmwareWrite(uint32_t count) {
    Log::log(kLog, "NETWORK: Firmware Write {cmdUPGRADE, val_UPGRADE_WRITE, %d}\n\n", (int)count);
    const uint8_t request[] = {val_UPGRADE_WRITE, (uint8_t)(count >> 8), (uint8_t)count};
    aErr error = sendPacket(cmdUPGRADE, sizeof(request), request);
    if (error != aErrNone) {
        Log::log(kLog, "NETWORK: Error sending UPGRADE_WRITE (%d, %s)\n", error,
                 aError_GetErrorText(error));
        return error;
    }
    uint8_t reply[aPACKET_MAXDATA];
    size_t length = 0;
    error = _await(val_UPGRADE_STATUS, length, reply);
    uint8_t status = length >= 3 ? reply[2] : 0xFF;
    if (error != aErrNone || status != 0) {
        Log::log(kLog, "NETWORK: invalid or error reply when loader writing firmware.\n\n");
        return aErrInvalidOption;
    }
    Log::log(kLog, "NETWORK: Loader validated write\n\n");
    return aErrNone;
}

aErr UpdaterEntity::LoaderReboot(UpdaterDisplayInterface& display) {
    Log::log(kLog, "NETWORK: LoaderReboot {cmdUPGRADE, val_UPGRADE_REBOOT}\n");
    const uint8_t request[] = {val_UPGRADE_REBOOT};
    aErr result = sendPacket(cmdUPGRADE, sizeof(request), request);
    if (result != aErrNone) Log::log(kLog, "NETWORK: Error sending Loader REBOOT\n");
    // The end of the reboot is the link dropping; a module that never lets go
    // must not hold the tool forever.
    const uint64_t deadline = aTime_GetMSTicks() + UPGRADE_REBOOT_WAIT_MS;
    while (module && module->isConnected()) {
        if (aTime_GetMSTicks() >= deadline) {
            Log::log(0, "NETWORK: Link did not drop within %d ms of the reboot request\n",
                     UPGRADE_REBOOT_WAIT_MS);
            if (result == aErrNone) result = aErrTimeout;
            break;
        }
        aTime_MSSleep(UPGRADE_REBOOT_ROUND_MS);
        display.update_spinner(true, "Verifying Update");
        Log::log(kLog, "Waiting for link to drop.\n");
        Log::log(kLog, "Rebooting Device\n");
        if (no_wait_for_drop) break;
        sProbe(module);
    }
    display.update_spinner(false, "Verifying Update");
    return result;
}

aErr UpdaterEntity::_reconnect_as_before(uint32_t delay_ms) {
    module->disconnect();
    aErr error = aErrNotFound;
    for (int attempt = 1; attempt <= UPGRADE_RECONNECT_TRIES; attempt++) {
        Log::log(DEBUG_Network, "NETWORK: Attempting to reconnect. Attempt: %d of %d\n", attempt,
                 UPGRADE_RECONNECT_TRIES);
        if ((error = module->reconnect()) == aErrNone) {
            Log::log(DEBUG_Network, "NETWORK: Reconnected to device\n");
            return aErrNone;
        }
        // A half-made link would refuse the next attempt.
        module->disconnect();
        Log::log(DEBUG_Network, "NETWORK: Couldn't reconnect to device delaying: %d ms\n",
                 (int)delay_ms);
        aTime_MSSleep(delay_ms);
    }
    return error;
}

aErr UpdaterEntity::_reconnect(uint32_t delay_ms) {
    if (module == nullptr) return aErrResource;
    aErr error = _reconnect_as_before(delay_ms);
    if (error == aErrNone) return error;
    for (int attempt = 1; attempt <= UPGRADE_RECONNECT_TRIES; attempt++) {
        Log::log(DEBUG_Network, "NETWORK: Attempting to reconnect DEFAULT sn. Attempt: %d of %d\n",
                 attempt, UPGRADE_RECONNECT_TRIES);
        if ((error = module->connect(USB, UPGRADE_DEFAULT_SERIAL)) == aErrNone) {
            Log::log(DEBUG_Network, "NETWORK: Reconnected to device\n");
            return aErrNone;
        }
        Log::log(DEBUG_Network, "NETWORK: Couldn't reconnect to device delaying: %d ms\n",
                 (int)delay_ms);
        aTime_MSSleep(delay_ms);
    }
    return error;
}

aErr UpdaterEntity::RestoreLink() {
    if (module == nullptr) return aErrResource;
    uint32_t status = module->getStatus();
    // A module behind a router shares the router's link; that is not ours to remake.
    if (status == aLINK_RUNNING || no_wait_for_drop) return aErrNone;
    Log::log(kLog, "NETWORK: Link down (status %u); reconnecting before the retry\n", status);
    return _reconnect_as_before(500);
}
