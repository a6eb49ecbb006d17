#include "platform/Memoria.h"

#include <malloc.h>

namespace sonora {

void limitaArenaMemoria()
{
    mallopt(M_ARENA_MAX, 2);
}

} // namespace sonora
