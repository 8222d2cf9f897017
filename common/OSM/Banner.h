// The program's name and version, as the console and every output file show it.
#pragma once

namespace OSM {
inline constexpr const char* kBanner = "Tovimar OSM splitter 1.09.48";
}
