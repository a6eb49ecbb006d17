#pragma once
// For test programs that play through GStreamer.

#include <gst/gst.h>
#include <gtest/gtest.h>

namespace sonora::test {

// GStreamer's pooled streaming threads end by themselves a while after their
// pipelines stop; one ending just as the program exits brings down the leak
// checker's scan. They are joined once the tests are done.
class JoinGstThreads : public ::testing::Environment {
    void TearDown() override
    {
        if (gst_is_initialized())
            gst_task_cleanup_all();
    }
};
inline ::testing::Environment* const joinGstThreads = ::testing::AddGlobalTestEnvironment(new JoinGstThreads);

} // namespace sonora::test
