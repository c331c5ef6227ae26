#include "Sobrekrvw.h"

#include "Fontes.h"

#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPixmap>

TformSobreKRVW* formSobreKRVW = nullptr;

namespace {

const LayoutSobre kLayoutKRVW = {
    "formSobreKRVW", 311, 74, "Leitor de Tracer do GIRA WEB", 176, 28, 155, 50,
};

constexpr int kEsquerda = 272; // position on the screen
constexpr int kTopo = 150;
constexpr int kTamanhoTexto = 13; // Arial bold, pixels
constexpr int kLarguraFigura = 100;
constexpr int kAlturaFigura = 58;
constexpr int kMargemMoldura = 4; // the bevel lies 4 pixels around the picture

const QColor kFundoClaro(255, 255, 255); // the background's gradient, top to bottom
const QColor kFundoEscuro(200, 218, 240);

// The logo, a pair of spectacle lenses over the product's name, in the
// picture's own units (kLarguraFigura x kAlturaFigura) over its background.
void pintarLogo(QPainter& painter) {
    const QColor azul(20, 60, 140);
    painter.setPen(QPen(azul, 2.5));
    painter.setBrush(QColor(225, 238, 255, 180));
    painter.drawRoundedRect(QRectF(12.0, 6.0, 32.0, 24.0), 10.0, 10.0);
    painter.drawRoundedRect(QRectF(56.0, 6.0, 32.0, 24.0), 10.0, 10.0);
    painter.setBrush(Qt::NoBrush);
    // The bridge between the lenses and the start of the temples.
    painter.drawArc(QRectF(44.0, 10.0, 12.0, 10.0), 0, 180 * 16);
    painter.drawLine(QPointF(12.0, 12.0), QPointF(4.0, 10.0));
    painter.drawLine(QPointF(88.0, 12.0), QPointF(96.0, 10.0));

    painter.setFont(fonteArialNegrito(16));
    painter.setPen(azul);
    painter.drawText(QRectF(0.0, 32.0, kLarguraFigura, 24.0), Qt::AlignCenter,
                     QStringLiteral("GIRA"));
}

QPixmap desenharLogo() {
    QPixmap pixmap(kLarguraFigura, kAlturaFigura);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient fundo(0, 0, 0, kAlturaFigura);
    fundo.setColorAt(0.0, kFundoClaro);
    fundo.setColorAt(1.0, kFundoEscuro);
    painter.fillRect(pixmap.rect(), fundo);
    pintarLogo(painter);
    painter.end();
    return pixmap;
}

QLabel* criarTexto(QWidget* parent, const char* nome, const QString& texto, int x, int y) {
    auto* label = new QLabel(texto, parent);
    label->setObjectName(QString::fromLatin1(nome));
    label->setFont(fonteArialNegrito(kTamanhoTexto));
    label->adjustSize();
    label->move(x, y);
    return label;
}

} // namespace

TformSobreBase::TformSobreBase(const LayoutSobre& layout, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint) {
    setObjectName(QString::fromLatin1(layout.nome));
    setWindowTitle(QStringLiteral("Sobre"));
    setFont(fonteJanela());
    setFixedSize(layout.largura, layout.altura);
    move(kEsquerda, kTopo);

    auto* bevel = new QFrame(this);
    bevel->setObjectName(QStringLiteral("Bevel1"));
    bevel->setFrameStyle(QFrame::Box | QFrame::Sunken);
    bevel->setGeometry(kMargemMoldura, kMargemMoldura, kLarguraFigura + 2 * kMargemMoldura,
                       kAlturaFigura + 2 * kMargemMoldura);
    auto* image = new QLabel(this);
    image->setObjectName(QStringLiteral("Image1"));
    image->setGeometry(2 * kMargemMoldura, 2 * kMargemMoldura, kLarguraFigura, kAlturaFigura);
    image->setPixmap(desenharLogo());

    criarTexto(this, "Label1", QString::fromUtf8(layout.titulo), 119, 11);
    criarTexto(this, "Label3", QStringLiteral("Versão 1.6"), layout.esquerdaVersao,
               layout.topoVersao);
    criarTexto(this, "Label2", QStringLiteral("Veltra Informática"), layout.esquerdaEmpresa,
               layout.topoEmpresa);
}

TformSobreKRVW::TformSobreKRVW(QWidget* parent) : TformSobreBase(kLayoutKRVW, parent) {}

QImage desenharIcone(int lado) {
    QImage icone(lado, lado, QImage::Format_ARGB32_Premultiplied);
    icone.fill(Qt::transparent);
    QPainter painter(&icone);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    // The picture's background as a rounded square; corners of an eighth of a side.
    QLinearGradient fundo(0, 0, 0, lado);
    fundo.setColorAt(0.0, kFundoClaro);
    fundo.setColorAt(1.0, kFundoEscuro);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fundo);
    painter.drawRoundedRect(QRectF(0.0, 0.0, lado, lado), lado / 8.0, lado / 8.0);
    // The logo across the whole width, centred from top to bottom.
    const double escala = static_cast<double>(lado) / kLarguraFigura;
    painter.translate(0.0, (lado - kAlturaFigura * escala) / 2.0);
    painter.scale(escala, escala);
    pintarLogo(painter);
    painter.end();
    return icone;
}
