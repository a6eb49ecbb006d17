#include "support/FakeFileDialog.h"

#include <stdexcept>

namespace sonora::test {

FileDialogAnswer FakeFileDialog::run(const FileDialogRequest& request)
{
    shown.append(request);
    if (onShow_)
        onShow_(request);
    if (script_.isEmpty())
        throw std::logic_error("FakeFileDialog: the dialog was shown more often than the test scripted");
    return script_.takeFirst();
}

} // namespace sonora::test
