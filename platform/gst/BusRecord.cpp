#include "BusRecord.h"

#include <gst/pbutils/pbutils.h>

namespace zorvik::platform::gst {

void BusRecord::Note(GstMessage* message) {
    switch (GST_MESSAGE_TYPE(message)) {
        case GST_MESSAGE_ERROR: {
            GError* error = nullptr;
            gst_message_parse_error(message, &error, nullptr);
            GstObject* source = GST_MESSAGE_SRC(message);
            StreamError recorded{
                error->domain, error->code,
                GST_IS_ELEMENT(source) && GST_OBJECT_FLAG_IS_SET(source, GST_ELEMENT_FLAG_SINK),
                error->message ? error->message : ""};
            g_error_free(error);
            std::lock_guard lock(mutex_);
            // The first error is the cause; the ones after it are elements giving up in its wake.
            if (!error_) {
                error_ = std::move(recorded);
            }
            ++news_;
            break;
        }
        case GST_MESSAGE_ELEMENT:
            if (gst_is_missing_plugin_message(message)) {
                // Text (a web page, a playlist, notes saved as .mp3) is recognised as such and then
                // "lacks a decoder"; the user should hear that it is no music file instead.
                const std::string type = MediaType(message);
                const bool text = type.starts_with("text/");
                gchar* description = text ? nullptr : gst_missing_plugin_message_get_description(message);
                std::lock_guard lock(mutex_);
                if (text) {
                    textFile_ = true;
                }
                if (missingDecoder_.empty() && description) {
                    missingDecoder_ = description;
                    missingType_ = type;
                }
                g_free(description);
            }
            return;
        case GST_MESSAGE_SEGMENT_DONE:
            if (onSegmentDone && GST_IS_PIPELINE(GST_MESSAGE_SRC(message))) {
                onSegmentDone();
            }
            return;
        case GST_MESSAGE_ASYNC_DONE:
        case GST_MESSAGE_STATE_CHANGED:
            if (!GST_IS_PIPELINE(GST_MESSAGE_SRC(message))) {
                return;
            }
            {
                std::lock_guard lock(mutex_);
                ++news_;
            }
            break;
        default:
            return;
    }
    changed_.notify_all();
}

GstBusSyncReply BusRecord::OnMessage(GstBus*, GstMessage* message, gpointer data) {
    (*static_cast<std::shared_ptr<BusRecord>*>(data))->Note(message);
    // A sync handler that drops a message owns it.
    gst_message_unref(message);
    return GST_BUS_DROP;
}

void BusRecord::Release(gpointer data) {
    delete static_cast<std::shared_ptr<BusRecord>*>(data);
}

std::string BusRecord::MediaType(GstMessage* message) {
    const GValue* detail = gst_structure_get_value(gst_message_get_structure(message), "detail");
    if (!detail || !GST_VALUE_HOLDS_CAPS(detail)) {
        return {};
    }
    const GstCaps* caps = gst_value_get_caps(detail);
    if (!caps || gst_caps_get_size(caps) == 0) {
        return {};
    }
    return gst_structure_get_name(gst_caps_get_structure(caps, 0));
}

void AttachBusRecord(GstElement* pipeline, const std::shared_ptr<BusRecord>& record) {
    GstBus* bus = gst_element_get_bus(pipeline);
    gst_bus_set_sync_handler(bus, &BusRecord::OnMessage, new std::shared_ptr<BusRecord>(record),
                             &BusRecord::Release);
    gst_object_unref(bus);
}

void DetachBus(GstElement* pipeline) {
    GstBus* bus = gst_element_get_bus(pipeline);
    gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
    gst_object_unref(bus);
}

}  // namespace zorvik::platform::gst
