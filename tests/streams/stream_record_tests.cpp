// The generic stream record over a scripted transport: push-back, records,
// block writes and flushing.
#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "aStream.h"

namespace {

// A transport that plays a script: bytes, then a result for the empty case.
struct Script {
    std::deque<uint8_t> bytes;
    aErr whenEmpty = aErrNotReady;
    std::vector<uint8_t> written;
    int writes = 0, puts = 0;
    int deletes = 0;
    aErr deleteResult = aErrNone;

    void add(const std::string& text) { bytes.insert(bytes.end(), text.begin(), text.end()); }
};

aErr sGet(uint8_t* byte, void* ref) {
    auto* s = static_cast<Script*>(ref);
    if (s->bytes.empty()) return s->whenEmpty;
    *byte = s->bytes.front();
    s->bytes.pop_front();
    return aErrNone;
}
aErr sPut(uint8_t byte, void* ref) {
    auto* s = static_cast<Script*>(ref);
    s->puts++;
    if (byte == 0xEE) return aErrIO;
    s->written.push_back(byte);
    return aErrNone;
}
aErr sWrite(const uint8_t* data, size_t length, void* ref) {
    auto* s = static_cast<Script*>(ref);
    s->writes++;
    s->written.insert(s->written.end(), data, data + length);
    return aErrNone;
}
aErr sDelete(void* ref) {
    auto* s = static_cast<Script*>(ref);
    s->deletes++;
    return s->deleteResult;
}

struct StreamRecord : ::testing::Test {
    Script script;
    aStream* stream = nullptr;
    void SetUp() override { stream = aStream_Create(sGet, sPut, sWrite, sDelete, &script); }
    void TearDown() override {
        if (stream) aStream_Destroy(&stream);
    }
    std::string read(size_t n, aErr expect = aErrNone) {
        std::string out(n, '\0');
        EXPECT_EQ(aStream_Read(stream, reinterpret_cast<uint8_t*>(out.data()), n), expect);
        return out;
    }
};

} // namespace

TEST_F(StreamRecord, ShortReadIsKeptForTheNextRead) {
    script.add("AB");
    uint8_t out[3] = {'x', 'x', 'x'};
    EXPECT_EQ(aStream_Read(stream, out, 3), aErrNotReady);
    EXPECT_EQ(out[0], 'x'); // caller's buffer untouched
    EXPECT_EQ(aStream_Buffered(stream), 2u);
    EXPECT_EQ(read(1), "A");
    script.add("CD");
    EXPECT_EQ(read(3), "BCD");
}

TEST_F(StreamRecord, EndOfFileDeliversWhatWasRead) {
    script.add("AB");
    script.whenEmpty = aErrEOF;
    uint8_t out[4] = {0, 0, 0, 0};
    EXPECT_EQ(aStream_Read(stream, out, 4), aErrEOF);
    EXPECT_EQ(out[0], 'A');
    EXPECT_EQ(out[1], 'B');
    EXPECT_EQ(aStream_Buffered(stream), 0u);
}

TEST_F(StreamRecord, PushBackGrowsAndKeepsOrderAcrossTheWrap) {
    // Fill, take some so the ring wraps, then grow past 512.
    for (int i = 0; i < 500; i++)
        ASSERT_EQ(aStreamBufferChar(stream, uint8_t(i)), aErrNone);
    std::vector<uint8_t> got(300);
    ASSERT_EQ(aStream_Read(stream, got.data(), 300), aErrNone);
    for (int i = 500; i < 1300; i++)
        ASSERT_EQ(aStreamBufferChar(stream, uint8_t(i)), aErrNone);
    EXPECT_GE(stream->capacity, 1001u);
    got.resize(1000);
    ASSERT_EQ(aStream_Read(stream, got.data(), 1000), aErrNone);
    for (int i = 0; i < 1000; i++)
        ASSERT_EQ(got[i], uint8_t(300 + i)) << i;
    EXPECT_EQ(aStream_Buffered(stream), 0u);
}

TEST_F(StreamRecord, LongShortReadKeepsEveryByte) {
    script.add(std::string(700, 'q'));
    std::vector<uint8_t> out(800);
    EXPECT_EQ(aStream_Read(stream, out.data(), 800), aErrNotReady);
    script.add(std::string(100, 'r'));
    ASSERT_EQ(aStream_Read(stream, out.data(), 800), aErrNone);
    EXPECT_EQ(out[699], 'q');
    EXPECT_EQ(out[700], 'r');
}

TEST_F(StreamRecord, WriteUsesBlockWriteElsePutStoppingAtFailure) {
    const uint8_t data[] = {1, 2, 3};
    EXPECT_EQ(aStream_Write(stream, data, 3), aErrNone);
    EXPECT_EQ(script.writes, 1);
    EXPECT_EQ(aStream_Write(stream, data, 1), aErrNone);
    EXPECT_EQ(script.puts, 1);

    aStream* putOnly = aStream_Create(nullptr, sPut, nullptr, nullptr, &script);
    const uint8_t bad[] = {4, 0xEE, 5};
    EXPECT_EQ(aStream_Write(putOnly, bad, 3), aErrIO);
    EXPECT_EQ(script.written, (std::vector<uint8_t>{1, 2, 3, 1, 4}));
    aStream_Destroy(&putOnly);

    aStream* none = aStream_Create(sGet, nullptr, nullptr, nullptr, &script);
    EXPECT_EQ(aStream_Write(none, data, 3), aErrMode);
    aStream_Destroy(&none);
}

TEST_F(StreamRecord, InvalidArgumentsAndDestroy) {
    uint8_t b;
    EXPECT_EQ(aStream_Read(nullptr, &b, 1), aErrParam);
    EXPECT_EQ(aStream_Read(stream, nullptr, 1), aErrParam);
    EXPECT_EQ(aStream_Write(stream, nullptr, 1), aErrParam);
    EXPECT_EQ(aStreamBufferChar(nullptr, 1), aErrParam);
    aStream fake{};
    EXPECT_EQ(aStream_Read(&fake, &b, 1), aErrParam);

    script.deleteResult = aErrCancel;
    EXPECT_EQ(aStream_Destroy(&stream), aErrCancel);
    EXPECT_EQ(stream, nullptr);
    EXPECT_EQ(script.deletes, 1);
    EXPECT_EQ(aStream_Destroy(&stream), aErrParam);
}

struct RecordCase {
    const char* input;
    aErr whenEmpty;
    const char* terminator;
    size_t size;
    aErr result;
    const char* record;
    const char* left; // bytes the next reads still see
};

class ReadRecord : public StreamRecord, public ::testing::WithParamInterface<RecordCase> {};

TEST_P(ReadRecord, Cases) {
    const RecordCase& c = GetParam();
    script.add(c.input);
    script.whenEmpty = c.whenEmpty;
    std::vector<uint8_t> buffer(c.size + 1, 0);
    size_t length = 99;
    EXPECT_EQ(aStream_ReadRecord(stream, buffer.data(), &length, c.size,
                                 reinterpret_cast<const uint8_t*>(c.terminator),
                                 strlen(c.terminator)),
              c.result);
    if (c.result == aErrNone)
        EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + length), c.record);
    else
        EXPECT_EQ(length, 0u);
    std::string rest;
    uint8_t b;
    while (aStream_Read(stream, &b, 1) == aErrNone)
        rest.push_back(char(b));
    EXPECT_EQ(rest, c.left);
}

INSTANTIATE_TEST_SUITE_P(
    Stream, ReadRecord,
    ::testing::Values(RecordCase{"line\nnext", aErrNotReady, "\n", 64, aErrNone, "line", "next"},
                      RecordCase{"abcdef", aErrNotReady, "\n", 4, aErrNone, "abcd", "ef"},
                      RecordCase{"tail", aErrEOF, "\n", 64, aErrNone, "tail", ""},
                      RecordCase{"", aErrEOF, "\n", 64, aErrEOF, "", ""},
                      // Not ready: everything taken comes back, held terminator bytes too.
                      RecordCase{"part\r", aErrNotReady, "\r\n", 64, aErrNotReady, "", "part\r"},
                      // A partial terminator that fails is data.
                      RecordCase{"a\rb\r\r\nz", aErrNotReady, "\r\n", 64, aErrNone, "a\rb\r", "z"},
                      RecordCase{"x\r", aErrEOF, "\r\n", 64, aErrNone, "x\r", ""}));

TEST_F(StreamRecord, CStringsAreTerminatedAndBounded) {
    ASSERT_EQ(aStream_WriteCString(stream, "hi"), aErrNone);
    ASSERT_EQ(aStream_WriteCStringRecord(stream, "row", "\r\n"), aErrNone);
    EXPECT_EQ(std::string(script.written.begin(), script.written.end()),
              std::string("hi\0row\r\n\0", 9));

    script.add(std::string("hello\0world", 11));
    char text[4];
    EXPECT_EQ(aStream_ReadCString(stream, text, sizeof(text)), aErrNone);
    EXPECT_STREQ(text, "hel");
    char rest[16];
    EXPECT_EQ(aStream_ReadCString(stream, rest, sizeof(rest)), aErrNone);
    EXPECT_STREQ(rest, "lo");
    script.add("\r\nmore");
    script.whenEmpty = aErrEOF;
    EXPECT_EQ(aStream_ReadCStringRecord(stream, rest, sizeof(rest), "\r\n"), aErrNone);
    EXPECT_STREQ(rest, "world");
    EXPECT_EQ(aStream_ReadCString(stream, text, 0), aErrParam);
}

TEST_F(StreamRecord, FlushCopiesUntilTheSourceStops) {
    Script out;
    aStream* destination = aStream_Create(nullptr, sPut, sWrite, sDelete, &out);
    script.add("copy me");
    script.whenEmpty = aErrEOF;
    EXPECT_EQ(aStream_Flush(stream, destination), aErrNone);
    EXPECT_EQ(std::string(out.written.begin(), out.written.end()), "copy me");
    script.add("x");
    script.whenEmpty = aErrIO;
    EXPECT_EQ(aStream_Flush(stream, destination), aErrIO);
    EXPECT_EQ(aStream_Flush(destination, stream), aErrMode);
    aStream_Destroy(&destination);
}
