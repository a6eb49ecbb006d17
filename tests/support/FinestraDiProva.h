#pragma once
// The real main window wired to scriptable doubles of its services.

#include "app/frmPrincipale.h"
#include "support/FakeFileDialog.h"
#include "support/FakeMediaDevice.h"
#include "support/FakeMessageBox.h"

#include <QFile>
#include <memory>
#include <stdexcept>

namespace sonora::test {

struct FinestraDiProva {
    FakeFileDialog* dialog = nullptr;
    FakeMessageBox* messages = nullptr;
    FakeMediaDevice* device = nullptr;
    std::shared_ptr<FakeMediaDevice::State> media;
    int endRequests = 0;
    std::unique_ptr<frmPrincipale> form;

    // `mediaDevice` replaces the fake device when given (e.g. the real one).
    explicit FinestraDiProva(std::unique_ptr<IMediaDevice> mediaDevice = nullptr)
    {
        Servizi s;
        auto d = std::make_unique<FakeFileDialog>();
        auto m = std::make_unique<FakeMessageBox>();
        dialog = d.get();
        messages = m.get();
        s.dialogo = std::move(d);
        s.messaggi = std::move(m);
        if (mediaDevice) {
            s.dispositivo = std::move(mediaDevice);
        } else {
            auto dev = std::make_unique<FakeMediaDevice>();
            device = dev.get();
            media = dev->script();
            s.dispositivo = std::move(dev);
        }
        s.terminaApplicazione = [this] { ++endRequests; };
        form = std::make_unique<frmPrincipale>(std::move(s));
    }

    frmPrincipale* operator->() const { return form.get(); }

    // The user clicks a control: through the same error boundary as a real click.
    void click(void (frmPrincipale::*handler)()) { form->esegui([&] { (form.get()->*handler)(); }); }

    // "Apri" on a compilation written to `file`, of songs in `folder`, whose
    // list shows `list` in this order (the file holds first and last swapped,
    // as the reader swaps them back).
    void apri(const QString& file, const QString& folder, QStringList list)
    {
        if (list.size() > 1)
            list.swapItemsAt(0, list.size() - 1);
        QByteArray bytes = folder.toUtf8() + "\r\n";
        for (const QString& s : list)
            bytes += s.toUtf8() + "\r\n";
        QFile f(file);
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
            throw std::runtime_error("cannot write the compilation");
        f.close();
        dialog->pick({file});
        click(&frmPrincipale::cmdCompilation_Click);
    }
};

} // namespace sonora::test
