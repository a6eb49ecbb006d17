// Pictures compiled into the program. Resources in a static library must be
// registered explicitly, or the linker may leave them out.
#include <QtGlobal>

void sonoraInitAssets()
{
    static const bool once = [] { Q_INIT_RESOURCE(assets); return true; }();
    (void)once;
}
