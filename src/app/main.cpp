// The tracer reader: one main window, its dialogs, and the message loop.
#include "Edicao.h"
#include "Encerramento.h"
#include "Mensagem.h"
#include "Parametroskrve.h"
#include "Parametroskrvw.h"
#include "Principal.h"
#include "Sobrekrve.h"
#include "Sobrekrvw.h"

#include <QApplication>
#include <QMessageBox>
#include <clocale>
#include <cstdio>
#include <exception>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // Qt switched the C library to the user's locale; numbers in files and on
    // the wires are written and read as in the "C" locale in any case.
    std::setlocale(LC_NUMERIC, "C");
    QApplication::setApplicationName(QString::fromUtf8(kTituloAplicacao));

    formPrincipal = new TformPrincipal;
    formParametrosKRVE = new TformParametrosKRVE(formPrincipal);
    formParametrosKRVW = new TformParametrosKRVW(formPrincipal);
    formSobreKRVE = new TformSobreKRVE(formPrincipal);
    formSobreKRVW = new TformSobreKRVW(formPrincipal);
    formPrincipal->show();
    // Boxes still waiting for an answer go with the program.
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &DescartarMensagens);
    if (!EncerrarNosSinais())
        std::perror("krvw: signals");

    int result = 0;
    try {
        result = app.exec();
    } catch (const std::exception& e) {
        QMessageBox::critical(nullptr, QApplication::applicationName(),
                              QString::fromUtf8(e.what()));
    } catch (...) {
        QMessageBox::critical(nullptr, QApplication::applicationName(), QString());
    }
    delete formPrincipal;
    return result;
}
