#include "framework/criticalErrorDump.h"

#include "framework/immortal.h"

#include <cstdio>

std::string& criticalErrorDump::filename = immortal<std::string>("dump.txt");

void criticalErrorDump::init(std::string path) { filename = std::move(path); }

void criticalErrorDump::logException(const char* where, const char* what) noexcept {
    std::FILE* f = std::fopen(filename.c_str(), "w");
    if (!f) return;
    std::fputs(where ? where : "", f);
    std::fputc(' ', f);
    std::fputs(what ? what : "", f);
    std::fclose(f);
}
