#include "StreamingTasks.h"

namespace zorvik::platform::gst {

namespace {

// Walks an iterator to its end, calling `visit` on each object until it answers true. A concurrent
// change (elements or pads added by autoplugging) makes the iterator start over.
template <class Visit>
bool AnyOf(GstIterator* iterator, Visit visit) {
    GValue item = G_VALUE_INIT;
    bool found = false;
    bool done = false;
    while (!found && !done) {
        switch (gst_iterator_next(iterator, &item)) {
            case GST_ITERATOR_OK:
                found = visit(g_value_get_object(&item));
                g_value_reset(&item);
                break;
            case GST_ITERATOR_RESYNC:
                gst_iterator_resync(iterator);
                break;
            case GST_ITERATOR_ERROR:
            case GST_ITERATOR_DONE:
                done = true;
                break;
        }
    }
    g_value_unset(&item);
    gst_iterator_free(iterator);
    return found;
}

bool HasStartedTask(GstElement* element) {
    return AnyOf(gst_element_iterate_pads(element),
                 [](gpointer pad) { return gst_pad_get_task_state(GST_PAD(pad)) == GST_TASK_STARTED; });
}

}  // namespace

bool AnyStreamingTaskRunning(GstElement* pipeline) {
    if (HasStartedTask(pipeline)) {
        return true;
    }
    return AnyOf(gst_bin_iterate_recurse(GST_BIN(pipeline)),
                 [](gpointer element) { return HasStartedTask(GST_ELEMENT(element)); });
}

}  // namespace zorvik::platform::gst
