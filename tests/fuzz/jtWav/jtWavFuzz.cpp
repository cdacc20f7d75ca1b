// Slot recordings as the decoder reads them: the input is the whole file.
//
// The reader ignores the RIFF chunk size (bytes 4 .. 7), so the target takes
// its own choices from there without changing what is parsed: byte 4 picks
// the mode (even FT8, odd JS8), byte 5 the room given to load_wav (0 ..
// 2040 samples, so files longer than the buffer are met too). FT4 is left
// to the decoder's tests: it always analyses 7.5 s, whatever the file holds,
// at a hundred times the cost of a short file of the other modes.
//
// Beyond memory faults it checks that load_wav keeps inside the room it was
// given and zeroes what it did not read, and that ft8decode writes nothing
// but whole records' first 22 bytes into a buffer of exactly 50 records,
// each with finite numbers.
#include "modes/data/jt/ft8decode.h"
#include "modes/data/jt/loadWav.h"

#include <spdlog/spdlog.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

void check(bool ok) {
    if (!ok) __builtin_trap();
}

// The input lives in a file in memory, opened by path like any recording.
int fd = -1;
std::string path;

void writeInput(const uint8_t* data, size_t size) {
    check(ftruncate(fd, 0) == 0);
    size_t done = 0;
    while (done < size) {
        const ssize_t n = pwrite(fd, data + done, size - done, off_t(done));
        check(n > 0);
        done += size_t(n);
    }
}

void loadInto(int room) {
    // Exactly the room given, so a write past it is a fault.
    std::vector<int16_t> buffer(size_t(room > 0 ? room : 1), int16_t(0x5A5A));
    int count = room, rate = -7;
    const int r = load_wav(buffer.data(), &count, &rate, path.c_str());
    check(r == 0 || r == -1 || r == -2);
    if (r != 0) return;
    check(count >= 0 && count <= room && rate >= 0);
    for (int i = count; i < room; ++i) check(buffer[size_t(i)] == 0);
}

void decode(int mode) {
    constexpr int bytes = jtdecode::maxRecords * jtdecode::recordBytes;
    auto* result = new uint8_t[bytes];
    std::memset(result, 0xAB, bytes);
    const int n = jtdecode::decodeFile(path.c_str(), result, mode);
    check(n >= -1 && n <= jtdecode::maxRecords);
    for (int i = 0; i < bytes; ++i) {
        const int record = i / jtdecode::recordBytes, at = i % jtdecode::recordBytes;
        if (record >= n || at >= 22) check(result[i] == 0xAB);
    }
    for (int i = 0; i < n; ++i) {
        Ft8DecodeRecord r;
        std::memcpy(&r, result + size_t(i) * jtdecode::recordBytes, 22);
        check(std::isfinite(r.frequency) && std::isfinite(r.time) && std::isfinite(r.snr));
    }
    delete[] result;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    spdlog::set_level(spdlog::level::off);
    fd = memfd_create("jtWav", 0);
    if (fd < 0) {
        std::perror("memfd_create");
        std::exit(1);
    }
    path = "/proc/self/fd/" + std::to_string(fd);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    writeInput(data, size);
    const int mode = size > 4 && data[4] % 2 ? 10 : 8;
    const int room = size > 5 ? 8 * data[5] : 0;
    loadInto(room);
    decode(mode);
    return 0;
}
