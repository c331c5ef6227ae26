// The about dialog: a small fixed window with the program's name, version and
// maker beside a picture. TformSobreBase builds it from each edition's layout;
// this system shows TformSobreKRVW, the ERP edition's TformSobreKRVE is
// created but never shown.
#pragma once

#include <QDialog>
#include <QImage>

// What differs between the editions' about dialogs (pixels inside the client area).
struct LayoutSobre {
    const char* nome;                 // the dialog's object name
    int largura, altura;              // client area
    const char* titulo;               // Label1 (UTF-8)
    int esquerdaVersao, topoVersao;   // Label3
    int esquerdaEmpresa, topoEmpresa; // Label2
};

class TformSobreBase : public QDialog {
    Q_OBJECT

protected:
    TformSobreBase(const LayoutSobre& layout, QWidget* parent);
};

class TformSobreKRVW : public TformSobreBase {
    Q_OBJECT

public:
    explicit TformSobreKRVW(QWidget* parent = nullptr);
};

// Created by main; null until then.
extern TformSobreKRVW* formSobreKRVW;

// The program's icon: the about dialog's picture on a square of `lado` pixels
// with a transparent outside (the desktop's menus and the install tree's PNGs).
QImage desenharIcone(int lado);
