#pragma once
// The two hidden dedication windows, frmTof and frmBremino: a picture, three
// centred lines and "OK". Each is one instance for the whole program; every
// showing loads its window afresh (Form_Load runs again) and closing it
// unloads the window, while the instance stays.

#include "platform/Label.h"

#include <QDialog>
#include <QPointer>
#include <QRect>
#include <QStringList>

class QPushButton;

namespace sonora {

struct DescrizioneDedica {
    QString caption;
    int clientWidth;       // twips
    int clientHeight;      // twips
    QRect label1;          // design box, twips
    QRect command1;        // twips
    QStringList righe;     // the dedication's three lines
    const char* picture;   // name of the 125 × 119 picture
    QPoint designPosition; // client area's top left on the screen, twips
};

class FinestraDedica {
public:
    FinestraDedica(const FinestraDedica&) = delete;
    FinestraDedica& operator=(const FinestraDedica&) = delete;
    virtual ~FinestraDedica();

    // Loads the window and shows it modally; returns once it is closed.
    void Show();

    // The loaded window and its controls; null while unloaded.
    QDialog* finestra() const { return window_; }
    Label* Label1 = nullptr;
    QPushButton* Command1 = nullptr;

    void Form_Load();
    void Command1_Click();

    // The dedication text: the three lines joined by line feed then
    // carriage return, nothing after the last.
    QString testo() const;
    int volteCaricata() const { return loads_; }

    // The window's picture, 125 × 119 pixels, 24 bits per pixel.
    QImage immagine() const;

protected:
    explicit FinestraDedica(DescrizioneDedica descrizione);

private:
    void Load();
    void Unload();

    DescrizioneDedica d_;
    QPointer<QDialog> window_;
    int loads_ = 0;
};

class frmTof : public FinestraDedica {
public:
    static frmTof& istanza();

private:
    frmTof();
};

class frmBremino : public FinestraDedica {
public:
    static frmBremino& istanza();

private:
    frmBremino();
};

} // namespace sonora
