#pragma once
// A message box that records what it was asked to show and answers OK.

#include "platform/MessageBox.h"

#include <QList>
#include <functional>

namespace sonora::test {

struct ShownMessage {
    QString prompt;
    int style = 0;
    QString title;
};

class FakeMessageBox : public IMessageBox {
public:
    int MsgBox(const QString& prompt, int style, const QString& title) override
    {
        shown.append({prompt, style, title});
        if (onShow)
            onShow(shown.last());
        return 1;
    }
    QList<ShownMessage> shown;
    std::function<void(const ShownMessage&)> onShow;
};

} // namespace sonora::test
