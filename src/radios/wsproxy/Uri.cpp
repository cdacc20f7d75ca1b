#include "radios/wsproxy/Uri.h"

#include <algorithm>

Uri Uri::Parse(std::string_view text) {
    Uri u;
    if (text.empty()) return u;
    const size_t end = text.size();
    const size_t queryStart = std::min(text.find('?'), end);

    size_t hostStart = 0;
    const size_t colon = text.find(':');
    if (colon != std::string_view::npos && end - colon >= 4 && text.substr(colon, 3) == "://") {
        u.protocol = text.substr(0, colon);
        hostStart = colon + 3;
    }
    // The authority (host and port) ends at the path, or at the query when
    // there is no path. A "?" inside what looked like the protocol cannot end
    // it before it starts.
    size_t pathStart = text.find('/', hostStart);
    if (pathStart != std::string_view::npos && pathStart > queryStart) pathStart = std::string_view::npos;
    const size_t limit = std::max(hostStart, pathStart != std::string_view::npos ? pathStart : queryStart);

    size_t hostEnd = text.find(':', hostStart);
    if (hostEnd == std::string_view::npos || hostEnd >= limit) hostEnd = limit;
    u.host = text.substr(hostStart, hostEnd - hostStart);
    if (hostEnd < limit) u.port = text.substr(hostEnd + 1, limit - hostEnd - 1);
    if (pathStart != std::string_view::npos) u.path = text.substr(pathStart, queryStart - pathStart);
    if (queryStart < end) u.query = text.substr(queryStart);
    return u;
}
