#include "ScriptStream.h"

#include <algorithm>
#include <chrono>

aStream* ScriptStream::make() {
    return aStream_Create(sGet, sPut, sWrite, sDelete, this);
}

void ScriptStream::feed(std::initializer_list<uint8_t> bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    input_.insert(input_.end(), bytes.begin(), bytes.end());
}

void ScriptStream::setSyncReply(SyncReply reply) {
    std::lock_guard<std::mutex> lock(mutex_);
    syncReply_ = reply;
}

void ScriptStream::closeGate() {
    std::lock_guard<std::mutex> lock(mutex_);
    gateClosed_ = true;
}

void ScriptStream::openGate() {
    std::lock_guard<std::mutex> lock(mutex_);
    gateClosed_ = false;
    changed_.notify_all();
}

bool ScriptStream::waitBlocked(int writes, int timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return blocked_ >= writes; });
}

std::vector<std::vector<uint8_t>> ScriptStream::writes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return writes_;
}

void ScriptStream::clearWrites() {
    std::lock_guard<std::mutex> lock(mutex_);
    writes_.clear();
}

int ScriptStream::countWrites(std::vector<uint8_t> bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    return (int)std::count(writes_.begin(), writes_.end(), bytes);
}

bool ScriptStream::waitWrite(std::vector<uint8_t> bytes, int count, int timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        return std::count(writes_.begin(), writes_.end(), bytes) >= count;
    });
}

long ScriptStream::gets() {
    std::lock_guard<std::mutex> lock(mutex_);
    return gets_;
}

bool ScriptStream::deleted() {
    std::lock_guard<std::mutex> lock(mutex_);
    return deleted_;
}

aErr ScriptStream::sGet(uint8_t* byte, void* ref) {
    ScriptStream* self = (ScriptStream*)ref;
    std::lock_guard<std::mutex> lock(self->mutex_);
    self->gets_++;
    if (self->input_.empty()) return aErrNotReady;
    *byte = self->input_.front();
    self->input_.pop_front();
    return aErrNone;
}

aErr ScriptStream::sPut(uint8_t byte, void* ref) {
    return sWrite(&byte, 1, ref);
}

aErr ScriptStream::sWrite(const uint8_t* data, size_t length, void* ref) {
    ScriptStream* self = (ScriptStream*)ref;
    std::unique_lock<std::mutex> lock(self->mutex_);
    if (self->gateClosed_) {
        self->blocked_++;
        self->changed_.notify_all();
        self->changed_.wait(lock, [&] { return !self->gateClosed_; });
    }
    self->writes_.emplace_back(data, data + length);
    // The module answers each sync packet with an empty packet from its address.
    for (size_t i = 0; i + 1 < length; i += 2) {
        if (data[i] != 0xAD || data[i + 1] != 0) break;
        self->syncCount_++;
        uint8_t address = 4;
        if (self->syncReply_ == SyncReply::None) continue;
        if (self->syncReply_ == SyncReply::Alternate && (self->syncCount_ & 1) == 0) address = 6;
        self->input_.push_back(address);
        self->input_.push_back(0);
    }
    self->changed_.notify_all();
    return aErrNone;
}

aErr ScriptStream::sDelete(void* ref) {
    ScriptStream* self = (ScriptStream*)ref;
    std::lock_guard<std::mutex> lock(self->mutex_);
    self->deleted_ = true;
    return aErrNone;
}
