// Scratch directories and external commands for the utilities tests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

// A fresh directory under the system's temporary directory, removed with its contents.
class ScratchDir {
public:
    ScratchDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "nlhe-util-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) std::abort();
        path_ = pattern;
    }
    ~ScratchDir() { std::filesystem::remove_all(path_); }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// Standard output of a shell command; *status gets its exit status.
inline std::string RunCommand(const std::string& command, int* status = nullptr) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return out;
    char chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0) out.append(chunk, n);
    const int raw = pclose(pipe);
    if (status != nullptr) *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return out;
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A scripted processor: each leaf answers from the table, unknown leaves answer zeros.
inline std::map<uint32_t, std::array<uint32_t, 4>> FakeLeaves;
inline int FakeCalls = 0;

inline void fake_cpuid(uint32_t leaf, uint32_t regs[4]) {
    ++FakeCalls;
    const auto found = FakeLeaves.find(leaf);
    for (int i = 0; i < 4; ++i) regs[i] = found == FakeLeaves.end() ? 0 : found->second[i];
}

// Up to 16 bytes of text as the four registers of one leaf.
inline std::array<uint32_t, 4> words_of(const char* text) {
    std::array<uint32_t, 4> w{};
    std::memcpy(w.data(), text, std::min<size_t>(std::strlen(text), 16));
    return w;
}

inline void set_vendor(const char* vendor12, uint32_t highest) {
    uint32_t b, d, c;
    std::memcpy(&b, vendor12, 4);
    std::memcpy(&d, vendor12 + 4, 4);
    std::memcpy(&c, vendor12 + 8, 4);
    FakeLeaves[0] = {highest, b, c, d};
}
