#include "extract/sections.hpp"

#include <algorithm>
#include <cstring>

namespace v2bsp {

MarkerIndex findMarkers(ByteView image) {
    // Each candidate starts with the marker's first byte; memchr finds those
    // fast and reads no further than the next one, which keeps the scan
    // linear and cheap under a sanitizer too. The markers are counted first,
    // so that each list is made once at its size: a list grown by doubling
    // would hold its old and new copies at once, half again the memory.
    const std::uint8_t* const begin = image.data();
    const std::uint8_t* const end = begin + image.size();
    const auto scan = [&](auto&& foundMarker) {
        const std::uint8_t* at = begin;
        while (end - at >= 4) {
            const void* found = std::memchr(at, 0x63, static_cast<std::size_t>(end - at - 3));
            if (found == nullptr) break;
            const auto* hit = static_cast<const std::uint8_t*>(found);
            if (loadu32le(hit) == kSectionMarker) {
                foundMarker(static_cast<std::uint32_t>(hit - begin));
                at = hit + 4;  // the marker cannot overlap itself
            } else {
                at = hit + 1;
            }
        }
    };
    std::size_t counts[4] = {};
    scan([&](std::uint32_t position) { ++counts[position % 4]; });
    MarkerIndex markers;
    for (int remainder = 0; remainder < 4; ++remainder) markers.positions[remainder].reserve(counts[remainder]);
    scan([&](std::uint32_t position) { markers.positions[position % 4].push_back(position); });
    return markers;
}

MeshSections findSections(const MarkerIndex& markers, std::int64_t rawoffset, std::int64_t rawsize) {
    MeshSections sections;
    if (rawoffset < 0 || rawsize < 4) return sections;
    const auto& candidates = markers.positions[rawoffset % 4];
    const std::int64_t last = rawoffset + rawsize - 4;  // the last position whose bytes are inside
    auto it = std::lower_bound(candidates.begin(), candidates.end(), rawoffset,
                               [](std::uint32_t position, std::int64_t start) { return position < start; });
    std::int64_t hits = 0;
    for (; it != candidates.end() && static_cast<std::int64_t>(*it) <= last && hits < 8; ++it) {
        const std::int64_t k = *it;
        switch (++hits) {
            case 3:
                sections.faceStart = k + 4;
                break;
            case 4:
                sections.faceLength = k - sections.faceStart;
                break;
            case 7:
                sections.vertexStart = k + 4;
                break;
            case 8:
                sections.vertexLength = k - sections.vertexStart;
                break;
            default:
                break;
        }
    }
    return sections;
}

}  // namespace v2bsp
