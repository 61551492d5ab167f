#include "app/window_progress_sink.h"

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <gtest/gtest.h>

namespace corvanta {
namespace {

void CountFreed(gpointer data, GObject*) {
    ++*static_cast<int*>(data);
}

// A window that falls behind a fast batch holds one thumbnail, not one per
// file: each thumbnail still queued is freed as soon as the next one comes.
TEST(WindowProgressSink, AWindowBehindTheBatchHoldsOneThumbnail) {
    constexpr int kThumbnails = 50;
    int freed = 0;
    BatchState batch;
    {
        WindowProgressSink sink(batch);
        for (int i = 0; i < kThumbnails; ++i) {
            ProgressEvent event;
            event.kind = ProgressKind::kThumbnail;
            event.fileNumber = i + 1;
            event.thumbnail.reset(gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, 256, 96));
            ASSERT_NE(event.thumbnail.get(), nullptr);
            g_object_weak_ref(G_OBJECT(event.thumbnail.get()), CountFreed, &freed);
            sink.Post(std::move(event));
            ProgressEvent line;
            line.kind = ProgressKind::kDone;
            line.fileNumber = i + 1;
            sink.Post(std::move(line));
        }
        EXPECT_EQ(freed, kThumbnails - 1);
    }
    // The idle sources left in the main loop free the rest with the queue.
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
    EXPECT_EQ(freed, kThumbnails);
}

}  // namespace
}  // namespace corvanta
