// Fuzzing our own reading of AVI and WAV headers and the rebuilding of
// uncompressed video frames: any bytes, taken as a file's start and as a
// frame of every video stream its header describes, are read and repaired
// or left alone, never read or written out of bounds.

#include "riproduttore/StreamRepair.h"

#include <QBuffer>

#include <cstdint>

// GLib's constructors allocate for the life of the process, at load.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libglib-2.0\n";
}

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    gst_init(nullptr, nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    QBuffer file(&bytes);
    file.open(QIODevice::ReadOnly);
    // The frame is the same bytes, read-only: a repair that wrote into it would crash.
    GstBuffer* frame = size == 0 ? gst_buffer_new()
                                 : gst_buffer_new_wrapped_full(GST_MEMORY_FLAG_READONLY,
                                                               const_cast<std::uint8_t*>(data), size, 0, size,
                                                               nullptr, nullptr);
    sonora::repairWithoutPipeline(file, frame);
    gst_buffer_unref(frame);
    return 0;
}
