// Typed UEI access to one entity of a module.
#include "Entity.h"

namespace Vazizori {
namespace Vuviridor {

struct EntityClass::impl {
    explicit impl(EntityClass& owner_) : owner(owner_) {}
    Link* link() const { return module ? module->getLink() : nullptr; }
    uint8_t address() const { return module->getModuleAddress(); }
    // Fills the addressing fields of a request record.
    void address(uei* record, uint8_t option, uint8_t index_) const {
        record->module = address();
        record->command = entityClass;
        record->option = option;
        record->specifier = index_;
    }
    aErr exchange(uei* record, uint8_t option, uint8_t replyOption, const uint8_t* subindex);

    EntityClass& owner;
    Module* module = nullptr;
    uint8_t entityClass = 0;
    uint8_t index = 0;
};

namespace {
bool sErrorReply(const uei& record) {
    return (record.specifier & aUEI_ERROR) != 0;
}
} // namespace

// Sends the request in *record (type and value set by the caller) and waits for
// the reply keyed by replyOption; the reply is decoded into *record.
aErr EntityClass::impl::exchange(uei* record, uint8_t option, uint8_t replyOption,
                                 const uint8_t* subindex) {
    Link* l = link();
    if (l == nullptr) return aErrResource;
    address(record, option, index | aUEI_REQUEST);
    aErr error = subindex ? l->sendUEI(*record, *subindex) : l->sendUEI(*record);
    if (error != aErrNone) return error;
    // A get reply brings its own type; one without a value must not leave the
    // request's subindex looking like a value.
    if (option & aUEI_GET) record->type = ueiVoid;
    address(record, replyOption, index);
    error = l->receiveUEI(record->module, entityClass, replyOption, index, record);
    if (error != aErrNone) return error;
    return sErrorReply(*record) ? static_cast<aErr>(record->value.error) : aErrNone;
}

EntityClass::EntityClass() : state(new impl(*this)) {}

EntityClass::~EntityClass() {
    delete state;
}

void EntityClass::init(Module* module, uint8_t entityClass, uint8_t index) {
    state->module = module;
    state->entityClass = entityClass;
    state->index = index;
}

uint8_t EntityClass::getIndex() const {
    return state->index;
}

aErr EntityClass::sendPacket(uint8_t command, size_t length, const uint8_t* data) {
    Link* l = state->link();
    if (l == nullptr) return aErrResource;
    return l->sendPacket(state->address(), command, length, data);
}

aErr EntityClass::receivePacket(const uint8_t* match, size_t* length, uint8_t* buffer) {
    Link* l = state->link();
    if (l == nullptr) return aErrResource;
    return l->receivePacket(state->address(), match, length, buffer);
}

aErr EntityClass::getUEI(uint8_t option, uei* value) {
    if (value == nullptr) return aErrParam;
    if (state->link() == nullptr) return aErrResource;
    return state->exchange(value, option | aUEI_GET, option, nullptr);
}

aErr EntityClass::setUEI(uint8_t option, uei* value) {
    if (value == nullptr) return aErrParam;
    return state->exchange(value, option | aUEI_SET, option | aUEI_SET_REPLY, nullptr);
}

aErr EntityClass::setUEI(uint8_t option, uint8_t subindex, uei* value) {
    if (value == nullptr) return aErrParam;
    return state->exchange(value, option | aUEI_SET, option | aUEI_SET_REPLY, &subindex);
}

aErr EntityClass::callUEI(uint8_t option) {
    uei record = {};
    record.type = ueiVoid;
    return setUEI(option, &record);
}

aErr EntityClass::setScalar(uint8_t option, int32_t type, uint32_t value, const uint8_t* subindex) {
    uei record = {};
    record.type = type;
    if (type == ueiByte)
        record.value.byteVal = static_cast<uint8_t>(value);
    else if (type == ueiShort)
        record.value.shortVal = static_cast<uint16_t>(value);
    else
        record.value.intVal = value;
    return subindex ? setUEI(option, *subindex, &record) : setUEI(option, &record);
}

aErr EntityClass::setUEI8(uint8_t option, uint8_t value) {
    return setScalar(option, ueiByte, value, nullptr);
}
aErr EntityClass::setUEI16(uint8_t option, uint16_t value) {
    return setScalar(option, ueiShort, value, nullptr);
}
aErr EntityClass::setUEI32(uint8_t option, uint32_t value) {
    return setScalar(option, ueiInt, value, nullptr);
}
aErr EntityClass::setUEI8(uint8_t option, uint8_t subindex, uint8_t value) {
    return setScalar(option, ueiByte, value, &subindex);
}
aErr EntityClass::setUEI16(uint8_t option, uint8_t subindex, uint16_t value) {
    return setScalar(option, ueiShort, value, &subindex);
}
aErr EntityClass::setUEI32(uint8_t option, uint8_t subindex, uint32_t value) {
    return setScalar(option, ueiInt, value, &subindex);
}

aErr EntityClass::setUEIBytes(uint8_t option, const uint8_t* data, size_t length) {
    if (data == nullptr && length > 0) return aErrParam;
    uei record = {};
    record.type = ueiBytes;
    record.value.bytes.data = data;
    record.value.bytes.length = length;
    return setUEI(option, &record);
}

template <typename T> aErr EntityClass::getScalar(uint8_t option, const uei& request, T* value) {
    if (value == nullptr) return aErrParam;
    uei record = request;
    aErr error = getUEI(option, &record);
    if (error != aErrNone && error != aErrStreamStale) return error;
    switch (record.type) {
    case ueiByte:
        *value = static_cast<T>(record.value.byteVal);
        break;
    case ueiShort:
        *value = static_cast<T>(record.value.shortVal);
        break;
    case ueiInt:
        *value = static_cast<T>(record.value.intVal);
        break;
    default:
        // A reply without a value of its own carries nothing to store.
        return aErrSize;
    }
    return error;
}

namespace {
uei sGetRecord() {
    uei record = {};
    record.type = ueiVoid;
    return record;
}
uei sGetRecord(uint8_t subindex) {
    uei record = {};
    record.type = ueiByte;
    record.value.byteVal = subindex;
    return record;
}
} // namespace

aErr EntityClass::getUEI8(uint8_t option, uint8_t* value) {
    return getScalar(option, sGetRecord(), value);
}
aErr EntityClass::getUEI16(uint8_t option, uint16_t* value) {
    return getScalar(option, sGetRecord(), value);
}
aErr EntityClass::getUEI32(uint8_t option, uint32_t* value) {
    return getScalar(option, sGetRecord(), value);
}
aErr EntityClass::getUEI8(uint8_t option, uint8_t subindex, uint8_t* value) {
    return getScalar(option, sGetRecord(subindex), value);
}
aErr EntityClass::getUEI16(uint8_t option, uint8_t subindex, uint16_t* value) {
    return getScalar(option, sGetRecord(subindex), value);
}
aErr EntityClass::getUEI32(uint8_t option, uint8_t subindex, uint32_t* value) {
    return getScalar(option, sGetRecord(subindex), value);
}

aErr EntityClass::awaitUEI32Val(uint8_t option, uint32_t* value, uint32_t) {
    if (value == nullptr) return aErrParam;
    Link* l = state->link();
    if (l == nullptr) return aErrResource;
    uei record = {};
    state->address(&record, option, state->index);
    aErr error = l->receiveUEI(record.module, state->entityClass, option, state->index, &record);
    if (error != aErrNone) return error;
    if (sErrorReply(record)) return record.value.error;
    *value = record.value.intVal;
    return aErrNone;
}

aErr EntityClass::drainUEI(uint8_t option) {
    Link* l = state->link();
    if (l == nullptr) return aErrResource;
    return l->dropMatchingUEIPackets(state->address(), state->entityClass, option, state->index);
}

aErr EntityClass::getUEIBytes(uint8_t option, uint8_t* buffer, size_t bufferLength,
                              size_t* received) {
    if (buffer == nullptr || received == nullptr || bufferLength == 0) return aErrParam;
    *received = 0;
    Link* l = state->link();
    if (l == nullptr) return aErrResource;
    uei request = {};
    request.type = ueiVoid;
    state->address(&request, option | aUEI_GET, state->index | aUEI_REQUEST);
    aErr error = l->sendUEI(request);
    if (error != aErrNone) return error;

    uint64_t count = 0;
    uei key = {};
    key.type = ueiVoid; // the receiver arrangement is not a byte string to send
    state->address(&key, option, state->index);
    key.value.receiver.writePtr = buffer;
    key.value.receiver.sequence = 0;
    key.value.receiver.continueFlag = 0;
    key.value.receiver.capacity = bufferLength;
    key.value.receiver.count = &count;
    for (;;) {
        error = l->receiveUEI(key.module, state->entityClass, option, state->index, &key,
                              aUEI_BytesReplyFilter);
        *received = static_cast<size_t>(count);
        if (error != aErrNone) return error;
        if (sErrorReply(key)) return key.value.error;
        if (!key.value.receiver.continueFlag) return aErrNone;
        key.value.receiver.sequence = (key.value.receiver.sequence + 1) & aUEI_BYTES_SEQMASK;
    }
}

uint8_t EntityClass::getUEIBytesSequence(const aPacket* packet) {
    return aUEI_getBytesSequence(packet);
}

uint8_t EntityClass::getUEIBytesContinue(const aPacket* packet) {
    return aUEI_getBytesContinue(packet);
}

aErr EntityClass::getUEIBytesCheck(size_t* count, size_t unit) {
    if (count == nullptr || unit == 0) return aErrParam;
    if (*count % unit != 0) return aErrMemory;
    *count /= unit;
    return aErrNone;
}

} // namespace Vuviridor
} // namespace Vazizori
