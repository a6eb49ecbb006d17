#include "platform/Caratteri.h"

#include <fontconfig/fontconfig.h>

namespace sonora {

CaratteriInAnticipo::CaratteriInAnticipo()
    : lettura_([] { FcInit(); })
{
}

CaratteriInAnticipo::~CaratteriInAnticipo() { attendi(); }

void CaratteriInAnticipo::attendi()
{
    if (lettura_.joinable())
        lettura_.join();
}

} // namespace sonora
