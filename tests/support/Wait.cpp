#include "support/Wait.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QWidget>

namespace sonora::test {

bool doAccessibleAction(QWidget* widget, const QString& action)
{
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(widget);
    QAccessibleActionInterface* actions = face ? face->actionInterface() : nullptr;
    if (!actions || !actions->actionNames().contains(action))
        return false;
    actions->doAction(action);
    spin(250); // a pressed button's animated click ends after 100 ms
    return true;
}

} // namespace sonora::test
