#pragma once
// Starting GStreamer, once per process, in either helper.

namespace sonora {

// Starts GStreamer once per process; later calls return at once. The first
// start after GStreamer is installed scans every plugin, which takes
// seconds. Throws MediaError when GStreamer cannot start.
void initGStreamer();

} // namespace sonora
