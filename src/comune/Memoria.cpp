#include "comune/Memoria.h"

#include <malloc.h>

namespace sonora {

void limitaArenaMemoria()
{
    mallopt(M_ARENA_MAX, 2);
}

void restituisciMemoriaLibera()
{
    malloc_trim(128 * 1024);
}

} // namespace sonora
