#pragma once
// The real main window wired to scriptable doubles of its services, and the
// tests' one door into it: w->X is the control X, w.compilation, w.lettore,
// w.diversioni and w.titolo the subsystems' state, w.form the window itself.

#include "app/frmPrincipale.h"
#include "support/FakeFileDialog.h"
#include "support/FakeMediaDevice.h"
#include "support/FakeMessageBox.h"

#include <QFile>
#include <QPushButton>
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
        compilation = form.get();
        lettore = form.get();
        diversioni = form.get();
        titolo = form.get();
    }

    ControlliPrincipale* operator->() const { return form.get(); }
    StatoCompilation* compilation = nullptr;
    StatoLettore* lettore = nullptr;
    StatoDiversioni* diversioni = nullptr;
    StatoTitolo* titolo = nullptr;

    // Events no widget raises on demand in a test, through the same error
    // boundary as the real ones.
    void Timer1_Timer() { form->esegui([this] { form->Timer1_Timer(); }); }
    void Command1_MouseMove() { form->esegui([this] { form->Command1_MouseMove(); }); }
    void Label3_DblClick() { form->esegui([this] { form->Label3_DblClick(); }); }
    void MMControl1_Done(Intero code) { form->esegui([this, code] { form->MMControl1_Done(code); }); }

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
        form->cmdCompilation->click();
    }
};

} // namespace sonora::test
