// The parameters dialog: the only place where the user changes the
// configuration. It loads a working copy of its own from the file each time it
// is shown, and on a successful "Confirmar" writes the copy back and closes
// with QDialog::Accepted; the main window then applies the file.
//
// TformParametrosBase holds the logic both editions share; each edition's
// class gives it its layout (this system shows TformParametrosKRVW; the ERP
// edition's TformParametrosKRVE is created but never shown).
#pragma once

#include "Parametros.h"
#include "Serialports.h"

#include <QDialog>
#include <string>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QShowEvent;
class QToolButton;

// What differs between the editions' dialogs (pixels inside the client area).
struct LayoutParametros {
    const char* nome;       // the dialog's object name
    int largura, altura;    // client area
    int esquerda, topo;     // position on the screen
    int larguraTracer;      // cbTracer
    int larguraGrupo;       // GroupBox1
    int larguraNoGrupo;     // editPortaTCP, cbPortaSerial, cbBaudRate
    int esquerdaLblPorta;   // lblPorta, in the group
    int esquerdaConfirmar;  // btnConfirmar
    int esquerdaCancelar;   // btnCancelar
    const char* modeloRede; // the text of model 1 (UTF-8)
    bool caminhoEMensagem;  // with editCaminho and checkMsgSucesso
    Edicao edicao;          // which lines the file holds
};

class TformParametrosBase : public QDialog {
    Q_OBJECT

public:
    // The configuration file the dialog reads and writes.
    void setCaminhoIni(const std::string& path) { m_caminhoIni = path; }
    const std::string& caminhoIni() const { return m_caminhoIni; }

public slots:
    // Enables the port controls the selected model uses.
    void cbTracerChange();
    // Undo: shows the working copy again.
    void btnCancelarClick();
    // Checks the controls into the working copy, writes the file and closes.
    void btnConfirmarClick();

protected:
    TformParametrosBase(const LayoutParametros& layout, QWidget* parent);
    void showEvent(QShowEvent* event) override;

private:
    void FormShow();
    void criarControles();
    void criarGrupo();
    void definirOrdemTab();
    void listarPortas();
    bool confirmarSerial();
    bool confirmarTcp();
    bool confirmarCaminho(const std::string& caminho);

    const LayoutParametros m_layout;

    QLabel* lblTracer = nullptr;
    QComboBox* cbTracer = nullptr;
    QToolButton* btnConfirmar = nullptr;
    QToolButton* btnCancelar = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    QLabel* lblPortaTCP = nullptr;
    QLineEdit* editPortaTCP = nullptr;
    QLabel* lblPorta = nullptr;
    QComboBox* cbPortaSerial = nullptr;
    QLabel* lblBaudRate = nullptr;
    QComboBox* cbBaudRate = nullptr;
    QLabel* lblCaminho = nullptr;
    QLineEdit* editCaminho = nullptr;     // null in the ERP edition
    QCheckBox* checkMsgSucesso = nullptr; // null in the ERP edition

    std::string m_caminhoIni;
    struct_parametros m_parametros; // the working copy
    PortSlot m_portas[kPortListSlots] = {};
    int m_numeroPortas = 0;
};

class TformParametrosKRVW : public TformParametrosBase {
    Q_OBJECT

public:
    explicit TformParametrosKRVW(QWidget* parent = nullptr);
};

// Created by main; null until then.
extern TformParametrosKRVW* formParametrosKRVW;
