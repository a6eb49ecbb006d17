#include "diversions/FinestraDedica.h"

#include "app/Aspetto.h"
#include "app/Immagini.h"
#include "platform/Twips.h"

#include <QApplication>
#include <QPainter>
#include <QPushButton>

namespace sonora {
namespace {

constexpr QSize PictureSize(125, 119);

// The width a frame adds to a window's client area. A window not yet shown
// has no frame of its own, so take it from a shown window: all of ours share
// the same frame.
int frameExtraWidth()
{
    for (const QWidget* top : QApplication::topLevelWidgets()) {
        if (top->isVisible() && top->isWindow())
            return top->frameGeometry().width() - top->width();
    }
    return 0;
}

class Immagine : public QWidget {
public:
    Immagine(QImage image, QWidget* parent) : QWidget(parent), image_(std::move(image))
    {
        setFixedSize(image_.size());
    }

protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).drawImage(0, 0, image_); }

private:
    QImage image_;
};

} // namespace

FinestraDedica::FinestraDedica(DescrizioneDedica descrizione)
    : d_(std::move(descrizione))
{
}

FinestraDedica::~FinestraDedica() { Unload(); }

QString FinestraDedica::testo() const
{
    return d_.righe.join(QStringLiteral("\n\r"));
}

QImage FinestraDedica::immagine() const
{
    QImage image(PictureSize, QImage::Format_RGB888);
    image.fill(Qt::white);
    QPainter(&image).drawImage(0, 0, immagini::immagine(d_.picture, PictureSize));
    return image;
}

void FinestraDedica::Show()
{
    Load();
    window_->exec();
    Unload();
}

void FinestraDedica::Load()
{
    Unload();
    auto* w = new QDialog(nullptr, aspetto::cornice(Qt::Dialog));
    window_ = w;
    w->setAttribute(Qt::WA_DeleteOnClose, false);
    w->setProperty(aspetto::DeactivatesMain, true);
    w->setWindowTitle(d_.caption);
    w->setFont(aspetto::carattere());
    w->setGeometry(twips::toPixels(d_.designPosition.x(), d_.designPosition.y(), d_.clientWidth, d_.clientHeight));
    w->setFixedSize(w->size());

    new Immagine(immagine(), w);

    Label1 = new Label(w);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    Label1->setFocusPolicy(Qt::NoFocus);
    twips::setGeometry(Label1, d_.label1.x(), d_.label1.y(), d_.label1.width(), d_.label1.height());
    Label1->setCaption(QStringLiteral("Label1"));

    Command1 = new QPushButton(QStringLiteral("OK"), w);
    Command1->setObjectName(QStringLiteral("Command1"));
    twips::setGeometry(Command1, d_.command1.x(), d_.command1.y(), d_.command1.width(), d_.command1.height());
    Command1->setDefault(true);
    QObject::connect(Command1, &QPushButton::clicked, w, [this] { Command1_Click(); });
    Command1->setFocus();

    Form_Load();
}

void FinestraDedica::Form_Load()
{
    ++loads_;
    Label1->move(0, Label1->y());
    Label1->resize(window_->width() + frameExtraWidth(), Label1->height());
    Label1->setCaption(testo());
}

void FinestraDedica::Command1_Click()
{
    if (window_)
        window_->accept();
}

void FinestraDedica::Unload()
{
    delete window_.data();
    window_ = nullptr;
    Label1 = nullptr;
    Command1 = nullptr;
}

frmTof::frmTof()
    : FinestraDedica({QStringLiteral("Da Tof"), 1875, 3060, QRect(360, 1800, 1335, 855),
                      QRect(360, 2520, 1215, 495),
                      {QStringLiteral("A Pimna e Tobrasco"), QStringLiteral("con tanto amore"), QStringLiteral("da papà.")},
                      "dedica_tof", QPoint(5220, 3570)})
{
}

frmTof& frmTof::istanza()
{
    static frmTof instance;
    return instance;
}

frmBremino::frmBremino()
    : FinestraDedica({QStringLiteral("Da Bremino"), 1875, 3285, QRect(240, 1920, 1095, 735),
                      QRect(360, 2760, 1215, 495),
                      {QStringLiteral("Sono fortunato"), QStringLiteral("perché ho due tesori:"),
                       QStringLiteral("Vurla e Garlot.")},
                      "dedica_bremino", QPoint(5055, 3570)})
{
}

frmBremino& frmBremino::istanza()
{
    static frmBremino instance;
    return instance;
}

} // namespace sonora
