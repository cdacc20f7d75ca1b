#pragma once
// Debian programs that tests run as independent generators and decoders
// (minimodem, ebook2cw, oggdec), and the sound files exchanged with them.
//
//   tool::ScratchDir dir;                 // a fresh folder, removed with its contents
//   if (!tool::available("minimodem")) VIREO_SKIP_OR_FAIL("minimodem is not installed");
//   tool::Result r = tool::run({"minimodem", "--rx", "rtty", "-f", "in.wav"}, dir.path);
//   // r.status: the exit status (-1 when it did not start or ended on a
//   // signal); r.out, r.err: what it wrote to standard output and error.
//
// The program runs without a shell, in the scratch folder, with HOME set to
// that folder (so that one writing a settings file on its first run writes
// it there), standard input from the given text and its output in files of
// the folder. Test thread only; it waits for the program to end.
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace tool {

/// True when an executable of that name is on PATH.
inline bool available(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        const std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) return true;
    }
    return false;
}

class ScratchDir {
public:
    ScratchDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "vireo-tool-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) path = pattern;
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    ~ScratchDir() {
        std::error_code ignored;
        if (!path.empty()) std::filesystem::remove_all(path, ignored);
    }
    std::string file(const std::string& name) const { return path + "/" + name; }

    std::string path; // empty when the folder could not be made
};

inline std::string readFile(const std::string& name) {
    std::ifstream f(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

struct Result {
    int status = -1;     // the exit status; -1 when a signal ended it
    int signal = 0;      // the signal that ended it, if one did
    std::string out, err;
};

inline Result run(const std::vector<std::string>& args, const std::string& folder, const std::string& input = "") {
    Result r;
    const std::string in = folder + "/.stdin", out = folder + "/.stdout", err = folder + "/.stderr";
    std::ofstream(in, std::ios::binary) << input;

    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "HOME=", 5) != 0) env.emplace_back(*e);
    env.push_back("HOME=" + folder);
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    pid_t pid = 0;
    const int started = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (started != 0) {
        r.err = std::string("could not start ") + args[0] + ": " + std::strerror(started);
        return r;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    r.out = readFile(out);
    r.err = readFile(err);
    return r;
}

/// Writes mono 16-bit PCM WAV, samples of full scale 1 (clipped).
inline void writeWav(const std::string& name, const std::vector<float>& samples, int rate) {
    std::ofstream f(name, std::ios::binary);
    auto u32 = [&f](uint32_t v) {
        for (int i = 0; i < 4; ++i) f.put(char(v >> (8 * i)));
    };
    auto u16 = [&f](uint16_t v) {
        f.put(char(v));
        f.put(char(v >> 8));
    };
    const uint32_t bytes = uint32_t(samples.size() * 2);
    f << "RIFF";
    u32(36 + bytes);
    f << "WAVEfmt ";
    u32(16);
    u16(1); // PCM
    u16(1); // mono
    u32(uint32_t(rate));
    u32(uint32_t(rate) * 2);
    u16(2);
    u16(16);
    f << "data";
    u32(bytes);
    for (float s : samples) {
        const float c = s > 1.0f ? 1.0f : s < -1.0f ? -1.0f : s;
        u16(uint16_t(int16_t(std::lround(c * 32767.0f))));
    }
}

/// Samples of raw 16-bit little-endian mono, as floats of full scale 1.
inline std::vector<float> fromPcm16(const std::string& bytes) {
    std::vector<float> out(bytes.size() / 2);
    for (size_t i = 0; i < out.size(); ++i) {
        const auto lo = uint8_t(bytes[2 * i]), hi = uint8_t(bytes[2 * i + 1]);
        out[i] = float(int16_t(uint16_t(lo | hi << 8))) / 32768.0f;
    }
    return out;
}

/// The samples of a mono 16-bit PCM WAV file and its rate; empty when the
/// file is not of that kind.
inline std::vector<float> readWav(const std::string& name, int* rate = nullptr) {
    const std::string b = readFile(name);
    auto u32 = [&b](size_t at) {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v |= uint32_t(uint8_t(b[at + size_t(i)])) << (8 * i);
        return v;
    };
    if (b.size() < 12 || b.compare(0, 4, "RIFF") != 0 || b.compare(8, 4, "WAVE") != 0) return {};
    bool pcm16mono = false;
    for (size_t at = 12; at + 8 <= b.size();) {
        const uint32_t length = u32(at + 4);
        const size_t body = at + 8;
        if (length > b.size() - body) return {};
        if (b.compare(at, 4, "fmt ") == 0 && length >= 16) {
            pcm16mono = (u32(body) & 0xffff) == 1 && (u32(body) >> 16) == 1 && (u32(body + 12) >> 16) == 16;
            if (rate) *rate = int(u32(body + 4));
        } else if (b.compare(at, 4, "data") == 0) {
            return pcm16mono ? fromPcm16(b.substr(body, length)) : std::vector<float>{};
        }
        at = body + length + (length & 1);
    }
    return {};
}

} // namespace tool
