#pragma once
#include <string>

/// The crash-dump file: holds only the last exception of an unexpected kind,
/// as "<place> <detail>" with no line end. Every write replaces the file.
class criticalErrorDump {
public:
    /// "dump.txt" until init sets it. Never destroyed: a turn the exit's
    /// drain gave up on may still write the file.
    static std::string& filename;

    static void init(std::string path);

    /// Replaces the file with one entry. A file that cannot be opened is
    /// silently skipped. Takes no lock: two writers may overwrite each other.
    static void logException(const char* where, const char* what) noexcept;
};
