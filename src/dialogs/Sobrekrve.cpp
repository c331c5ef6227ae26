#include "Sobrekrve.h"

TformSobreKRVE* formSobreKRVE = nullptr;

namespace {

const LayoutSobre kLayoutKRVE = {
    "formSobreKRVE", 307, 74, "Leitor de Tracer do GIRA ERP", 175, 28, 155, 49,
};

} // namespace

TformSobreKRVE::TformSobreKRVE(QWidget* parent) : TformSobreBase(kLayoutKRVE, parent) {}
