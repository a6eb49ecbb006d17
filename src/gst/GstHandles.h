#pragma once
// Owning handles for GStreamer and GLib objects, so no code path can forget an
// unref or release one twice. Ref-counted objects get a copyable handle whose
// copies add a reference; the rest get a move-only handle.

#include <gst/gst.h>

#include <utility>

namespace sonora::gsthandle {

// A handle that owns one reference of a ref-counted object.
// Traits provides static ref(T*) and unref(T*).
template <typename T, typename Traits>
class Ref {
public:
    Ref() = default;
    Ref(std::nullptr_t) {}

    // Takes over a reference the caller already owns (a "transfer full" return).
    static Ref adopt(T* p) { return Ref(p); }
    // Adds a reference of its own (a "transfer none" return).
    static Ref retain(T* p) { return Ref(p ? Traits::ref(p) : nullptr); }

    Ref(const Ref& o) : p_(o.p_ ? Traits::ref(o.p_) : nullptr) {}
    Ref(Ref&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    Ref& operator=(Ref o) noexcept
    {
        std::swap(p_, o.p_);
        return *this;
    }
    ~Ref() { reset(); }

    void reset()
    {
        if (T* p = std::exchange(p_, nullptr))
            Traits::unref(p);
    }
    // Gives the reference away, e.g. to a function that takes ownership.
    [[nodiscard]] T* release() { return std::exchange(p_, nullptr); }

    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    friend bool operator==(const Ref& a, const Ref& b) { return a.p_ == b.p_; }

private:
    explicit Ref(T* p) : p_(p) {}
    T* p_ = nullptr;
};

// A handle that owns a value freed by Free(T*); not copyable.
template <typename T, void (*Free)(T*)>
class Unique {
public:
    Unique() = default;
    explicit Unique(T* p) : p_(p) {}
    Unique(Unique&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    Unique& operator=(Unique&& o) noexcept
    {
        if (this != &o) {
            reset();
            p_ = std::exchange(o.p_, nullptr);
        }
        return *this;
    }
    Unique(const Unique&) = delete;
    Unique& operator=(const Unique&) = delete;
    ~Unique() { reset(); }

    void reset()
    {
        if (T* p = std::exchange(p_, nullptr))
            Free(p);
    }
    // For C out-parameters (GError**, gchar**): frees the old value first.
    T** out()
    {
        reset();
        return &p_;
    }
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

private:
    T* p_ = nullptr;
};

struct GstObjectTraits {
    template <typename T>
    static T* ref(T* p) { return static_cast<T*>(gst_object_ref(p)); }
    template <typename T>
    static void unref(T* p) { gst_object_unref(p); }
};
struct GstMessageTraits {
    static GstMessage* ref(GstMessage* p) { return gst_message_ref(p); }
    static void unref(GstMessage* p) { gst_message_unref(p); }
};
struct GstCapsTraits {
    static GstCaps* ref(GstCaps* p) { return gst_caps_ref(p); }
    static void unref(GstCaps* p) { gst_caps_unref(p); }
};
struct GstSampleTraits {
    static GstSample* ref(GstSample* p) { return gst_sample_ref(p); }
    static void unref(GstSample* p) { gst_sample_unref(p); }
};

inline void freeError(GError* e) { g_error_free(e); }
inline void freeString(gchar* s) { g_free(s); }
inline void freeStructure(GstStructure* s) { gst_structure_free(s); }

} // namespace sonora::gsthandle

namespace sonora {

template <typename T>
using GstObjectRef = gsthandle::Ref<T, gsthandle::GstObjectTraits>;
using ElementRef = GstObjectRef<GstElement>;
using BusRef = GstObjectRef<GstBus>;
using PadRef = GstObjectRef<GstPad>;
using MessageRef = gsthandle::Ref<GstMessage, gsthandle::GstMessageTraits>;
using CapsRef = gsthandle::Ref<GstCaps, gsthandle::GstCapsTraits>;
using SampleRef = gsthandle::Ref<GstSample, gsthandle::GstSampleTraits>;
using ErrorPtr = gsthandle::Unique<GError, gsthandle::freeError>;
using GCharPtr = gsthandle::Unique<gchar, gsthandle::freeString>;
using StructurePtr = gsthandle::Unique<GstStructure, gsthandle::freeStructure>;

// gst_element_factory_make returns a floating reference; sinking it gives us
// an ordinary one, so adding the element to a bin later cannot steal it.
inline ElementRef makeElement(const char* factory, const char* name = nullptr)
{
    GstElement* e = gst_element_factory_make(factory, name);
    return e ? ElementRef::adopt(static_cast<GstElement*>(gst_object_ref_sink(e))) : ElementRef();
}

} // namespace sonora
