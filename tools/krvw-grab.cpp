// Grabs the main window and the dialogs to PNG files (for the documentation)
// and checks their controls' geometry against the designed layout.
//   krvw-grab OUTDIR [LABELFILE]
// LABELFILE, a VCA label text, gives the frame shown in the main window.
// Exit status 1 when a control is missing or out of place.
//   krvw-grab --icon SIZE OUT.png
// writes the program's icon (the about dialog's picture) SIZE pixels square.
#include "Frameimage.h"
#include "Labelparser.h"
#include "Parametroskrvw.h"
#include "Principal.h"
#include "Sobrekrvw.h"

#include "Layout.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QPixmap>
#include <QStyle>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>

namespace {

int g_faults = 0;

void fault(const QString& text) {
    std::fprintf(stderr, "krvw-grab: %s\n", qPrintable(text));
    ++g_faults;
}

template <size_t N>
void check(const QString& window, QWidget* root, QSize client, const Placement (&table)[N]) {
    if (root->size() != client)
        fault(QStringLiteral("%1: client area %2 x %3, expected %4 x %5")
                  .arg(window)
                  .arg(root->width())
                  .arg(root->height())
                  .arg(client.width())
                  .arg(client.height()));
    for (const Placement& p : table) {
        auto* widget = root->findChild<QWidget*>(QString::fromLatin1(p.name));
        if (widget == nullptr) {
            fault(QStringLiteral("%1: no control %2").arg(window, QString::fromLatin1(p.name)));
            continue;
        }
        const QRect g = widget->geometry();
        if (g.x() != p.x || g.y() != p.y || (p.width >= 0 && g.width() != p.width) ||
            (p.height >= 0 && g.height() != p.height))
            fault(QStringLiteral("%1: %2 at %3,%4 %5 x %6, expected %7,%8 %9 x %10")
                      .arg(window, QString::fromLatin1(p.name))
                      .arg(g.x())
                      .arg(g.y())
                      .arg(g.width())
                      .arg(g.height())
                      .arg(p.x)
                      .arg(p.y)
                      .arg(p.width)
                      .arg(p.height));
    }
}

// A caption and the control it names, in the same parent.
struct Caption {
    const char* label;
    const char* control;
};
const Caption kLegendas[] = {{"lblTracer", "cbTracer"},
                             {"lblPortaTCP", "editPortaTCP"},
                             {"lblPorta", "cbPortaSerial"},
                             {"lblBaudRate", "cbBaudRate"},
                             {"lblCaminho", "editCaminho"}};
constexpr int kFolgaLegenda = 2; // pixels clear of the control and of the parent's edge

// Every caption's text, as the font draws it, stands clear of its control and
// inside its parent: none runs under a list or off the dialog.
void checkCaptions(const QString& window, QWidget* root) {
    for (const Caption& c : kLegendas) {
        auto* label = root->findChild<QLabel*>(QString::fromLatin1(c.label));
        auto* control = root->findChild<QWidget*>(QString::fromLatin1(c.control));
        if (label == nullptr || control == nullptr)
            continue;
        const QRect text = QStyle::alignedRect(
            label->layoutDirection(), label->alignment(),
            QSize(label->fontMetrics().horizontalAdvance(label->text()), label->height()),
            label->geometry());
        if (text.left() < kFolgaLegenda || text.right() + kFolgaLegenda >= control->x())
            fault(QStringLiteral("%1: the text of %2 spans %3 to %4, %5 starts at %6")
                      .arg(window, QString::fromLatin1(c.label))
                      .arg(text.left())
                      .arg(text.right())
                      .arg(QString::fromLatin1(c.control))
                      .arg(control->x()));
    }
}

void save(QWidget* widget, const QString& path) {
    if (!widget->grab().save(path, "PNG"))
        fault(QStringLiteral("cannot write %1").arg(path));
}

void showFrame(TformPrincipal& window, const char* labelFile) {
    std::ifstream in(labelFile, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto record = std::make_unique<struct_tracedata>();
    parseTraceLabels(*record, text.c_str());
    computeGeometry(*record);
    auto bmp = std::make_unique<unsigned char[]>(kFrameImageCapacity);
    int size = 0;
    if (renderFrameImage(*record, bmp.get(), size) == 0)
        window.mostrarImagem(bmp.get(), size);
}

// Icons from 16 pixels (the smallest a desktop shows) to 1024 (the largest hicolor size).
constexpr int kIconMin = 16;
constexpr int kIconMax = 1024;

int writeIcon(const char* sizeText, const char* path) {
    int size = 0;
    const char* end = sizeText + std::strlen(sizeText);
    const auto parsed = std::from_chars(sizeText, end, size);
    if (parsed.ec != std::errc() || parsed.ptr != end || size < kIconMin || size > kIconMax) {
        std::fprintf(stderr, "krvw-grab: icon size %s is not a number from %d to %d\n", sizeText,
                     kIconMin, kIconMax);
        return 2;
    }
    const QString file = QString::fromLocal8Bit(path);
    QDir().mkpath(QFileInfo(file).absolutePath());
    if (!desenharIcone(size).save(file, "PNG")) {
        std::fprintf(stderr, "krvw-grab: cannot write %s\n", path);
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const bool icon = argc == 4 && std::strcmp(argv[1], "--icon") == 0;
    if (argc < 2 || (!icon && std::strcmp(argv[1], "--icon") == 0)) {
        std::fprintf(stderr, "usage: krvw-grab OUTDIR [LABELFILE]\n"
                             "       krvw-grab --icon SIZE OUT.png\n");
        return 2;
    }
    // Taken before Qt removes the arguments it knows from argv.
    const char* iconSize = icon ? argv[2] : nullptr;
    const char* iconPath = icon ? argv[3] : nullptr;
    QApplication app(argc, argv);
    if (icon)
        return writeIcon(iconSize, iconPath);
    setMessageFunctionForTesting(
        [](const QString& text) { std::fprintf(stderr, "message: %s\n", qPrintable(text)); });
    const QString out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(out);
    // A configuration of its own: the default one, written on first show.
    QTemporaryDir settings;
    QDir(settings.path()).mkdir(QStringLiteral("ini"));
    const std::string ini = (settings.path() + QStringLiteral("/ini/krvw.ini")).toStdString();

    TformPrincipal principal;
    principal.setCaminhoIni(ini);
    TformParametrosKRVW parametros(&principal);
    parametros.setCaminhoIni(ini);
    TformSobreKRVW sobre(&principal);
    principal.show();
    QTimer::singleShot(100, &app, [&] {
        if (argc > 2)
            showFrame(principal, argv[2]);
        check(QStringLiteral("main window"), principal.centralWidget(), QSize(531, 322),
              kLayoutPrincipal);
        save(&principal, out + QStringLiteral("/principal.png"));
        parametros.show();
        check(QStringLiteral("parameters"), &parametros, QSize(265, 245), kLayoutParametrosKRVW);
        checkCaptions(QStringLiteral("parameters"), &parametros);
        save(&parametros, out + QStringLiteral("/parametros.png"));
        parametros.hide();
        sobre.show();
        check(QStringLiteral("about"), &sobre, QSize(311, 74), kLayoutSobreKRVW);
        save(&sobre, out + QStringLiteral("/sobre.png"));
        QApplication::exit(g_faults == 0 ? 0 : 1);
    });
    return QApplication::exec();
}
