// An in-memory transport behind a real aStream: the test feeds the bytes the
// "module" sends and sees every write the link makes. Its get never waits, the
// worst case for a reader loop.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "aStream.h"

class ScriptStream {
  public:
    enum class SyncReply { None, Address4, Alternate };

    // The returned stream belongs to whoever destroys it (the link); this
    // object must outlive it.
    aStream* make();
    void feed(std::initializer_list<uint8_t> bytes);
    void setSyncReply(SyncReply reply);
    // Holds the next write until openGate.
    void closeGate();
    void openGate();
    bool waitBlocked(int writes, int timeoutMs);

    std::vector<std::vector<uint8_t>> writes();
    void clearWrites();
    // Number of writes equal to these bytes.
    int countWrites(std::vector<uint8_t> bytes);
    bool waitWrite(std::vector<uint8_t> bytes, int count, int timeoutMs);
    long gets();
    bool deleted();

  private:
    static aErr sGet(uint8_t* byte, void* ref);
    static aErr sPut(uint8_t byte, void* ref);
    static aErr sWrite(const uint8_t* data, size_t length, void* ref);
    static aErr sDelete(void* ref);

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<uint8_t> input_;
    std::vector<std::vector<uint8_t>> writes_;
    SyncReply syncReply_ = SyncReply::Address4;
    unsigned syncCount_ = 0;
    bool gateClosed_ = false;
    int blocked_ = 0;
    long gets_ = 0;
    bool deleted_ = false;
};
