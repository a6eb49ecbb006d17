#include "riproduttore/FdSource.h"

#include <gst/base/gstbasesrc.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sonora {
namespace {

struct FdSource {
    GstBaseSrc parent;
    int fd;
};

struct FdSourceClass {
    GstBaseSrcClass parent;
};

GType fdSourceType();
FdSource* asFdSource(gpointer p) { return G_TYPE_CHECK_INSTANCE_CAST(p, fdSourceType(), FdSource); }

// Reads until `length` bytes are in or the file ends; -1 on an error.
gssize readFully(int fd, guint8* into, guint64 offset, gsize length)
{
    gsize done = 0;
    while (done < length) {
        const ssize_t n = ::pread(fd, into + done, length - done, off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        done += gsize(n);
    }
    return gssize(done);
}

gboolean start(GstBaseSrc* base)
{
    struct stat st {};
    if (asFdSource(base)->fd < 0 || ::fstat(asFdSource(base)->fd, &st) != 0) {
        GST_ELEMENT_ERROR(base, RESOURCE, OPEN_READ, ("no song was handed over"), (nullptr));
        return FALSE;
    }
    return TRUE;
}

gboolean isSeekable(GstBaseSrc*) { return TRUE; }

gboolean getSize(GstBaseSrc* base, guint64* size)
{
    struct stat st {};
    if (::fstat(asFdSource(base)->fd, &st) != 0)
        return FALSE;
    *size = guint64(st.st_size);
    return TRUE;
}

GstFlowReturn fill(GstBaseSrc* base, guint64 offset, guint length, GstBuffer* buffer)
{
    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_WRITE))
        return GST_FLOW_ERROR;
    const gssize n = readFully(asFdSource(base)->fd, map.data, offset, std::min<gsize>(length, map.size));
    gst_buffer_unmap(buffer, &map);
    if (n < 0) {
        GST_ELEMENT_ERROR(base, RESOURCE, READ, (nullptr), ("pread: %s", std::strerror(errno)));
        return GST_FLOW_ERROR;
    }
    if (n == 0)
        return GST_FLOW_EOS;
    gst_buffer_resize(buffer, 0, n);
    GST_BUFFER_OFFSET(buffer) = offset;
    GST_BUFFER_OFFSET_END(buffer) = offset + guint64(n);
    return GST_FLOW_OK;
}

void finalize(GObject* object)
{
    FdSource* self = asFdSource(object);
    if (self->fd >= 0)
        ::close(self->fd);
    G_OBJECT_CLASS(g_type_class_peek_parent(G_OBJECT_GET_CLASS(object)))->finalize(object);
}

void classInit(gpointer klass, gpointer)
{
    G_OBJECT_CLASS(klass)->finalize = finalize;
    GstElementClass* element = GST_ELEMENT_CLASS(klass);
    static GstStaticPadTemplate src = GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS_ANY);
    gst_element_class_add_static_pad_template(element, &src);
    gst_element_class_set_static_metadata(element, "Song handed over", "Source/File",
                                          "Reads a file the player was handed open", "Sonoraccoltiera");
    GstBaseSrcClass* base = GST_BASE_SRC_CLASS(klass);
    base->start = start;
    base->is_seekable = isSeekable;
    base->get_size = getSize;
    base->fill = fill;
}

void instanceInit(GTypeInstance* instance, gpointer)
{
    asFdSource(instance)->fd = -1;
    gst_base_src_set_format(GST_BASE_SRC(instance), GST_FORMAT_BYTES);
}

GstURIType uriType(GType) { return GST_URI_SRC; }

const gchar* const* uriProtocols(GType)
{
    static const gchar* const protocols[] = {"sonorafd", nullptr};
    return protocols;
}

gchar* getUri(GstURIHandler*) { return g_strdup(kSongUri); }

// The URI names no file: the file comes from playbin's set-up.
gboolean setUri(GstURIHandler*, const gchar* uri, GError** error)
{
    if (g_str_has_prefix(uri, kSongUri))
        return TRUE;
    g_set_error(error, GST_URI_ERROR, GST_URI_ERROR_BAD_URI, "not a handed-over song: %s", uri);
    return FALSE;
}

void uriHandlerInit(gpointer iface, gpointer)
{
    auto* i = static_cast<GstURIHandlerInterface*>(iface);
    i->get_type = uriType;
    i->get_protocols = uriProtocols;
    i->get_uri = getUri;
    i->set_uri = setUri;
}

GType fdSourceType()
{
    static const GType type = [] {
        const GType t = g_type_register_static_simple(GST_TYPE_BASE_SRC, "SonoraFdSource", sizeof(FdSourceClass),
                                                      classInit, sizeof(FdSource), instanceInit, GTypeFlags(0));
        const GInterfaceInfo uri{uriHandlerInit, nullptr, nullptr};
        g_type_add_interface_static(t, GST_TYPE_URI_HANDLER, &uri);
        return t;
    }();
    return type;
}

} // namespace

void registerFdSource()
{
    // The only element for its own protocol: its rank matters to nothing else.
    gst_element_register(nullptr, "sonorafdsrc", GST_RANK_PRIMARY, fdSourceType());
}

bool setFdSourceFile(GstElement* element, int fd)
{
    if (!G_TYPE_CHECK_INSTANCE_TYPE(element, fdSourceType()))
        return false;
    FdSource* self = asFdSource(element);
    if (self->fd >= 0)
        ::close(self->fd);
    self->fd = fd >= 0 ? ::fcntl(fd, F_DUPFD_CLOEXEC, 0) : -1;
    return true;
}

QByteArray readAt(int fd, qint64 offset, qint64 length)
{
    QByteArray bytes(qsizetype(std::max<qint64>(length, 0)), Qt::Uninitialized);
    const gssize n = readFully(fd, reinterpret_cast<guint8*>(bytes.data()), guint64(offset), gsize(bytes.size()));
    if (n < 0)
        return {};
    bytes.truncate(n);
    return bytes;
}

} // namespace sonora
