// The file transport over real files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <unistd.h>

#include "aStream_File.h"

namespace {
struct TempDir {
    std::string path;
    TempDir() {
        char tmpl[] = "/tmp/stream_tests.XXXXXX";
        path = mkdtemp(tmpl);
    }
    ~TempDir() { std::system(("rm -rf '" + path + "'").c_str()); }
};
} // namespace

TEST(FileStream, WritesThenReadsBackToEndOfFile) {
    TempDir dir;
    std::string path = dir.path + "/data.bin";
    aStream* out = nullptr;
    ASSERT_EQ(aStream_CreateFileOutput(path.c_str(), &out), aErrNone);
    const uint8_t data[] = {0, 1, 0xFF, '\n', 7};
    EXPECT_EQ(aStream_Write(out, data, sizeof(data)), aErrNone);
    EXPECT_EQ(aStream_Write(out, data, 1), aErrNone); // put path
    uint8_t b;
    EXPECT_EQ(aStream_Read(out, &b, 1), aErrMode); // write-only
    EXPECT_EQ(aStream_Destroy(&out), aErrNone);

    aStream* in = nullptr;
    ASSERT_EQ(aStream_CreateFileInput(path.c_str(), &in), aErrNone);
    EXPECT_EQ(aStream_Write(in, data, 2), aErrMode); // read-only
    uint8_t back[8] = {};
    EXPECT_EQ(aStream_Read(in, back, 8), aErrEOF);
    EXPECT_EQ(0, memcmp(back, data, sizeof(data)));
    EXPECT_EQ(back[5], 0);
    EXPECT_EQ(aStream_Read(in, &b, 1), aErrEOF);
    EXPECT_EQ(aStream_Destroy(&in), aErrNone);
}

TEST(FileStream, OpenFailuresAreResourceErrors) {
    aStream* s = reinterpret_cast<aStream*>(1);
    EXPECT_EQ(aStream_CreateFileInput("/nonexistent/dir/file", &s), aErrResource);
    EXPECT_EQ(s, nullptr);
    EXPECT_EQ(aStream_CreateFileOutput("/nonexistent/dir/file", &s), aErrResource);
    EXPECT_EQ(aStream_CreateFileInput(nullptr, &s), aErrResource);
    EXPECT_EQ(aStream_CreateFileInput("/etc/hostname", nullptr), aErrResource);
}
