// birdtool: writes BIRD firmware files (and shows what one holds).
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "BirdFile.h"
#include "BirdWriter.h"

namespace {
const char* sUsage =
    "Usage: birdtool -o FILE [options]      write a BIRD file\n"
    "       birdtool --show FILE            print a BIRD file's header, information and blocks\n"
    "       birdtool --list-models          print the model names a file may carry\n"
    "Options (blocks are written in the order given, after the information block):\n"
    "  -o, --output FILE             file to write\n"
    "  --build N                     build number (decimal)\n"
    "  --version TEXT                version text, at most 15 characters, no spaces\n"
    "  --serial HEX                  serial number in the information block (default 00000000)\n"
    "  --model NAME                  model name from the model table (required with info)\n"
    "  --no-info                     write no information block\n"
    "  --loader ADDR,IMAGE[,FLAGS]   loader block; repeatable\n"
    "  --firmware ADDR,IMAGE[,FLAGS] firmware block; repeatable\n"
    "  --serial-offsets SER,DESC     generic image: addresses where the serial number and its\n"
    "                                descriptor text are patched (0 for none)\n"
    "  --loader-start ADDR           address at which a recovery loader is started\n"
    "  --scramble W0,W1,W2,W3        store firmware payloads scrambled with these key words\n"
    "  --write-body FILE             also write the decompressed body (for inspection, fuzz "
    "seeds)\n"
    "IMAGE is a file of raw bytes, or pattern:N for N counting bytes. FLAGS is 0 to 7.\n"
    "Numbers are decimal or 0x-prefixed hexadecimal.\n";

bool sNumber(const std::string& text, uint32_t& value, int base = 0) {
    if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ') return false;
    char* end = nullptr;
    errno = 0;
    unsigned long long n = strtoull(text.c_str(), &end, base);
    if (*end || errno || n > 0xFFFFFFFFull) return false;
    value = (uint32_t)n;
    return true;
}

std::vector<std::string> sSplit(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t cut = text.find(separator, start);
        parts.push_back(text.substr(start, cut == std::string::npos ? cut : cut - start));
        if (cut == std::string::npos) return parts;
        start = cut + 1;
    }
}

bool sImage(const std::string& source, std::vector<uint8_t>& image) {
    if (source.rfind("pattern:", 0) == 0) {
        uint32_t count = 0;
        if (!sNumber(source.substr(8), count) || count > (64u << 20)) return false;
        image.resize(count);
        for (uint32_t i = 0; i < count; i++)
            image[i] = (uint8_t)(i * 7 + 1);
        return true;
    }
    FILE* in = fopen(source.c_str(), "rb");
    if (!in) return false;
    uint8_t chunk[65536];
    size_t got;
    while ((got = fread(chunk, 1, sizeof(chunk), in)) > 0)
        image.insert(image.end(), chunk, chunk + got);
    bool ok = !ferror(in);
    fclose(in);
    return ok;
}

int sShow(const std::string& path) {
    if (!BirdFile::VerifyFile(path)) printf("warning:   %s fails the header check\n", path.c_str());
    BirdFile file;
    try {
        file = BirdFile(path);
    } catch (const std::exception& e) {
        fprintf(stderr, "birdtool: %s: %s\n", path.c_str(), e.what());
        return 1;
    }
    printf("file:      %s\n", path.c_str());
    printf("format:    version 0x%04X, %u bytes unpacked, checksum field %08X\n", file.version,
           file.size, file.fileChecksum);
    printf("build:     %u\nversion:   %s\nserial:    %08X\n", file.GetBuild(),
           file.GetVersion().c_str(), file.GetSerialNumber());
    if (file.hasSerialBlock)
        printf("generic:   serial at 0x%08X, descriptor at 0x%08X\n", file.serialNumberOffset,
               file.descriptorOffset);
    printf("blocks:    %u\n", file.blockCount);
    for (const BirdBlock& block : file.blocks)
        printf("  type %2u flags %u length %8u address 0x%08X\n", block.type, block.flags,
               block.length, block.address);
    return 0;
}

int sBad(const char* what, const std::string& value) {
    fprintf(stderr, "birdtool: bad %s '%s'\n", what, value.c_str());
    return 2;
}
} // namespace

int main(int argc, char** argv) {
    std::string output, bodyOutput, version = "1.0.0", model;
    uint32_t build = 0, serial = 0;
    bool info = true;
    BirdWriter blocks; // everything but the information block, in argument order

    for (int i = 1; i < argc; i++) {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            fputs(sUsage, stdout);
            return 0;
        }
        if (arg == "--list-models") {
            for (const std::string& name : BirdWriter::ModelNames())
                printf("%s\n", name.c_str());
            return 0;
        }
        if (arg == "--no-info") {
            info = false;
            continue;
        }
        if (i + 1 >= argc) return sBad("argument", arg);
        const std::string value = argv[++i];
        std::vector<std::string> parts = sSplit(value, ',');
        uint32_t a = 0, b = 0;
        if (arg == "--show") {
            return sShow(value);
        } else if (arg == "-o" || arg == "--output") {
            output = value;
        } else if (arg == "--write-body") {
            bodyOutput = value;
        } else if (arg == "--build") {
            if (!sNumber(value, build, 10)) return sBad("build", value);
        } else if (arg == "--version") {
            if (value.empty() || value.size() > 15 || value.find(' ') != std::string::npos)
                return sBad("version", value);
            version = value;
        } else if (arg == "--serial") {
            if (value.size() > 8 || !sNumber(value, serial, 16)) return sBad("serial", value);
        } else if (arg == "--model") {
            if (!BirdWriter::IsModelName(value)) {
                fprintf(stderr, "birdtool: unknown model '%s' (see --list-models)\n",
                        value.c_str());
                return 2;
            }
            model = value;
        } else if (arg == "--loader" || arg == "--firmware") {
            std::vector<uint8_t> image;
            if (parts.size() < 2 || parts.size() > 3 || !sNumber(parts[0], a) ||
                (parts.size() == 3 && (!sNumber(parts[2], b) || b > 7)) || !sImage(parts[1], image))
                return sBad("block", value);
            if (arg == "--loader")
                blocks.Loader(a, image, (uint8_t)b);
            else
                blocks.Firmware(a, image, (uint8_t)b);
        } else if (arg == "--serial-offsets") {
            if (parts.size() != 2 || !sNumber(parts[0], a) || !sNumber(parts[1], b))
                return sBad("offsets", value);
            blocks.SerialOffsets(a, b);
        } else if (arg == "--loader-start") {
            if (!sNumber(value, a)) return sBad("address", value);
            blocks.LoaderStart(a);
        } else if (arg == "--scramble") {
            std::array<uint32_t, 4> words{};
            if (parts.size() != 4) return sBad("key", value);
            for (int w = 0; w < 4; w++)
                if (!sNumber(parts[w], words[w])) return sBad("key", value);
            blocks.Scramble(words);
        } else {
            return sBad("argument", arg);
        }
    }
    if (output.empty()) {
        fputs(sUsage, stderr);
        return 2;
    }
    if (info && model.empty()) {
        fprintf(stderr, "birdtool: --model is required (or --no-info)\n");
        return 2;
    }
    BirdWriter writer;
    if (info) writer.Info(build, version, serial, model);
    writer.Append(blocks);
    if (!writer.WriteTo(output)) {
        fprintf(stderr, "birdtool: cannot write %s\n", output.c_str());
        return 1;
    }
    if (!bodyOutput.empty()) {
        std::vector<uint8_t> body = writer.Body();
        FILE* out = fopen(bodyOutput.c_str(), "wb");
        bool ok = out && fwrite(body.data(), 1, body.size(), out) == body.size();
        if (out && fclose(out) != 0) ok = false;
        if (!ok) {
            fprintf(stderr, "birdtool: cannot write %s\n", bodyOutput.c_str());
            return 1;
        }
    }
    return 0;
}
