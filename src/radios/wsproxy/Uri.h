#pragma once
#include <string>
#include <string_view>

/// The parts of a server address written protocol://host:port/path?query.
/// Every part is optional; a missing one is empty. The query keeps its "?"
/// and the path its leading "/".
struct Uri {
    std::string query, path, protocol, host, port;

    /// Splits text without validating it: any text gives some Uri. A "/"
    /// that only comes after the "?" belongs to the query.
    static Uri Parse(std::string_view text);
};
