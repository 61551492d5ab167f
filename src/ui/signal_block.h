// Setting a widget from the program must not look like user input: this
// blocks the program's own handlers of one signal while it is in scope.
#pragma once

#include <glib-object.h>

namespace corvanta {

class ScopedSignalBlock {
  public:
    // Blocks every handler of signal on instance whose user data is data.
    ScopedSignalBlock(gpointer instance, const char* signal, gpointer data)
        : instance_(instance), data_(data) {
        GQuark detail = 0;
        if (g_signal_parse_name(signal, G_OBJECT_TYPE(instance), &signalId_, &detail, FALSE)) {
            g_signal_handlers_block_matched(instance, Match(), signalId_, 0, nullptr, nullptr,
                                            data_);
        } else {
            signalId_ = 0;
        }
    }
    ~ScopedSignalBlock() {
        if (signalId_ != 0) {
            g_signal_handlers_unblock_matched(instance_, Match(), signalId_, 0, nullptr, nullptr,
                                              data_);
        }
    }
    ScopedSignalBlock(const ScopedSignalBlock&) = delete;
    ScopedSignalBlock& operator=(const ScopedSignalBlock&) = delete;

  private:
    static GSignalMatchType Match() {
        return static_cast<GSignalMatchType>(G_SIGNAL_MATCH_ID | G_SIGNAL_MATCH_DATA);
    }
    gpointer instance_;
    gpointer data_;
    guint signalId_ = 0;
};

}  // namespace corvanta
